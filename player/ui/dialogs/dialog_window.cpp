// The dialogs' common window: size in dialog units, the font, modal runs.
#include <FL/Fl.H>
#include <FL/Fl_Input_.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Text_Display.H>

#include "player/ui/dialogs/fltk_dialogs.h"
#include "player/ui/dialogs/fltk_widgets.h"

DialogWindow::DialogWindow(int nWidthDlu, int nHeightDlu, const char *pszCaption)
    : Fl_Double_Window(DluX(nWidthDlu), DluY(nHeightDlu), pszCaption) {}

Fl_Widget *DialogWindow::Item(int32_t nId) const {
  auto it = aItems_.find(nId);
  return it == aItems_.end() ? nullptr : it->second;
}

static void SetFont(Fl_Widget *w) {
  w->labelfont(FltkPGothicFont());
  w->labelsize(kDialogFontPixels);
  if (Fl_Input_ *pInput = dynamic_cast<Fl_Input_ *>(w)) {
    pInput->textfont(FltkPGothicFont());
    pInput->textsize(kDialogFontPixels);
  } else if (Fl_Input_Choice *pCombo = dynamic_cast<Fl_Input_Choice *>(w)) {
    pCombo->textfont(FltkPGothicFont());
    pCombo->textsize(kDialogFontPixels);
    pCombo->menubutton()->textfont(FltkPGothicFont());
    pCombo->menubutton()->textsize(kDialogFontPixels);
    return; // its own input and button are set through it
  } else if (Fl_Text_Display *pText = dynamic_cast<Fl_Text_Display *>(w)) {
    pText->textfont(FltkPGothicFont());
    pText->textsize(kDialogFontPixels);
  }
  if (Fl_Group *pGroup = w->as_group())
    for (int i = 0; i < pGroup->children(); i++)
      SetFont(pGroup->child(i));
}

void DialogWindow::End() {
  end();
  for (int n = 0; n < children(); n++)
    SetFont(child(n));
}

void DialogWindow::EndDialog(int32_t n) {
  nResult = n;
  bEnded = 1;
  hide();
}

int32_t RunModal(DialogWindow *pDialog) {
  pDialog->set_modal();
  pDialog->show();
  while (pDialog->shown() && !pDialog->bEnded)
    Fl::wait();
  const int32_t nResult = pDialog->bEnded ? pDialog->nResult : 0; // closed by the frame: cancel
  delete pDialog;
  return nResult;
}

ComboBox::ComboBox(int x, int y, int w, int h, const char *pszLabel)
    : Fl_Input_Choice(x, y, w, h, pszLabel), pfnMenuChosen_(menubutton()->callback()),
      pMenuData_(menubutton()->user_data()) {
  menubutton()->callback(OnMenu, this);
}

// A text chosen from the list is shown from its start, as Select shows it; a
// long one would otherwise stay scrolled to its end.
void ComboBox::OnMenu(Fl_Widget *pMenu, void *pData) {
  ComboBox *p = static_cast<ComboBox *>(pData);
  p->pfnMenuChosen_(pMenu, p->pMenuData_);
  p->input()->position(0);
}

int32_t ComboBox::Sel() {
  const char *pszText = input()->value();
  for (size_t i = 0; i < asTexts_.size(); i++)
    if (asTexts_[i] == pszText)
      return static_cast<int32_t>(i);
  return -1;
}

void ComboBox::Select(int32_t n) {
  input()->value(n >= 0 && n < static_cast<int32_t>(asTexts_.size()) ? asTexts_[n].c_str() : "");
  input()->position(0); // show a long text from its start
}

void ComboBox::AddText(const char *pszText) {
  asTexts_.push_back(pszText);
  // A placeholder first: add() would read '/' and '&' in the text as menu syntax.
  const int i = menubutton()->add("x");
  menubutton()->replace(i, pszText);
}

Fl_Box *PutLabel(DialogWindow *pDialog, int x, int y, int w, int h, const char *pszText) {
  Fl_Box *pBox = pDialog->Put<Fl_Box>(0, x, y, w, h, pszText);
  // Not clipped: IPAPGothic's Latin letters run a little wider than the
  // rectangles, which were measured for the original font.
  pBox->align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_TOP);
  return pBox;
}

void SetEditReadOnly(Fl_Input_ *pEdit, int32_t bReadOnly) {
  pEdit->readonly(bReadOnly ? 1 : 0);
  pEdit->color(bReadOnly ? FL_BACKGROUND_COLOR : FL_BACKGROUND2_COLOR);
  pEdit->redraw();
}
