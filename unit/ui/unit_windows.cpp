// The unit's windows in FLTK: "MIDI", "SETUP", "ENTRY", "LOADING" and the
// about box. FLTK is the host's shared library, so these windows live in the
// host's event loop: a modal dialog's Fl::wait also dispatches the host's
// queued messages (playback goes on), and nothing here waits while a sound
// set loads (no message reaches the unit until the set is whole).
// First: X11, which FLTK includes, defines None, a name the message box uses.
#include "platform/fltk_message_box.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dialog_units.h"
#include "platform/fltk_fonts.h"
#include "unit/unit_ui.h"

namespace vokra {
namespace {

constexpr int32_t kIdOk = 1;
constexpr int kComboHeight = 13; // the closed combo box; the template's 120 is its list

void SetFont(Fl_Widget *w) {
  w->labelfont(FltkPGothicFont());
  w->labelsize(kDialogFontPixels);
  if (Fl_Input_Choice *pCombo = dynamic_cast<Fl_Input_Choice *>(w)) {
    pCombo->textfont(FltkPGothicFont());
    pCombo->textsize(kDialogFontPixels);
    pCombo->menubutton()->textfont(FltkPGothicFont());
    pCombo->menubutton()->textsize(kDialogFontPixels);
    return;
  }
  if (Fl_Text_Display *pText = dynamic_cast<Fl_Text_Display *>(w)) {
    pText->textfont(FltkPGothicFont());
    pText->textsize(kDialogFontPixels);
  }
  if (Fl_Group *pGroup = w->as_group())
    for (int i = 0; i < pGroup->children(); i++)
      SetFont(pGroup->child(i));
}

// A window sized in dialog units, placed over its owner (the host's window).
class UnitDialog : public Fl_Double_Window {
public:
  UnitDialog(int nWidthDlu, int nHeightDlu, const char *pszCaption)
      : Fl_Double_Window(DluX(nWidthDlu), DluY(nHeightDlu), pszCaption) {}
  template <class W> W *Put(int x, int y, int w, int h, const char *pszText = nullptr) {
    return new W(DluX(x), DluY(y), DluX(w), DluY(h), pszText);
  }
  Fl_Box *Label(int x, int y, int w, int h, const char *pszText) {
    Fl_Box *pBox = Put<Fl_Box>(x, y, w, h, pszText);
    pBox->align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_TOP);
    return pBox;
  }
  void Finish(void *hwndOwner) {
    end();
    for (int n = 0; n < children(); n++)
      SetFont(child(n));
    if (const Fl_Window *pOwner = static_cast<const Fl_Window *>(hwndOwner))
      position(pOwner->x() + (pOwner->w() - w()) / 2, pOwner->y() + (pOwner->h() - h()) / 2);
  }
  // A modal dialog's result: the button that ended it; closing the frame cancels.
  int32_t RunModal() {
    set_modal();
    show();
    while (shown() && !bEnded_)
      Fl::wait();
    return bEnded_ ? nResult_ : 0;
  }
  void EndDialog(int32_t n) {
    nResult_ = n;
    bEnded_ = 1;
    hide();
  }
  static void OnCancel(Fl_Widget *, void *pData) { static_cast<UnitDialog *>(pData)->EndDialog(0); }

private:
  int32_t nResult_ = 0;
  int32_t bEnded_ = 0;
};

// "MIDI": receive check boxes per channel and the final gain, heard as it moves.
class MidiDialog : public UnitDialog {
public:
  MidiDialog(UnitUiModel *pModel, void *hwndOwner)
      : UnitDialog(189, 54, "MIDI設定"), pModel_(pModel) {
    const uint32_t nMask = pModel->ReceiveMask();
    for (int c = 0; c < 16; c++) {
      asNumbers_[c] = std::to_string(c + 1);
      Put<Fl_Box>(27 + 10 * c, 7, 10, 8, asNumbers_[c].c_str());
      apCheck_[c] = Put<Fl_Check_Button>(27 + 10 * c, 16, 10, 12);
      apCheck_[c]->value((nMask >> c) & 1);
    }
    Label(2, 17, 20, 8, "受信");
    pGain_ = Put<Fl_Slider>(38, 28, 71, 25);
    pGain_->type(FL_HOR_NICE_SLIDER);
    pGain_->bounds(0, 127);
    pGain_->step(1);
    pGain_->value(pModel->FinalGain());
    pGain_->when(FL_WHEN_CHANGED);
    pGain_->callback(OnGain, this);
    Label(2, 38, 34, 8, "Final Gain");
    Fl_Button *pOk = Put<Fl_Button>(113, 29, 32, 20, "設定");
    pOk->shortcut(FL_Enter);
    pOk->callback(OnOk, this);
    Put<Fl_Button>(146, 29, 32, 20, "中断")->callback(OnCancel, this);
    callback(OnCancel, this);
    Finish(hwndOwner);
  }

private:
  static void OnGain(Fl_Widget *, void *pData) {
    MidiDialog *p = static_cast<MidiDialog *>(pData);
    p->pModel_->MoveFinalGain(static_cast<int32_t>(p->pGain_->value()));
  }
  static void OnOk(Fl_Widget *, void *pData) {
    MidiDialog *p = static_cast<MidiDialog *>(pData);
    uint32_t nMask = 0;
    for (int c = 0; c < 16; c++)
      if (p->apCheck_[c]->value())
        nMask |= 1u << c;
    p->pModel_->ConfirmMidi(nMask, static_cast<int32_t>(p->pGain_->value()));
    p->EndDialog(kIdOk);
  }

  UnitUiModel *pModel_;
  std::string asNumbers_[16]; // the labels' texts, which FLTK does not copy
  Fl_Check_Button *apCheck_[16];
  Fl_Slider *pGain_;
};

// "SETUP": the sound set's configuration files and the interpolation switch.
class SetupDialog : public UnitDialog {
public:
  SetupDialog(UnitUiModel *pModel, void *hwndOwner)
      : UnitDialog(138, 43, "音源設定"), pModel_(pModel), choice_(pModel->OpenSetup()) {
    Label(1, 3, 60, 8, "設定ファイル");
    pCombo_ = Put<Fl_Input_Choice>(1, 13, 95, kComboHeight);
    for (const std::string &s : choice_.asFiles) {
      // A placeholder first: add() would read '/' and '&' in the name as menu syntax.
      const int nItem = pCombo_->menubutton()->add("x");
      pCombo_->menubutton()->replace(nItem, s.c_str());
    }
    if (choice_.nSel >= 0)
      pCombo_->value(choice_.asFiles[static_cast<size_t>(choice_.nSel)].c_str());
    pOverSample_ = Put<Fl_Check_Button>(2, 30, 90, 10, "オーバーサンプリング補間");
    pOverSample_->value(choice_.bOverSample);
    Fl_Button *pOk = Put<Fl_Button>(106, 1, 32, 20, "設定");
    pOk->shortcut(FL_Enter);
    pOk->callback(OnOk, this);
    Put<Fl_Button>(106, 21, 32, 20, "中断")->callback(OnCancel, this);
    callback(OnCancel, this);
    Finish(hwndOwner);
  }

private:
  // The entry the edit field names; null when its text is none of them.
  const char *Selected() const {
    for (const std::string &s : choice_.asFiles)
      if (s == pCombo_->value())
        return s.c_str();
    return nullptr;
  }
  static void OnOk(Fl_Widget *, void *pData) {
    SetupDialog *p = static_cast<SetupDialog *>(pData);
    p->pModel_->ConfirmSetup(p->Selected(), p->pOverSample_->value());
    p->EndDialog(kIdOk);
  }

  UnitUiModel *pModel_;
  SetupChoice choice_;
  Fl_Input_Choice *pCombo_;
  Fl_Check_Button *pOverSample_;
};

// A modeless window that its own button only hides: the unit deletes it.
class ModelessDialog : public UnitDialog {
public:
  using UnitDialog::UnitDialog;
  void (*pfnClosed)(void *) = nullptr; // told when the user closes it
  void *pClosedData = nullptr;
  static void OnClose(Fl_Widget *, void *pData) {
    ModelessDialog *p = static_cast<ModelessDialog *>(pData);
    p->hide();
    if (p->pfnClosed)
      p->pfnClosed(p->pClosedData);
  }
};

class EntryDialog : public ModelessDialog {
public:
  explicit EntryDialog(void *hwndOwner) : ModelessDialog(70, 33, "データエントリー") {
    Label(2, 3, 66, 8, "設定項目はありません");
    Put<Fl_Button>(2, 17, 33, 13, "閉じる")->callback(OnClose, this);
    callback(OnClose, this);
    Finish(hwndOwner);
  }
};

class LoadingDialog : public ModelessDialog {
public:
  explicit LoadingDialog(void *hwndOwner) : ModelessDialog(290, 249, "Now loading ...") {
    Label(0, 5, 151, 8, "読み込んだ音色");
    Label(151, 5, 139, 8, "読み込めなかった音色");
    apList_[0] = Put<Fl_Text_Display>(0, 15, 151, 211);
    apList_[1] = Put<Fl_Text_Display>(151, 15, 139, 211);
    for (int n = 0; n < 2; n++) {
      apList_[n]->buffer(&aBuffer_[n]);
      apList_[n]->color(FL_BACKGROUND_COLOR);
    }
    Put<Fl_Button>(0, 227, 291, 22, "閉じる")->callback(OnClose, this);
    callback(OnClose, this);
    Finish(hwndOwner);
  }
  // The displays go first, while the buffers they watch are still there.
  ~LoadingDialog() override { clear(); }
  void Add(int32_t nList, const char *pszPath) {
    aBuffer_[nList].append(pszPath);
    aBuffer_[nList].append("\n");
  }
  void ShowEnds() {
    for (Fl_Text_Display *p : apList_)
      p->scroll(p->count_lines(0, p->buffer()->length(), true), 0);
  }

private:
  Fl_Text_Buffer aBuffer_[2];
  Fl_Text_Display *apList_[2];
};

class UnitWindows : public UnitUi {
public:
  explicit UnitWindows(UnitUiModel *pModel) : pModel_(pModel) {}
  ~UnitWindows() override { CloseAll(); }

  int32_t RunMidi(void *hwndOwner) override {
    DeleteHidden();
    MidiDialog dialog(pModel_, hwndOwner);
    return dialog.RunModal();
  }
  int32_t RunSetup(void *hwndOwner) override {
    DeleteHidden();
    SetupDialog dialog(pModel_, hwndOwner);
    return dialog.RunModal();
  }
  void *OpenEntry(void *hwndOwner) override {
    DeleteHidden();
    EntryDialog *p = new EntryDialog(hwndOwner);
    p->pfnClosed = OnEntryClosed;
    p->pClosedData = this;
    p->show();
    apOpen_.push_back(p);
    return p;
  }
  void CloseEntry(void *hwndEntry) override { Delete(static_cast<Fl_Window *>(hwndEntry)); }

  void Begin() override {
    DeleteHidden();
    if (pLoading_ == nullptr) {
      pLoading_ = new LoadingDialog(pModel_->HostWindow());
      pLoading_->pfnClosed = OnLoadingClosed;
      pLoading_->pClosedData = this;
      apOpen_.push_back(pLoading_);
      pLoading_->show();
    }
  }
  void AddLoaded(const char *pszPath) override {
    if (pLoading_)
      pLoading_->Add(0, pszPath);
  }
  void AddFailed(const char *pszPath) override {
    if (pLoading_)
      pLoading_->Add(1, pszPath);
  }
  void End(int32_t bAnyFailed) override {
    if (pLoading_ == nullptr)
      return;
    if (!bAnyFailed) {
      Delete(pLoading_);
      return;
    }
    pLoading_->ShowEnds();
    pLoading_->redraw();
  }

  // The host's own message box, so the unit's box looks like the others.
  void ShowCopyright(void *hwndOwner) override {
    FltkMessageSink box;
    box.Show(hwndOwner, pModel_->CopyrightText().c_str(), "VOKRA SOUND GENERATOR",
             MsgIcon::Information);
  }
  void CloseAll() override {
    for (Fl_Window *p : apOpen_)
      delete p;
    apOpen_.clear();
    pLoading_ = nullptr;
  }

private:
  static void OnEntryClosed(void *pData) {
    static_cast<UnitWindows *>(pData)->pModel_->EntryClosed();
  }
  static void OnLoadingClosed(void *pData) {
    static_cast<UnitWindows *>(pData)->pLoading_ = nullptr;
  }
  void Delete(Fl_Window *p) {
    for (size_t i = 0; i < apOpen_.size(); i++)
      if (apOpen_[i] == p) {
        apOpen_.erase(apOpen_.begin() + static_cast<std::ptrdiff_t>(i));
        if (p == pLoading_)
          pLoading_ = nullptr;
        delete p;
        return;
      }
  }
  // Windows their own buttons hid: deleted here, outside their callbacks.
  void DeleteHidden() {
    for (size_t i = apOpen_.size(); i-- > 0;)
      if (!apOpen_[i]->shown())
        Delete(apOpen_[i]);
  }

  UnitUiModel *pModel_;
  LoadingDialog *pLoading_ = nullptr; // the loading window while it is open
  std::vector<Fl_Window *> apOpen_;   // every modeless window, shown or hidden
};

} // namespace
} // namespace vokra

extern "C" __attribute__((visibility("default"))) vokra::UnitUi *
CreateUnitUi(vokra::UnitUiModel *pModel) {
  return new vokra::UnitWindows(pModel);
}
