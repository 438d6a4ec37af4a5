// The player's dialogs drawn with FLTK: "SETUP", "TEST", "ABOUT", "HDR1",
// "HDR2" and "SETTRK". Their behaviour lives in the *_logic files; these
// windows only carry it. Owner handles are accepted for the interfaces'
// sake; the windows do not use them.
#pragma once

#include <FL/Fl_Double_Window.H>

#include <cstdint>
#include <map>

#include "player/ui/dialogs/dialog_units.h"
#include "player/ui/dialogs/hddr_logic.h"

// Registers the dialog font (IPAPGothic for "ＭＳ Ｐゴシック") once.

// A dialog window sized in dialog units whose controls are found by id.
class DialogWindow : public Fl_Double_Window {
public:
  DialogWindow(int nWidthDlu, int nHeightDlu, const char *pszCaption);
  Fl_Widget *Item(int32_t nId) const;
  // A new control at a rectangle given in dialog units, found by nId (0: none).
  template <class W>
  W *Put(int32_t nId, int x, int y, int w, int h, const char *pszText = nullptr) {
    W *pWidget = new W(DluX(x), DluY(y), DluX(w), DluY(h), pszText);
    if (nId)
      aItems_[nId] = pWidget;
    return pWidget;
  }
  void End();          // ends the group and sets the font on every control
  int32_t nResult = 0; // a modal dialog's result
  int32_t bEnded = 0;  // set by the buttons that end a modal dialog
  void EndDialog(int32_t n);

private:
  std::map<int32_t, Fl_Widget *> aItems_;
};

// Shows a built dialog modally and returns its result; the window is deleted.
int32_t RunModal(DialogWindow *pDialog);

// "SETUP": built from the settings fields; the device list comes from pfnFillDevices.
DialogWindow *BuildSetupDialog(void (*pfnFillDevices)());
// Runs "SETUP"; 1 when confirmed (the fields written), 0 when cancelled.
int32_t RunSetupDialog(void *hwndOwner, void (*pfnFillDevices)());

// "TEST", modeless: the window, which is also hwndTest's value.
void *CreateSoundTestDialog(void *hwndOwner);
void DestroySoundTestDialog(void *hwndDialog);

// "ABOUT", modeless, over a 0x00RRGGBB picture of nWidth × nHeight pixels
// (copied); it closes itself on a click and then clears hwndAbout.
void *CreateAboutDialog(void *hwndOwner, const uint32_t *pPixels, int nWidth, int nHeight);

// "HDR1": the chosen recording rate, 0 for cancel.
DialogWindow *BuildHdr1Dialog();
int32_t RunHdr1Dialog(void *hwndOwner);

// "HDR2" (caption "HDDR 録音中"): time, measure and beat fields and "中断".
DialogWindow *BuildHdr2Dialog();

// "SETTRK": the loaded song's header values and track names.
DialogWindow *BuildTrackInfoDialog();
void RunTrackInfoDialog(void *hwndOwner);

// A recording's windows: the save-file chooser and "HDR2".
class FltkHddrUi : public HddrUi {
public:
  int32_t AskSaveName(void *hwndOwner, std::string *psPath) override;
  void OpenProgress(void *hwndOwner) override;
  void SetProgressField(int32_t nId, const char *pszText) override;
  void CloseProgress() override;

private:
  DialogWindow *pProgress_ = nullptr;
};

struct DialogCommandHooks;
// Fills the hooks this library can serve: HDR1 and the recording with
// FltkHddrUi, SETUP over pfnFillDevices and SaveSettings, the sound test and
// SETTRK. The window adds the About box (its picture) and the screen slide.
void SetFltkDialogHooks(DialogCommandHooks *pHooks, void (*pfnFillDevices)());
