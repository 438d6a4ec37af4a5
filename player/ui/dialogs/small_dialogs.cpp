// "TEST", "ABOUT", "HDR1", "HDR2" and "SETTRK"; their logic is in the
// sound_test, hddr and track_info logic files.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/fl_draw.H>

#include <vector>

#include "platform/file_dialog.h"
#include "player/app/settings_store.h"
#include "player/output/playback.h"
#include "player/state/engine_state.h"
#include "player/ui/dialogs/dialog_commands.h"
#include "player/ui/dialogs/fltk_dialogs.h"
#include "player/ui/dialogs/fltk_widgets.h"
#include "player/ui/dialogs/setup_logic.h"
#include "player/ui/dialogs/sound_test_logic.h"
#include "player/ui/dialogs/track_info_logic.h"

namespace {

constexpr int kComboHeight = 13; // the closed combo box; the template's 120 is its list

// Sound test: modeless; hwndTest while open.
class SoundTestDialog : public DialogWindow {
public:
  SoundTestDialog() : DialogWindow(88, 83, "サウンドテスト") {
    PutLabel(this, 3, 6, 56, 8, "Program #(1-128)");
    PutLabel(this, 3, 20, 46, 8, "Bank #(1-128)");
    PutLabel(this, 3, 34, 42, 8, "Note #(1-128)");
    PutLabel(this, 3, 47, 43, 8, "MIDI Ch(1-16)");
    apEdits_[0] = Put<Fl_Int_Input>(kIdTestProgram, 63, 4, 20, 12);
    apEdits_[1] = Put<Fl_Int_Input>(kIdTestBank, 63, 18, 20, 12);
    apEdits_[2] = Put<Fl_Int_Input>(kIdTestNote, 63, 32, 20, 12);
    apEdits_[3] = Put<Fl_Int_Input>(kIdTestChannel, 63, 46, 20, 12);
    Fl_Button *pClose = Put<Fl_Button>(1, 0, 63, 44, 20, "閉じる");
    pClose->shortcut(FL_Enter); // the default button
    pClose->callback(OnClose, this);
    Put<Fl_Button>(kIdTestPlay, 45, 63, 43, 20, "再生")->callback(OnPlay, this);
    End();
    callback(OnClose, this);
    SoundTestFields fields;
    InitSoundTest(&fields);
    Show(fields);
  }

private:
  void Show(const SoundTestFields &f) {
    apEdits_[0]->value(f.sProgram.c_str());
    apEdits_[1]->value(f.sBank.c_str());
    apEdits_[2]->value(f.sNote.c_str());
    apEdits_[3]->value(f.sChannel.c_str());
  }
  static void OnPlay(Fl_Widget *, void *pData) {
    SoundTestDialog *p = static_cast<SoundTestDialog *>(pData);
    SoundTestFields f{p->apEdits_[0]->value(), p->apEdits_[1]->value(), p->apEdits_[2]->value(),
                      p->apEdits_[3]->value()};
    SoundTestNote note;
    if (!PressSoundTestPlay(&f, &note))
      return;
    StartSoundTest(note.nProgram, note.nBank, note.nKey, note.nChannel);
    p->Show(f);
  }
  static void OnClose(Fl_Widget *, void *pData) { DestroySoundTestDialog(pData); }

  Fl_Int_Input *apEdits_[4];
};

// About: the picture and the shadowed version line; a click closes it.
class AboutBox : public DialogWindow {
public:
  AboutBox(const uint32_t *pPixels, int nWidth, int nHeight)
      : DialogWindow(131, 153, "Torqa について・・・"),
        abRgb_(static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight) * 3) {
    for (size_t n = 0; n < abRgb_.size() / 3; n++) {
      abRgb_[n * 3] = static_cast<uint8_t>(pPixels[n] >> 16);
      abRgb_[n * 3 + 1] = static_cast<uint8_t>(pPixels[n] >> 8);
      abRgb_[n * 3 + 2] = static_cast<uint8_t>(pPixels[n]);
    }
    pPicture_ = new Fl_RGB_Image(abRgb_.data(), nWidth, nHeight, 3);
    End();
    callback(OnClose, this);
  }
  ~AboutBox() override { delete pPicture_; }

  void draw() override {
    Fl_Double_Window::draw();
    pPicture_->draw(0, 0);
    // DrawText with no flags: one line from the rectangle's top left, clipped.
    fl_font(FltkPGothicFont(), kDialogFontPixels);
    fl_push_clip(0, 0, w(), h());
    fl_color(FL_BLACK);
    fl_draw(kVersion, 51, 211 + fl_height() - fl_descent());
    fl_color(fl_rgb_color(0xDC, 0xDC, 0xFF));
    fl_draw(kVersion, 50, 210 + fl_height() - fl_descent());
    fl_pop_clip();
  }
  int handle(int nEvent) override {
    if (nEvent == FL_PUSH)
      return 1; // so that the release comes here
    if (nEvent == FL_RELEASE) {
      OnClose(this, this);
      return 1;
    }
    return Fl_Double_Window::handle(nEvent);
  }

private:
  static constexpr const char *kVersion = "Version 2.00 R2b";
  static void OnClose(Fl_Widget *, void *pData) {
    AboutBox *p = static_cast<AboutBox *>(pData);
    p->hide();
    Fl::delete_widget(p);
    hwndAbout = nullptr;
  }

  std::vector<uint8_t> abRgb_;
  Fl_RGB_Image *pPicture_;
};

void OnEndOk(Fl_Widget *, void *pData) {
  static_cast<DialogWindow *>(pData)->EndDialog(1);
}
void OnEndCancel(Fl_Widget *, void *pData) {
  static_cast<DialogWindow *>(pData)->EndDialog(0);
}

void OnHdr1Record(Fl_Widget *w, void *pData) {
  DialogWindow *p = static_cast<DialogWindow *>(pData);
  p->EndDialog(Hdr1Result(static_cast<ComboBox *>(p->Item(kIdHdr1Rate))->Sel(), 1));
  (void)w;
}

void OnHdr2Abort(Fl_Widget *, void *) {
  Hdr2AbortPressed();
}

} // namespace

void *CreateSoundTestDialog(void *) {
  SoundTestDialog *p = new SoundTestDialog;
  p->show();
  return p;
}

void DestroySoundTestDialog(void *hwndDialog) {
  DialogWindow *p = static_cast<DialogWindow *>(hwndDialog);
  p->hide();
  Fl::delete_widget(p);
  if (hwndTest == hwndDialog)
    hwndTest = nullptr;
}

void *CreateAboutDialog(void *, const uint32_t *pPixels, int nWidth, int nHeight) {
  AboutBox *p = new AboutBox(pPixels, nWidth, nHeight);
  p->show();
  return p;
}

DialogWindow *BuildHdr1Dialog() {
  DialogWindow *p = new DialogWindow(96, 63, "HDDR 設定");
  PutLabel(p, 0, 0, 65, 8, "サンプリングレート");
  ComboBox *pRate = p->Put<ComboBox>(kIdHdr1Rate, 1, 10, 95, kComboHeight);
  for (int32_t i = 0; i < kFixedRateEntries; i++)
    pRate->AddText(kRateTable[i].pszText);
  pRate->Select(Hdr1InitialSel(nPCMRate));
  p->Put<Fl_Button>(1, 1, 41, 50, 20, "録音")->callback(OnHdr1Record, p);
  p->Put<Fl_Button>(2, 51, 41, 45, 20, "中断")->callback(OnEndCancel, p);
  p->End();
  p->callback(OnEndCancel, p);
  return p;
}

int32_t RunHdr1Dialog(void *) {
  return RunModal(BuildHdr1Dialog());
}

// The progress window has no template of its own: HDR1's size and cancel
// button, one row per field.
DialogWindow *BuildHdr2Dialog() {
  DialogWindow *p = new DialogWindow(96, 63, "HDDR 録音中");
  PutLabel(p, 2, 4, 40, 8, "録音時間");
  PutLabel(p, 2, 16, 40, 8, "小節");
  PutLabel(p, 2, 28, 40, 8, "拍.ティック");
  p->Put<Fl_Output>(kIdHdr2Time, 44, 2, 50, 11);
  p->Put<Fl_Output>(kIdHdr2Measure, 44, 14, 50, 11);
  p->Put<Fl_Output>(kIdHdr2Beat, 44, 26, 50, 11);
  for (int32_t nId : {kIdHdr2Time, kIdHdr2Measure, kIdHdr2Beat})
    p->Item(nId)->color(FL_BACKGROUND_COLOR);
  p->Put<Fl_Button>(kIdHdr2Abort, 51, 41, 45, 20, "中断")->callback(OnHdr2Abort);
  p->End();
  p->callback(OnHdr2Abort); // closing the window aborts too
  return p;
}

DialogWindow *BuildTrackInfoDialog() {
  DialogWindow *p = new DialogWindow(233, 225, "デバッグに関する情報");
  Fl_Text_Display *pText = p->Put<Fl_Text_Display>(201, 23, 24, 129, 167);
  Fl_Text_Buffer *pBuffer = new Fl_Text_Buffer;
  std::string sText = TrackInfoText();
  std::string sShown;
  for (char ch : sText)
    if (ch != '\r')
      sShown += ch;
  pBuffer->text(sShown.c_str());
  pText->buffer(pBuffer);
  p->Put<Fl_Button>(1, 168, 14, 50, 14, "閉じる")->callback(OnEndOk, p);
  p->End();
  p->callback(OnEndOk, p);
  return p;
}

void RunTrackInfoDialog(void *) {
  DialogWindow *p = BuildTrackInfoDialog();
  Fl_Text_Buffer *pBuffer = static_cast<Fl_Text_Display *>(p->Item(201))->buffer();
  RunModal(p);
  delete pBuffer; // the display does not own it
}

// The platform's chooser, as the open command's: "*.wav" filters, the
// default extension, the folder checked and the overwrite prompt.
int32_t FltkHddrUi::AskSaveName(void *hwndOwner, std::string *psPath) {
  char szPath[260] = "";
  if (!ChooseFile(hwndOwner, kSaveWavRequest, szPath, sizeof szPath))
    return 0;
  *psPath = szPath;
  return 1;
}

void FltkHddrUi::OpenProgress(void *) {
  pProgress_ = BuildHdr2Dialog();
  pProgress_->show();
}

void FltkHddrUi::SetProgressField(int32_t nId, const char *pszText) {
  if (Fl_Output *pField = pProgress_ ? static_cast<Fl_Output *>(pProgress_->Item(nId)) : nullptr)
    pField->value(pszText);
  Fl::flush(); // the recorder's own pumping handles input between blocks
}

void FltkHddrUi::CloseProgress() {
  if (!pProgress_)
    return;
  pProgress_->hide();
  Fl::delete_widget(pProgress_);
  pProgress_ = nullptr;
}

namespace {
void (*pfnHookFillDevices)() = nullptr;
} // namespace

void SetFltkDialogHooks(DialogCommandHooks *pHooks, void (*pfnFillDevices)()) {
  pfnHookFillDevices = pfnFillDevices;
  pHooks->pfnRunHdr1 = RunHdr1Dialog;
  pHooks->pfnRecordWav = [](int32_t nRate, void *hwnd) {
    FltkHddrUi ui;
    return RecordWav(nRate, &ui, hwnd);
  };
  pHooks->pfnRunSetup = [](void *hwnd) { return RunSetupDialog(hwnd, pfnHookFillDevices); };
  pHooks->pfnCreateSoundTest = CreateSoundTestDialog;
  pHooks->pfnDestroySoundTest = DestroySoundTestDialog;
  pHooks->pfnRunTrackInfo = RunTrackInfoDialog;
  pHooks->pfnSaveSettings = SaveSettings;
}
