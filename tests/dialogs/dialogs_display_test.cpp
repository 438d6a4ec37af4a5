// The dialogs' windows under a display (Xvfb): captions, controls at their
// places in dialog units, the controls wired to the logic, and a screenshot
// of each (shots/*.png beside the test) for a person to look at.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/audio_devices.h"
#include "platform/file_dialog.h"
#include "platform/message_box.h"
#include "platform/registry.h"
#include "player/app/settings_store.h"
#include "player/output/playback.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "player/ui/dialogs/dialog_commands.h"
#include "player/ui/dialogs/fltk_dialogs.h"
#include "player/ui/dialogs/setup_logic.h"
#include "tools/smf/smf_writer.h"

// After the player's headers: X11's None macro would clash with MsgIcon::None.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Text_Display.H>
#include <FL/x.H>

namespace fs = std::filesystem;

namespace {

// The settings file of this test, fresh on every run.
const int kRegistrySet = [] {
  fs::remove(DIALOGS_SHOTS_DIR "/../settings.reg");
  return setenv("TORQA_REGISTRY", DIALOGS_SHOTS_DIR "/../settings.reg", 1);
}();

void TwoDevices() {
  const char *apszNames[] = {"Built-in Audio Analog Stereo", "USB ヘッドホン"};
  SetDeviceList(apszNames, 2);
}

// Shows the window, lets it draw, and saves it as shots/NAME.png.
void Shoot(Fl_Window *pWindow, const char *pszName) {
  pWindow->show();
  for (int i = 0; i < 20; i++)
    Fl::wait(0.02);
  Fl::flush();
  fs::create_directories(DIALOGS_SHOTS_DIR);
  const std::string sPath = std::string(DIALOGS_SHOTS_DIR "/") + pszName + ".png";
  const std::string sCommand =
      "import -window " + std::to_string(fl_xid(pWindow)) + " '" + sPath + "'";
  ASSERT_EQ(std::system(sCommand.c_str()), 0);
  EXPECT_GT(fs::file_size(sPath), 500u);
}

void ExpectAt(DialogWindow *p, int32_t nId, int x, int y, int w, int h) {
  Fl_Widget *pItem = p->Item(nId);
  ASSERT_NE(pItem, nullptr) << nId;
  EXPECT_EQ(pItem->x(), DluX(x)) << nId;
  EXPECT_EQ(pItem->y(), DluY(y)) << nId;
  EXPECT_EQ(pItem->w(), DluX(w)) << nId;
  EXPECT_EQ(pItem->h(), DluY(h)) << nId;
}

const char *Text(DialogWindow *p, int32_t nId) {
  Fl_Widget *w = p->Item(nId);
  if (Fl_Input_Choice *pCombo = dynamic_cast<Fl_Input_Choice *>(w))
    return pCombo->value();
  return static_cast<Fl_Input *>(w)->value();
}

class DialogsDisplay : public ::testing::Test {
protected:
  void SetUp() override {
    pPrevSink_ = SetMessageSink(&sink_);
    nPCMRate = 22050;
    n3DLength = 400;
    n3DENGIN = 1;
    dwProcessPriority = 0x20;
    bPowerSave1 = bLPF = 0;
    bUseEff1 = bUseEff3 = 1;
    nSelDevice = 0;
  }
  void TearDown() override { SetMessageSink(pPrevSink_); }
  CaptureMessageSink sink_;
  MessageSink *pPrevSink_ = nullptr;
};

} // namespace

TEST_F(DialogsDisplay, Setup) {
  DialogWindow *p = BuildSetupDialog(TwoDevices);
  EXPECT_STREQ(p->label(), "環境設定");
  EXPECT_EQ(p->w(), DluX(113));
  EXPECT_EQ(p->h(), DluY(209));
  ExpectAt(p, 1, 81, 1, 32, 20);
  ExpectAt(p, kIdSetupLpf, 4, 45, 85, 12);
  ExpectAt(p, kIdSetup3DDepth, 2, 73, 73, 15);
  ExpectAt(p, kIdSetupRateEdit, 81, 132, 31, 13);
  EXPECT_STREQ(Text(p, kIdSetupRate), "22.050[kHz](PC)");
  EXPECT_STREQ(Text(p, kIdSetupEngine), "Type2:Medium");
  EXPECT_STREQ(Text(p, kIdSetupDevice), "Built-in Audio Analog Stereo");
  EXPECT_STREQ(Text(p, kIdSetupPriority), " 0:一般の優先度");
  Shoot(p, "setup");
  delete p;
}

// Choosing the user rate through the combo's menu makes the edit writable; the
// confirm button writes what the controls hold.
TEST_F(DialogsDisplay, SetupControlsReachTheFields) {
  DialogWindow *p = BuildSetupDialog(TwoDevices);
  Fl_Input_Choice *pRate = static_cast<Fl_Input_Choice *>(p->Item(kIdSetupRate));
  Fl_Input *pEdit = static_cast<Fl_Input *>(p->Item(kIdSetupRateEdit));
  EXPECT_TRUE(pEdit->readonly());
  pRate->value(kUserRateIndex);
  pRate->do_callback();
  EXPECT_FALSE(pEdit->readonly());
  EXPECT_STREQ(pEdit->value(), "22050");
  pEdit->value("100000");
  static_cast<Fl_Check_Button *>(p->Item(kIdSetupLpf))->value(1);
  p->Item(1)->do_callback();
  EXPECT_TRUE(p->bEnded);
  EXPECT_EQ(p->nResult, 1);
  EXPECT_EQ(nPCMRate, 96000);
  EXPECT_EQ(bLPF, 1);
  EXPECT_EQ(n3DLength, 400);
  EXPECT_EQ(n3DENGIN, 1);
  EXPECT_EQ(nSelDevice, 0);
  delete p;
}

// A key typed into the rate combo leaves no list entry selected: the edit
// turns read-only and confirming stores 33075.
TEST_F(DialogsDisplay, SetupTextTypedIntoTheRateCombo) {
  nPCMRate = 12345;
  DialogWindow *p = BuildSetupDialog(TwoDevices);
  p->show();
  Fl_Input_Choice *pRate = static_cast<Fl_Input_Choice *>(p->Item(kIdSetupRate));
  Fl_Input *pEdit = static_cast<Fl_Input *>(p->Item(kIdSetupRateEdit));
  EXPECT_FALSE(pEdit->readonly());
  pRate->input()->take_focus();
  static char szKey[] = "7";
  Fl::e_keysym = '7';
  Fl::e_text = szKey;
  Fl::e_length = 1;
  Fl::handle(FL_KEYBOARD, p);
  EXPECT_STRNE(pRate->value(), "USER:5200～96000");
  EXPECT_TRUE(pEdit->readonly());
  p->Item(1)->do_callback();
  EXPECT_EQ(nPCMRate, 33075);
  delete p;
}

TEST_F(DialogsDisplay, SoundTest) {
  DialogWindow *p = static_cast<DialogWindow *>(CreateSoundTestDialog(nullptr));
  hwndTest = p;
  EXPECT_STREQ(p->label(), "サウンドテスト");
  EXPECT_EQ(p->w(), DluX(88));
  ExpectAt(p, 204, 63, 46, 20, 12);
  ExpectAt(p, 206, 45, 63, 43, 20);
  EXPECT_STREQ(Text(p, 203), "60");
  bOutputOpen = 1; // "再生" is ignored while the device is open
  p->Item(206)->do_callback();
  EXPECT_STREQ(Text(p, 201), "1");
  bOutputOpen = 0;
  Shoot(p, "test");
  p->Item(1)->do_callback(); // "閉じる"
  EXPECT_EQ(hwndTest, nullptr);
  Fl::wait(0.05); // the deferred delete
}

TEST_F(DialogsDisplay, About) {
  // A stand-in picture: a vertical gradient from blue to black.
  std::vector<uint32_t> anPixels(227 * 227);
  for (int y = 0; y < 227; y++)
    for (int x = 0; x < 227; x++)
      anPixels[static_cast<size_t>(y * 227 + x)] =
          static_cast<uint32_t>(0x20 + (227 - y) * 200 / 227);
  DialogWindow *p =
      static_cast<DialogWindow *>(CreateAboutDialog(nullptr, anPixels.data(), 227, 227));
  hwndAbout = p;
  EXPECT_STREQ(p->label(), "Torqa について・・・");
  EXPECT_GE(p->w(), 227); // the picture fits
  EXPECT_GE(p->h(), 227);
  Shoot(p, "about");
  p->handle(FL_RELEASE); // a click closes it
  EXPECT_EQ(hwndAbout, nullptr);
  Fl::wait(0.05);
}

TEST_F(DialogsDisplay, Hdr1PreselectsForAnUnlistedRate) {
  nPCMRate = 12345;
  DialogWindow *p = BuildHdr1Dialog();
  EXPECT_STREQ(p->label(), "HDDR 設定");
  ExpectAt(p, 231, 1, 10, 95, 13);
  ExpectAt(p, 2, 51, 41, 45, 20);
  EXPECT_STREQ(Text(p, 231), "33.075[kHz](PC)");
  Shoot(p, "hdr1");
  p->Item(1)->do_callback(); // "録音"
  EXPECT_EQ(p->nResult, 33075);
  delete p;
}

TEST_F(DialogsDisplay, Hdr2AbortClearsRecording) {
  DialogWindow *p = BuildHdr2Dialog();
  static_cast<Fl_Input *>(p->Item(201))->value("    4.64[Sec]");
  static_cast<Fl_Input *>(p->Item(202))->value("3");
  static_cast<Fl_Input *>(p->Item(203))->value("2.0120");
  Shoot(p, "hdr2");
  bRecording = 1;
  p->Item(2)->do_callback(); // "中断"
  EXPECT_EQ(bRecording, 0);
  delete p;
}

// The recording's file name comes from the same chooser as the open command's,
// asked for a WAV name with the overwrite prompt.
TEST_F(DialogsDisplay, SaveNameComesFromTheWavRequest) {
  PresetFileDialog preset;
  preset.sAnswer = "/tmp/song";
  FileDialog *pPrevious = SetFileDialog(&preset);
  FltkHddrUi ui;
  std::string sPath;
  EXPECT_EQ(ui.AskSaveName(nullptr, &sPath), 1);
  SetFileDialog(pPrevious);
  EXPECT_EQ(sPath, "/tmp/song.wav");
  EXPECT_EQ(preset.pLastRequest, &kSaveWavRequest);
}

TEST_F(DialogsDisplay, TrackInfo) {
  smfw::File file(1, 480);
  file.AddTrack().TrackName(0, "\x83\x73\x83\x41\x83\x6D").EndOfTrack(); // ピアノ in Shift-JIS
  file.AddTrack().TrackName(0, "Strings").EndOfTrack();
  const std::vector<uint8_t> abSong = file.Build();
  ASSERT_EQ(LoadSmfBytes(abSong.data(), static_cast<int32_t>(abSong.size())), 1);
  DialogWindow *p = BuildTrackInfoDialog();
  EXPECT_STREQ(p->label(), "デバッグに関する情報");
  ExpectAt(p, 201, 23, 24, 129, 167);
  ExpectAt(p, 1, 168, 14, 50, 14);
  Fl_Text_Display *pText = static_cast<Fl_Text_Display *>(p->Item(201));
  char *pszText = pText->buffer()->text();
  EXPECT_STREQ(pszText, "SMF Format 1 らしい\n2 トラック有ります\nデルタタイムは 480 \n"
                        "000 : ピアノ\n001 : Strings\n");
  free(pszText);
  Shoot(p, "settrk");
  Fl_Text_Buffer *pBuffer = pText->buffer();
  delete p;
  delete pBuffer;
  FreeSong();
}

namespace {

int32_t nRecordedRate = 0;

// Once the modal dialog is up, ticks the band filter box where there is one
// and presses button nId, as a user would.
void PressLater(int32_t nId) {
  Fl::add_timeout(
      0.2,
      [](void *pData) {
        DialogWindow *p = dynamic_cast<DialogWindow *>(Fl::first_window());
        ASSERT_NE(p, nullptr);
        if (Fl_Check_Button *pLpf = dynamic_cast<Fl_Check_Button *>(p->Item(kIdSetupLpf)))
          pLpf->value(1);
        p->Item(static_cast<int32_t>(reinterpret_cast<intptr_t>(pData)))->do_callback();
      },
      reinterpret_cast<void *>(static_cast<intptr_t>(nId)));
}

DialogCommandHooks WindowHooks() {
  DialogCommandHooks hooks{};
  SetFltkDialogHooks(&hooks, TwoDevices);
  hooks.pfnRecordWav = [](int32_t nRate, void *) {
    nRecordedRate = nRate;
    return int32_t{1};
  };
  return hooks;
}

} // namespace

// The band filter flag as the settings file holds it, -1 when absent.
int32_t SavedLpf() {
  RegKey *pKey = RegOpenKey(kSettingsKey);
  uint32_t nType = 0, nValue = 0, nSize = sizeof nValue;
  const int32_t bFound =
      pKey && RegQueryValue(pKey, "bLPF", &nType, reinterpret_cast<uint8_t *>(&nValue), &nSize);
  if (pKey)
    RegCloseKey(pKey);
  return bFound ? static_cast<int32_t>(nValue) : -1;
}

TEST_F(DialogsDisplay, SetupCommandSavesOnlyWhenConfirmed) {
  CreateSettingsKey(); // the key with its markers only
  PressLater(2);       // "中断", with the box ticked
  CmdSetup(nullptr, WindowHooks());
  EXPECT_EQ(bLPF, 0);
  EXPECT_EQ(SavedLpf(), -1);
  PressLater(1); // "設定"
  CmdSetup(nullptr, WindowHooks());
  EXPECT_EQ(bLPF, 1);
  EXPECT_EQ(SavedLpf(), 1);
}

TEST_F(DialogsDisplay, RecordCommandTakesTheRateFromHdr1) {
  smfw::File file(0, 480);
  file.AddTrack().EndOfTrack();
  const std::vector<uint8_t> abSong = file.Build();
  ASSERT_EQ(LoadSmfBytes(abSong.data(), static_cast<int32_t>(abSong.size())), 1);
  nPCMRate = 44100;
  nRecordedRate = 0;
  PressLater(1); // "録音"
  CmdRecord(nullptr, WindowHooks());
  EXPECT_EQ(nRecordedRate, 44100);
  EXPECT_EQ(bRecording, 0);
  FreeSong();
}
