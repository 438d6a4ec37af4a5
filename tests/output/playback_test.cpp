// Playback control against the hand-stepped device twin and an in-process
// unit that records what it is sent and makes a level from its sounding notes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "platform/message_box.h"
#include "player/output/playback.h"
#include "player/render/render_loop.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"
#include "support/fake_wave_out.h"
#include "tools/smf/smf_writer.h"

namespace {

// ---- the recording unit (slot 0) ----

struct Received {
  std::vector<uint8_t> abMsg; // status and data bytes
  int64_t nMakesBefore;       // Make calls since the playback started
  int32_t nMeasureAt;         // sequencer position when it arrived
};

std::vector<Received> gReceived;
int64_t gMakes = 0;
int32_t gVelocity[16][128];
int32_t gSetRate = 0;
int32_t gFreeLocks = 0;

void UnitMidiIn(const uint8_t *pMsg, int32_t) {
  int32_t nLen = pMsg[0] | pMsg[1] << 8;
  Received r;
  r.abMsg.assign(pMsg + 2, pMsg + 2 + (pMsg[2] == 0xF0 ? nLen + 1 : nLen));
  r.nMakesBefore = gMakes;
  r.nMeasureAt = nMeasure;
  gReceived.push_back(r);
  int32_t nStatus = pMsg[2] & 0xF0, nCh = pMsg[2] & 0x0F;
  if (nStatus == 0x90 && nLen == 3)
    gVelocity[nCh][pMsg[3] & 0x7F] = pMsg[4];
  else if (nStatus == 0x80 && nLen == 3)
    gVelocity[nCh][pMsg[3] & 0x7F] = 0;
  else if (nStatus == 0xB0 && nLen == 3 && (pMsg[3] == 123 || pMsg[3] == 120))
    std::memset(gVelocity[nCh], 0, sizeof gVelocity[nCh]);
}

// A square wave per channel whose height is the sum of its sounding velocities.
void UnitMake(int32_t *pAcc) {
  int32_t nSign = (gMakes / 40) % 2 ? 1 : -1;
  for (int32_t ch = 0; ch < 16; ch++) {
    int32_t nSum = 0, nVoices = 0;
    for (int32_t v : gVelocity[ch])
      if (v) {
        nSum += v;
        nVoices++;
      }
    pAcc[ch] += nSign * nSum * 64;
    pAcc[16 + ch] += nSign * nSum * 32;
    pAcc[32 + ch] += nVoices;
  }
  gMakes++;
}

int32_t UnitSetRate(int32_t nRate) {
  gSetRate = nRate;
  return 1;
}
void UnitFreeLockCFG() {
  gFreeLocks++;
}

// ---- the window procedure ----

int32_t gRedraws = 0;
constexpr uint32_t kMsgStop = kWmUser + 1; // a stop command arriving while the ring refills

int32_t TestWindowProc(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) {
  if (nMessage == MM_WOM_DONE)
    OnWaveDoneMessage(wParam, lParam);
  else if (nMessage == UM_REDRAW)
    gRedraws++;
  else if (nMessage == kMsgStop && bPlaying)
    StopPlayback(nullptr);
  return 0;
}

struct CapturedBox {
  std::string sText, sCaption;
  MsgIcon icon;
};
class CaptureSink : public MessageSink {
public:
  void Show(void *, const char *text, const char *caption, MsgIcon icon) override {
    boxes.push_back({text, caption, icon});
  }
  std::vector<CapturedBox> boxes;
};

smfw::Bytes ShortSong() {
  smfw::File f(0, 96);
  f.AddTrack().ProgramChange(0, 0, 5).NoteOn(0, 0, 60, 100).NoteOff(48, 0, 60).EndOfTrack(0);
  return f.Build();
}

class PlaybackTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetWaveOutDriver(&driver);
    SetMessageHandler(TestWindowProc);
    pPrevSink = SetMessageSink(&sink);
    ASSERT_EQ(AllocOutputBuffers(), 1);
    std::memset(&aUnitSlots[0], 0, sizeof aUnitSlots[0]);
    aUnitSlots[0].hModule = this; // any non-null handle: loaded
    aUnitSlots[0].bActive = 1;
    aUnitSlots[0].pfnMidiIn = UnitMidiIn;
    aUnitSlots[0].pfnMake = UnitMake;
    aUnitSlots[0].pfnSetRate = UnitSetRate;
    aUnitSlots[0].pfnFreeLockCFG = UnitFreeLockCFG;
    gReceived.clear();
    std::memset(gVelocity, 0, sizeof gVelocity);
    gMakes = gSetRate = gFreeLocks = gRedraws = 0;
    nPCMRate = 44100;
    bPowerSave1 = 0;
    nStartMeasure = 0;
    nTickStep = 256;
    nSelDevice = 0;
    hwndTest = nullptr;
  }
  void TearDown() override {
    StopPlayback(nullptr);
    Drain();
    aUnitSlots[0].hModule = nullptr;
    FreeSong();
    FreeOutputBuffers();
    SetMessageSink(pPrevSink);
    SetMessageHandler(nullptr);
    SetWaveOutDriver(nullptr);
  }
  void Load(const smfw::Bytes &song) {
    ASSERT_EQ(LoadSmfBytes(song.data(), static_cast<int32_t>(song.size())), 1);
  }
  void Drain() {
    while (PumpOneMessage() || GetEventLoop()->Wait(0)) {
    }
  }
  // Plays buffers one at a time, handling each done message, until the device
  // is closed or nMax buffers have played. Returns the number played.
  int32_t PlayUntilClosed(int32_t nMax = 100000) {
    int32_t n = 0;
    while (driver.Device() && n < nMax && driver.Step()) {
      n++;
      Drain();
    }
    return n;
  }
  int32_t Writes() const {
    int32_t n = 0;
    for (const std::string &s : driver.log)
      n += s.rfind("write", 0) == 0;
    return n;
  }

  FakeWaveOutDriver driver;
  CaptureSink sink;
  MessageSink *pPrevSink = nullptr;
};

TEST(WindowMessages, KeepTheirNumbers) {
  EXPECT_EQ(UM_INIT, 0x468u);
  EXPECT_EQ(UM_REDRAW, 0x46Au);
  EXPECT_EQ(MM_WOM_DONE, 0x3BDu);
}

TEST(BlockSize, FollowsTheRateAndTheLowLoadSetting) {
  EXPECT_EQ(BlockBytesForRate(44100, 0), 8188); // 2047 frames
  EXPECT_EQ(BlockBytesForRate(96000, 0), 17832);
  EXPECT_EQ(BlockBytesForRate(22050, 0), 4092);
  EXPECT_EQ(BlockBytesForRate(22050, 1), 17832);
  EXPECT_EQ(BlockBytesForRate(11025, 1), 8916);
  EXPECT_EQ(BlockBytesForRate(44100, 1), 8188); // low load only up to 22050 Hz
  EXPECT_EQ(BlockBytesForRate(5200, 0), 964);
  EXPECT_EQ(BlockBytesForRate(192000, 0), 17832); // never past the buffer
  for (int32_t nRate = 5200; nRate <= 96000; nRate += 997) {
    EXPECT_EQ(BlockBytesForRate(nRate, 0) % 4, 0);
    EXPECT_EQ(BlockBytesForRate(nRate, 1) % 4, 0);
  }
}

// A device that ran before its buffers were queued would begin with silence
// or a partial ring instead of the song's first block.
TEST_F(PlaybackTest, DeviceStartsOnlyOnceTheRingIsQueued) {
  Load(ShortSong());
  StartPlayback(nullptr);
  ASSERT_NE(driver.Device(), nullptr);
  EXPECT_EQ(driver.nQueuedAtStart, 8);
  EXPECT_EQ(driver.Device()->bPaused, 0);
}

// Finished buffers whose done messages find the queue full are still handled:
// the ring refills and the output closes at the song's end.
TEST_F(PlaybackTest, BufferDoneSurvivesAFullQueue) {
  Load(ShortSong());
  StartPlayback(nullptr);
  while (PostLoopMessage(kWmUser + 50, 0, 0)) {
  }
  for (int32_t i = 0; i < kOutBufCount; i++)
    ASSERT_EQ(driver.Step(), 1);
  Drain();
  EXPECT_EQ(Writes(), 2 * kOutBufCount) << "every finished buffer was refilled";
  PlayUntilClosed();
  EXPECT_EQ(bOutputOpen, 0);
  EXPECT_EQ(driver.Device(), nullptr);
}

TEST_F(PlaybackTest, StartFillsTheRingThenRestarts) {
  Load(ShortSong());
  StartPlayback(nullptr);
  ASSERT_NE(driver.Device(), nullptr);
  EXPECT_EQ(driver.Device()->nRate, 44100);
  std::vector<std::string> want = {"open"};
  for (int i = 0; i < 8; i++)
    want.push_back("write " + std::to_string(i));
  want.push_back("restart");
  EXPECT_EQ(driver.log, want);
  EXPECT_EQ(anBufState[0], 3);
  for (int i = 1; i < 8; i++)
    EXPECT_EQ(anBufState[i], 2);
  for (const WaveHeader &h : aWaveHeaders)
    EXPECT_EQ(h.nBufferLength, 8188u);
  EXPECT_FLOAT_EQ(fBlockSeconds, static_cast<float>(8188 * 0.25 / 44100));
  EXPECT_EQ(gSetRate, 44100);
  EXPECT_EQ(bPlaying, 1);
  EXPECT_EQ(bOutputOpen, 1);
  EXPECT_NE(pSong, nullptr);
}

TEST_F(PlaybackTest, PlayDoesNothingWithoutSongWithTestDialogOrDevice) {
  StartPlayback(nullptr);
  EXPECT_EQ(driver.nOpens, 0);
  Load(ShortSong());
  int nDialog;
  hwndTest = &nDialog;
  StartPlayback(nullptr);
  EXPECT_EQ(driver.nOpens, 0);
  hwndTest = nullptr;
  driver.bFailOpen = 1;
  StartPlayback(nullptr);
  EXPECT_EQ(bPlaying, 0);
  EXPECT_EQ(bOutputOpen, 0);
  EXPECT_EQ(pSong, nullptr);
  EXPECT_TRUE(sink.boxes.empty()); // an open failure is silent
  EXPECT_EQ(gReceived.size(), 0u);
}

TEST_F(PlaybackTest, ShortSongEndsCleanlyOnceTheLastBufferIsBack) {
  Load(ShortSong());
  StartPlayback(nullptr);
  int32_t nPlayed = PlayUntilClosed();
  EXPECT_EQ(driver.Device(), nullptr);
  EXPECT_EQ(driver.nCloses, 1);
  EXPECT_EQ(nPlayed, Writes()); // every rendered block was heard, none twice
  // Half a beat of sound, then 16 silent blocks: the note is in the first block.
  EXPECT_GE(nPlayed, 17);
  EXPECT_LE(nPlayed, 17 + 8);
  EXPECT_EQ(static_cast<int64_t>(driver.Played().size()), static_cast<int64_t>(nPlayed) * 8188);
  for (int32_t s : anBufState)
    EXPECT_EQ(s, 0);
  EXPECT_EQ(bOutputOpen, 0);
  EXPECT_EQ(pSong, nullptr);
  EXPECT_EQ(gFreeLocks, 1);
  EXPECT_GT(gRedraws, 0);
  // The sound is there at the start and ends in silence.
  const std::vector<uint8_t> &pcm = driver.Played();
  EXPECT_NE(std::count(pcm.begin(), pcm.begin() + 8188, 0), 8188);
  EXPECT_EQ(std::count(pcm.end() - 8188, pcm.end(), 0), 8188);
}

TEST_F(PlaybackTest, MeterFrameOfTheReturnedBufferIsPublished) {
  Load(ShortSong());
  StartPlayback(nullptr);
  MeterFrame first = aMeterFrames[0];
  ASSERT_EQ(driver.Step(), 1);
  // Handle only the done message: the refill renders buffer 0 anew afterwards.
  ASSERT_EQ(PumpOneMessage(), 0);
  EXPECT_EQ(std::memcmp(&CurMeterFrame, &first, sizeof first), 0);
  EXPECT_EQ(CurMeterFrame.anSummary[kMeterMeasure], 1);
  EXPECT_EQ(anBufState[0], 2); // refilled
  EXPECT_EQ(anBufState[1], 3); // the buffer after the returned one is playing
}

TEST_F(PlaybackTest, StartMeasureBeginsAtTheFifthMeasureWithEarlierSettingsInForce) {
  constexpr int32_t kDiv = 96, kMeasure = 4 * kDiv;
  smfw::File f(0, kDiv);
  smfw::Track &t = f.AddTrack();
  t.ProgramChange(0, 1, 33).ControlChange(0, 1, 7, 90);
  t.NoteOn(0, 1, 40, 100).NoteOff(kDiv, 1, 40);
  t.ControlChange(kMeasure - kDiv, 1, 10, 20); // measure 1
  t.SysEx(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7});
  t.NoteOn(kMeasure, 1, 41, 100);               // measure 2, still sounding at measure 4
  t.NoteOff(2 * kMeasure, 1, 41);               // off at measure 4
  t.NoteOn(0, 1, 60, 110).NoteOff(kDiv, 1, 60); // opens measure 4
  t.EndOfTrack(0);
  Load(f.Build());
  nStartMeasure = 4;
  StartPlayback(nullptr);
  ASSERT_NE(driver.Device(), nullptr);

  auto isNoteOn = [](const Received &r) {
    return r.abMsg.size() == 3 && (r.abMsg[0] & 0xF0) == 0x90 && r.abMsg[2] != 0;
  };
  int32_t nFirstOn = -1;
  bool bProgram = false, bVolume = false, bPan = false, bSysEx = false;
  for (size_t i = 0; i < gReceived.size(); i++) {
    const Received &r = gReceived[i];
    if (isNoteOn(r)) {
      nFirstOn = static_cast<int32_t>(i);
      break;
    }
    bProgram |= r.abMsg == std::vector<uint8_t>{0xC1, 33};
    bVolume |= r.abMsg == std::vector<uint8_t>{0xB1, 7, 90};
    bPan |= r.abMsg == std::vector<uint8_t>{0xB1, 10, 20};
    bSysEx |= r.abMsg.size() > 1 && r.abMsg[0] == 0xF0 && r.abMsg[1] == 0x7E;
  }
  ASSERT_GE(nFirstOn, 0);
  EXPECT_TRUE(bProgram && bVolume && bPan && bSysEx);
  const Received &on = gReceived[nFirstOn];
  EXPECT_EQ(on.abMsg, (std::vector<uint8_t>{0x91, 60, 110})); // no earlier note sounds
  EXPECT_EQ(on.nMeasureAt, 4);
  EXPECT_EQ(on.nMakesBefore, 0); // the very first rendered sample
}

TEST_F(PlaybackTest, StopDuringPlaybackClosesAtOnceAndLaterDonesDoNotRefill) {
  smfw::File f(0, 96);
  f.AddTrack().NoteOn(0, 0, 60, 100).NoteOff(96 * 200, 0, 60).EndOfTrack(0);
  Load(f.Build());
  StartPlayback(nullptr);
  PlayUntilClosed(3);
  int32_t nWritesBefore = Writes();
  StopPlayback(nullptr);
  EXPECT_EQ(driver.Device(), nullptr);
  EXPECT_EQ(driver.nCloses, 1);
  EXPECT_EQ(bOutputOpen, 0);
  EXPECT_EQ(pSong, nullptr);
  EXPECT_EQ(gFreeLocks, 1);
  Drain(); // the reset's done messages: buffers free, a second stop is harmless
  EXPECT_EQ(Writes(), nWritesBefore);
  for (int32_t s : anBufState)
    EXPECT_EQ(s, 0);
  EXPECT_EQ(gFreeLocks, 1);
  StopPlayback(nullptr);
  EXPECT_EQ(gFreeLocks, 1);
  EXPECT_EQ(driver.nCloses, 1);
}

TEST_F(PlaybackTest, StopArrivingWhileTheRingRefillsEndsTheRefill) {
  smfw::File f(0, 96);
  f.AddTrack().NoteOn(0, 0, 60, 100).NoteOff(96 * 200, 0, 60).EndOfTrack(0);
  Load(f.Build());
  StartPlayback(nullptr);
  driver.Step();
  driver.Step();
  // Both done messages are queued; the stop comes between them.
  PostLoopMessage(kMsgStop, 0, 0);
  int32_t nWritesBefore = Writes();
  Drain();
  EXPECT_EQ(driver.Device(), nullptr);
  EXPECT_LE(Writes(), nWritesBefore + 1); // at most the buffer the first done refilled
  EXPECT_EQ(driver.log.back(), "close");
}

TEST_F(PlaybackTest, PlayWhileDrainingRestartsWithoutTakingOldBuffersBack) {
  Load(ShortSong());
  StartPlayback(nullptr);
  // Play until the song is over and the ring drains.
  while (bPlaying && driver.Step())
    Drain();
  ASSERT_EQ(bOutputOpen, 1);
  ASSERT_NE(driver.Device(), nullptr);
  StartPlayback(nullptr);
  EXPECT_EQ(driver.nOpens, 2);
  EXPECT_EQ(driver.nCloses, 1);
  Drain(); // done messages of the first device must not free the new ring
  for (int i = 0; i < 8; i++)
    EXPECT_GE(anBufState[i], 2) << i;
  int32_t nPlayed = PlayUntilClosed();
  EXPECT_GE(nPlayed, 17);
  EXPECT_EQ(driver.nCloses, 2);
}

TEST_F(PlaybackTest, SoundTestSoundsExactlyEightBlocks) {
  StartSoundTest(0, 0, 60, 0);
  ASSERT_NE(driver.Device(), nullptr);
  EXPECT_EQ(bPlaying, 0); // nothing more is rendered
  EXPECT_EQ(bOutputOpen, 1);
  EXPECT_EQ(Writes(), 8);
  EXPECT_EQ(gSetRate, 0); // no SetRate for the test
  bool bNoteOn = false;
  for (const Received &r : gReceived)
    bNoteOn |= r.abMsg.size() == 3 && (r.abMsg[0] & 0xF0) == 0x90 && r.abMsg[1] == 60;
  EXPECT_TRUE(bNoteOn);
  EXPECT_EQ(PlayUntilClosed(), 8);
  EXPECT_EQ(Writes(), 8);
  EXPECT_EQ(driver.nCloses, 1);
  EXPECT_EQ(bOutputOpen, 0);
  EXPECT_EQ(gFreeLocks, 1);
  EXPECT_EQ(gMakes, 8 * 8188 / 4);
  EXPECT_EQ(driver.Played().size(), 8u * 8188);
}

TEST_F(PlaybackTest, LowLoadBlocksAt22050) {
  nPCMRate = 22050;
  bPowerSave1 = 1;
  Load(ShortSong());
  StartPlayback(nullptr);
  for (const WaveHeader &h : aWaveHeaders)
    EXPECT_EQ(h.nBufferLength, 17832u);
  EXPECT_FLOAT_EQ(fBlockSeconds, static_cast<float>(17832 * 0.25 / 22050));
  StopPlayback(nullptr);
  bPowerSave1 = 0;
  StartPlayback(nullptr);
  for (const WaveHeader &h : aWaveHeaders)
    EXPECT_EQ(h.nBufferLength, 4092u);
}

TEST_F(PlaybackTest, TestRateAsksEveryDeviceAndWarnsWhenNoneFits) {
  driver.nDevices = 3;
  driver.nOnlyDevice = 2;
  driver.nOnlyRate = 32000;
  EXPECT_EQ(TestRate(32000), 1);
  EXPECT_EQ(TestRate(44100), 0);
  EXPECT_EQ(TestRateOrWarn(nullptr, 32000), 1);
  EXPECT_TRUE(sink.boxes.empty());
  EXPECT_EQ(TestRateOrWarn(nullptr, 44100), 0);
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].sCaption, "サウンドデバイスの問題");
  EXPECT_EQ(sink.boxes[0].icon, MsgIcon::Warning);
  EXPECT_EQ(sink.boxes[0].sText.rfind("指定された離散レート", 0), 0u);
  driver.nDevices = 0;
  EXPECT_EQ(TestRate(32000), 0);
}

TEST_F(PlaybackTest, OpensTheSelectedDevice) {
  driver.nDevices = 3;
  nSelDevice = 2;
  Load(ShortSong());
  StartPlayback(nullptr);
  EXPECT_EQ(driver.nOpenDevice, 2);
  StopPlayback(nullptr);
  nSelDevice = 3; // gone since the settings were saved
  StartPlayback(nullptr);
  EXPECT_EQ(driver.nOpens, 1);
  EXPECT_EQ(bOutputOpen, 0);
}

} // namespace
