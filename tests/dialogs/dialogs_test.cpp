// The dialogs' behaviour without a display: Setup's rates, priority, flags and
// device list, the sound test's stepping, the HDDR rate choice, file name and
// progress, the track information text, and the commands' busy rules.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/audio_devices.h"
#include "platform/message_box.h"
#include "player/output/playback.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "player/ui/dialogs/dialog_commands.h"
#include "player/ui/dialogs/hddr_logic.h"
#include "player/ui/dialogs/setup_logic.h"
#include "player/ui/dialogs/sound_test_logic.h"
#include "player/ui/dialogs/track_info_logic.h"
#include "support/fake_wave_out.h"
#include "support/temp_dir.h"
#include "tools/smf/smf_writer.h"

namespace fs = std::filesystem;

namespace {

void TwoDevices() {
  const char *apszNames[] = {"Speakers", "Headphones"};
  SetDeviceList(apszNames, 2);
}
void NoDevices() {
  SetDeviceList(nullptr, 0);
}

uint32_t dwApplied = 0;
int32_t RecordPriority(uint32_t dwClass) {
  dwApplied = dwClass;
  return 1;
}

// Settings fields, device list and sound device as a first run has them.
class SetupTest : public ::testing::Test {
protected:
  void SetUp() override {
    nPCMRate = 22050;
    n3DLength = 0;
    n3DENGIN = 0;
    dwProcessPriority = 0x20;
    bPowerSave1 = bUseEff1 = bUseEff3 = bLPF = 0;
    nSelDevice = 0;
    dwApplied = 0;
    pPrevDriver_ = SetWaveOutDriver(&driver_);
    pPrevSink_ = SetMessageSink(&sink_);
  }
  void TearDown() override {
    SetWaveOutDriver(pPrevDriver_);
    SetMessageSink(pPrevSink_);
  }
  SetupState Open(void (*pfnFill)() = TwoDevices) {
    SetupState s;
    InitSetup(&s, pfnFill);
    return s;
  }
  FakeWaveOutDriver driver_;
  WaveOutDriver *pPrevDriver_ = nullptr;
  CaptureMessageSink sink_;
  MessageSink *pPrevSink_ = nullptr;
};

} // namespace

TEST_F(SetupTest, UnlistedRateOpensAsWritableUserRateAndIsKept) {
  nPCMRate = 12345;
  SetupState s = Open();
  EXPECT_EQ(s.nRateSel, kUserRateIndex);
  EXPECT_EQ(s.sRateEdit, "12345");
  EXPECT_TRUE(s.bRateEditWritable);
  ConfirmSetup(s, nullptr, RecordPriority);
  EXPECT_EQ(nPCMRate, 12345);
}

TEST_F(SetupTest, UserRateIsClamped) {
  SetupState s = Open();
  s.nRateSel = kUserRateIndex;
  s.sRateEdit = "100000";
  EXPECT_EQ(SetupChosenRate(s), 96000);
  s.sRateEdit = "abc";
  EXPECT_EQ(SetupChosenRate(s), 5200);
  s.sRateEdit = "-7";
  EXPECT_EQ(SetupChosenRate(s), 5200);
}

TEST_F(SetupTest, ChoosingAFixedRateShowsItReadOnly) {
  nPCMRate = 12345;
  SetupState s = Open();
  s.nRateSel = 7; // "44.100[kHz](CD)"
  SetupRateChanged(&s);
  EXPECT_FALSE(s.bRateEditWritable);
  EXPECT_EQ(s.sRateEdit, "44100");
  ConfirmSetup(s, nullptr, RecordPriority);
  EXPECT_EQ(nPCMRate, 44100);
}

TEST_F(SetupTest, TextTypedIntoTheRateComboGives33075) {
  SetupState s = Open();
  s.nRateSel = -1;
  SetupRateChanged(&s);
  EXPECT_FALSE(s.bRateEditWritable);
  ConfirmSetup(s, nullptr, RecordPriority);
  EXPECT_EQ(nPCMRate, 33075);
}

TEST_F(SetupTest, FlagsDepthAndEngineRoundTrip) {
  bUseEff1 = 1;
  bLPF = 1;
  n3DLength = 800;
  n3DENGIN = 2;
  SetupState s = Open();
  EXPECT_EQ(s.bPowerSave1 + 2 * s.bUseEff1 + 4 * s.bUseEff3 + 8 * s.bLPF, 2 + 8);
  EXPECT_EQ(s.n3DPos, 800);
  EXPECT_EQ(s.nEngineSel, 2);
  s.bPowerSave1 = 1;
  s.bLPF = 0;
  s.n3DPos = 1600;
  s.nEngineSel = -1; // typed text: the engine choice takes it as Type1
  ConfirmSetup(s, nullptr, RecordPriority);
  EXPECT_EQ(bPowerSave1 + 2 * bUseEff1 + 4 * bUseEff3 + 8 * bLPF, 1 + 2);
  EXPECT_EQ(n3DLength, 1600);
  EXPECT_EQ(n3DENGIN, -1);
}

TEST_F(SetupTest, PriorityIsAppliedOnConfirm) {
  dwProcessPriority = 0x40;
  SetupState s = Open();
  EXPECT_EQ(s.nPrioritySel, 0); // "-1:他のプロセス優先"
  s.nPrioritySel = 3;           // "+2:最優先"
  ConfirmSetup(s, nullptr, RecordPriority);
  EXPECT_EQ(dwProcessPriority, 0x100u);
  EXPECT_EQ(dwApplied, 0x100u);
  s.nPrioritySel = -1; // nothing selected: unchanged
  ConfirmSetup(s, nullptr, RecordPriority);
  EXPECT_EQ(dwProcessPriority, 0x100u);
}

TEST_F(SetupTest, DeviceListIsEnumeratedOnOpen) {
  NoDevices();
  nSelDevice = 1;
  SetupState s = Open(TwoDevices);
  ASSERT_EQ(s.asDevices.size(), 2u);
  EXPECT_EQ(s.asDevices[1], "Headphones");
  EXPECT_EQ(s.nDeviceSel, 1);
  EXPECT_TRUE(sink_.aShown.empty());
  ConfirmSetup(s, nullptr, RecordPriority);
  EXPECT_TRUE(sink_.aShown.empty()); // the fake device plays every rate
}

TEST_F(SetupTest, NoDeviceGivesEmptyListNoSelectionAndTheWarning) {
  driver_.nDevices = 0;
  SetupState s = Open(NoDevices);
  EXPECT_TRUE(s.asDevices.empty());
  EXPECT_EQ(s.nDeviceSel, -1);
  int hwndDlg = 0;
  ConfirmSetup(s, &hwndDlg, RecordPriority);
  EXPECT_EQ(nSelDevice, -1);
  ASSERT_EQ(sink_.aShown.size(), 1u);
  EXPECT_EQ(sink_.sCaption, "サウンドデバイスの問題");
  EXPECT_EQ(sink_.aShown[0].icon, MsgIcon::Warning);
  EXPECT_EQ(sink_.sText.rfind("指定された離散レートをサポートするPCMデバイスは、\r\n", 0), 0u);
}

TEST(SoundTest, DefaultsPlayProgram0Note60ThenStepTheProgram) {
  bOutputOpen = 0;
  SoundTestFields f;
  InitSoundTest(&f);
  SoundTestNote note;
  ASSERT_TRUE(PressSoundTestPlay(&f, &note));
  EXPECT_EQ(note.nProgram, 0);
  EXPECT_EQ(note.nBank, 0);
  EXPECT_EQ(note.nKey, 60);
  EXPECT_EQ(note.nChannel, 0);
  EXPECT_EQ(f.sProgram, "2");
  EXPECT_EQ(f.sNote, "60");
}

TEST(SoundTest, PercussionChannelStepsTheNote) {
  bOutputOpen = 0;
  SoundTestFields f{"5", "1", "35", "10"};
  SoundTestNote note;
  PressSoundTestPlay(&f, &note);
  PressSoundTestPlay(&f, &note);
  EXPECT_EQ(note.nKey, 36);
  EXPECT_EQ(note.nChannel, 9);
  EXPECT_EQ(f.sNote, "37");
  EXPECT_EQ(f.sProgram, "5");
}

TEST(SoundTest, Clamps) {
  bOutputOpen = 0;
  SoundTestFields f{"128", "999", "200", "17"};
  SoundTestNote note;
  PressSoundTestPlay(&f, &note);
  EXPECT_EQ(note.nProgram, 127);
  EXPECT_EQ(note.nBank, 127);
  EXPECT_EQ(note.nKey, 127); // the dialog's 128, inside the key range
  EXPECT_EQ(note.nChannel, 15);
  EXPECT_EQ(f.sProgram, "128");
  f = {"", "x", "0", "-3"}; // unreadable numbers are 0
  PressSoundTestPlay(&f, &note);
  EXPECT_EQ(note.nProgram, 0);
  EXPECT_EQ(note.nBank, 0);
  EXPECT_EQ(note.nKey, 1);
  EXPECT_EQ(note.nChannel, 0);
}

TEST(SoundTest, IgnoredWhileTheDeviceIsOpen) {
  bOutputOpen = 1;
  SoundTestFields f;
  InitSoundTest(&f);
  SoundTestNote note{};
  EXPECT_FALSE(PressSoundTestPlay(&f, &note));
  EXPECT_EQ(f.sProgram, "1");
  bOutputOpen = 0;
}

TEST(Hdr1, PreselectsTheRateOr33075) {
  EXPECT_EQ(Hdr1InitialSel(44100), 7);
  EXPECT_EQ(Hdr1InitialSel(12345), 6);
  EXPECT_EQ(Hdr1Result(6, 1), 33075);
  EXPECT_EQ(Hdr1Result(10, 1), 96000);
  EXPECT_EQ(Hdr1Result(-1, 1), 33075); // typed text
  EXPECT_EQ(Hdr1Result(7, 0), 0);      // "中断"
}

namespace {

// The recording's windows as a test drives them: a fixed file name, and the
// abort button pressed once block nAbortAfter's last field is shown.
class FakeHddrUi : public HddrUi {
public:
  int32_t AskSaveName(void *, std::string *psPath) override {
    nRateWhileAsked = nPCMRate;
    *psPath = sName;
    return 1;
  }
  void OpenProgress(void *) override { ++nOpened; }
  void SetProgressField(int32_t nId, const char *pszText) override {
    asFields[nId] = pszText;
    if (nId == kIdHdr2Beat && ++nBlocks == nAbortAfter)
      Hdr2AbortPressed();
  }
  void CloseProgress() override { ++nClosed; }

  std::string sName;
  int32_t nAbortAfter = -1;
  int32_t nRateWhileAsked = 0, nOpened = 0, nClosed = 0, nBlocks = 0;
  std::map<int32_t, std::string> asFields;
};

std::vector<uint8_t> LongSong() {
  smfw::File file(0, 480);
  file.AddTrack().NoteOn(0, 0, 60, 100).NoteOff(480 * 40, 0, 60).EndOfTrack();
  return file.Build();
}

} // namespace

TEST(Hddr, EmptyFileNameRestoresTheRate) {
  nPCMRate = 22050;
  FakeHddrUi ui;
  EXPECT_EQ(RecordWav(48000, &ui, nullptr), 0);
  EXPECT_EQ(ui.nRateWhileAsked, 48000);
  EXPECT_EQ(nPCMRate, 22050);
  EXPECT_EQ(ui.nOpened, 0);
}

namespace {

FakeHddrUi *pRecordUi = nullptr; // the windows the recording command's hooks use

uint32_t ReadLe32(const std::vector<char> &ab, size_t nAt) {
  uint32_t n = 0;
  for (size_t i = 0; i < 4; i++)
    n |= static_cast<uint32_t>(static_cast<uint8_t>(ab[nAt + i])) << (8 * i);
  return n;
}

} // namespace

// The command holds bRecording from the rate dialog on; the recording still
// runs under it, stops after the block in progress and leaves a valid file.
TEST(Hddr, RecordCommandAbortedFromTheProgressWindowAfterThreeBlocks) {
  const std::vector<uint8_t> abSong = LongSong();
  ASSERT_EQ(LoadSmfBytes(abSong.data(), static_cast<int32_t>(abSong.size())), 1);
  testsupport::TempDir dir("torqa-dialogs");
  ASSERT_FALSE(dir.path().empty());
  nPCMRate = 22050;
  FakeHddrUi ui;
  ui.sName = (dir / "abort.wav").string();
  ui.nAbortAfter = 3;
  pRecordUi = &ui;
  DialogCommandHooks hooks{};
  hooks.pfnRunHdr1 = [](void *) { return int32_t{44100}; };
  hooks.pfnRecordWav = [](int32_t nRate, void *hwnd) { return RecordWav(nRate, pRecordUi, hwnd); };
  CmdRecord(nullptr, hooks);
  pRecordUi = nullptr;
  std::ifstream file(ui.sName, std::ios::binary);
  const std::vector<char> abWav((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  ASSERT_EQ(abWav.size(), 44u + 3 * 8192u);
  EXPECT_EQ(ReadLe32(abWav, 4), 3 * 8192u + 36); // RIFF size
  EXPECT_EQ(ReadLe32(abWav, 24), 44100u);        // sample rate
  EXPECT_EQ(ReadLe32(abWav, 40), 3 * 8192u);     // data size
  EXPECT_EQ(ui.nRateWhileAsked, 44100);
  EXPECT_EQ(ui.asFields[kIdHdr2Time], "    0.14[Sec]"); // 24576 bytes at 44100 Hz
  EXPECT_EQ(ui.asFields[kIdHdr2Measure], "1");
  EXPECT_EQ(ui.nOpened, 1);
  EXPECT_EQ(ui.nClosed, 1);
  EXPECT_EQ(nPCMRate, 22050);
  EXPECT_EQ(bRecording, 0);
  EXPECT_EQ(bPlaying, 0);
  EXPECT_EQ(pSong, nullptr); // the song image is unlocked again
  FreeSong();
}

TEST(TrackInfo, HeaderLinesAndConvertedNames) {
  smfw::File file(1, 96);
  file.AddTrack().TrackName(0, "\x83\x73\x83\x41\x83\x6D").EndOfTrack(); // ピアノ in Shift-JIS
  file.AddTrack().TrackName(0, "Bass\x01").EndOfTrack();
  const std::vector<uint8_t> abSong = file.Build();
  ASSERT_EQ(LoadSmfBytes(abSong.data(), static_cast<int32_t>(abSong.size())), 1);
  EXPECT_EQ(TrackInfoText(), "SMF Format 1 らしい\r\n2 トラック有ります\r\nデルタタイムは 96 \r\n"
                             "000 : ピアノ\r\n001 : Bass\\x01\r\n");
  FreeSong();
}

TEST(TrackInfo, NoTracksShowsTheHeaderOnly) {
  smfw::File file(0, 480);
  file.SetDeclaredTracks(0);
  const std::vector<uint8_t> abSong = file.Build();
  ASSERT_EQ(LoadSmfBytes(abSong.data(), static_cast<int32_t>(abSong.size())), 1);
  EXPECT_EQ(TrackInfoText(),
            "SMF Format 0 らしい\r\n0 トラック有ります\r\nデルタタイムは 480 \r\n");
  FreeSong();
}

namespace {

std::string sLog;
int hwndFakeTest = 0, hwndFakeAbout = 0;
int32_t nHdr1Rate = 0, bSetupConfirmed = 0;

const DialogCommandHooks kHooks = {
    [](void *) {
      sLog += "hdr1(" + std::to_string(bRecording) + ");";
      return nHdr1Rate;
    },
    [](int32_t nRate, void *) {
      sLog += "record " + std::to_string(nRate) + ";";
      bPlaying = 1;
      return int32_t{1};
    },
    [](void *) {
      sLog += "setup;";
      return bSetupConfirmed;
    },
    [](void *) -> void * {
      sLog += "test;";
      return &hwndFakeTest;
    },
    [](void *) { sLog += "close test;"; },
    [](void *) -> void * {
      sLog += "about;";
      return &hwndFakeAbout;
    },
    [](void *) { sLog += "slide;"; },
    [](void *) { sLog += "settrk;"; },
    [] { sLog += "save;"; },
};

class CommandTest : public ::testing::Test {
protected:
  void SetUp() override {
    sLog.clear();
    bOutputOpen = bPlaying = bRecording = 0;
    hwndTest = hwndAbout = nullptr;
    nHdr1Rate = 0;
    bSetupConfirmed = 0;
  }
  void TearDown() override {
    hwndTest = hwndAbout = nullptr;
    bOutputOpen = bPlaying = 0;
    FreeSong();
  }
  void LoadASong() {
    smfw::File file(0, 480);
    file.AddTrack().EndOfTrack();
    const std::vector<uint8_t> abSong = file.Build();
    ASSERT_EQ(LoadSmfBytes(abSong.data(), static_cast<int32_t>(abSong.size())), 1);
  }
};

} // namespace

TEST_F(CommandTest, SetupIsRefusedWhileOutputIsOpenOrRecording) {
  bOutputOpen = 1;
  CmdSetup(nullptr, kHooks);
  bOutputOpen = 0;
  bRecording = 1;
  CmdSetup(nullptr, kHooks);
  EXPECT_EQ(sLog, "");
}

TEST_F(CommandTest, SetupClosesAndReopensTheSoundTestAndSavesOnConfirm) {
  int hwndOld = 0;
  hwndTest = &hwndOld;
  bSetupConfirmed = 1;
  CmdSetup(nullptr, kHooks);
  EXPECT_EQ(sLog, "close test;setup;test;save;");
  EXPECT_EQ(hwndTest, &hwndFakeTest);
  sLog.clear();
  bSetupConfirmed = 0;
  hwndTest = nullptr;
  CmdSetup(nullptr, kHooks);
  EXPECT_EQ(sLog, "setup;");
}

TEST_F(CommandTest, RecordNeedsASongAndNothingElseRunning) {
  CmdRecord(nullptr, kHooks); // no song
  LoadASong();
  hwndTest = &hwndFakeTest;
  CmdRecord(nullptr, kHooks);
  hwndTest = nullptr;
  bOutputOpen = 1;
  CmdRecord(nullptr, kHooks);
  EXPECT_EQ(sLog, "");
}

TEST_F(CommandTest, RecordRunsTheRateDialogAsRecordingThenTheRecorder) {
  LoadASong();
  CmdRecord(nullptr, kHooks); // cancelled
  nHdr1Rate = 44100;
  CmdRecord(nullptr, kHooks);
  EXPECT_EQ(sLog, "hdr1(1);hdr1(1);record 44100;");
  EXPECT_EQ(bRecording, 0);
  EXPECT_EQ(bPlaying, 0);
}

TEST_F(CommandTest, SoundTestAndAboutOpenOnce) {
  bPlaying = 1;
  CmdSoundTest(nullptr, kHooks); // refused while playing
  bPlaying = 0;
  CmdSoundTest(nullptr, kHooks);
  CmdSoundTest(nullptr, kHooks);
  CmdAbout(nullptr, kHooks);
  CmdAbout(nullptr, kHooks);
  EXPECT_EQ(sLog, "test;about;");
  EXPECT_EQ(hwndTest, &hwndFakeTest);
  EXPECT_EQ(hwndAbout, &hwndFakeAbout);
}

TEST_F(CommandTest, TrackInfoSlidesTheScreenFirst) {
  CmdTrackInfo(nullptr, kHooks);
  EXPECT_EQ(sLog, "slide;settrk;");
}
