// The controls the dialogs share: the drop-down combo box and labels.
#pragma once

#include <FL/Fl_Box.H>
#include <FL/Fl_Input_.H>
#include <FL/Fl_Input_Choice.H>

#include <string>
#include <vector>

#include "platform/fltk_fonts.h"
#include "player/ui/dialogs/fltk_dialogs.h"

// An editable drop-down list. Its selection is the entry whose text the edit
// holds, -1 when the text was typed (or the list is empty), as the system's
// combo box reports it.
class ComboBox : public Fl_Input_Choice {
public:
  ComboBox(int x, int y, int w, int h, const char *pszLabel = nullptr);
  int32_t Sel();
  void Select(int32_t n);
  void AddText(const char *pszText);

private:
  static void OnMenu(Fl_Widget *pMenu, void *pData);
  std::vector<std::string> asTexts_;
  Fl_Callback *pfnMenuChosen_; // Fl_Input_Choice's own menu callback
  void *pMenuData_;
};

// A static text, left and top aligned in its rectangle (dialog units).
Fl_Box *PutLabel(DialogWindow *pDialog, int x, int y, int w, int h, const char *pszText);
// Read-only edits are drawn on the dialog's colour, as the system draws them.
void SetEditReadOnly(Fl_Input_ *pEdit, int32_t bReadOnly);
