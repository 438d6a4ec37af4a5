// torqa-cli play end to end on SDL's headless drivers, and a playback stop on
// SDL's real audio thread. The tone unit in TONE_PLUGIN_DIR makes the sound.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/event_loop.h"
#include "platform/wave_out.h"
#include "player/app/settings_store.h"
#include "player/output/playback.h"
#include "player/render/effects.h"
#include "player/render/render_loop.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"
#include "tools/smf/smf_writer.h"

extern char **environ;

namespace {

constexpr int kExitNoDevice = 69;

std::string TempPath(const std::string &sName) {
  return ::testing::TempDir() + "torqa_play_" + std::to_string(getpid()) + "_" + sName;
}

std::vector<uint8_t> ReadAll(const std::string &sPath) {
  std::ifstream in(sPath, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// About a second at 120 bpm on two channels, with pan, reverb and chorus sends.
smfw::Bytes TwoVoiceSong(int32_t nQuarters) {
  smfw::File f(1, 96);
  f.AddTrack().Tempo(0, 500000).EndOfTrack(0);
  f.AddTrack();
  f.AddTrack(); // references only after the last AddTrack: the tracks live in a vector
  smfw::Track &a = f.TrackAt(1);
  smfw::Track &b = f.TrackAt(2);
  a.ProgramChange(0, 0, 1).ControlChange(0, 0, 10, 20).ControlChange(0, 0, 91, 90);
  b.ProgramChange(0, 1, 40).ControlChange(0, 1, 10, 110).ControlChange(0, 1, 93, 70);
  for (int32_t q = 0; q < nQuarters; q++) {
    a.NoteOn(0, 0, 60 + q % 12, 100).NoteOff(96, 0, 60 + q % 12);
    b.NoteOn(q ? 0 : 48, 1, 72 - q % 7, 80).NoteOff(96, 1, 72 - q % 7);
  }
  a.EndOfTrack(0);
  b.EndOfTrack(0);
  return f.Build();
}

// Runs torqa-cli with extra environment entries; returns its pid.
pid_t SpawnCli(const std::vector<std::string> &aArgs, const std::vector<std::string> &aEnv) {
  std::vector<std::string> aEnvAll(aEnv);
  for (char **pp = environ; *pp; pp++) {
    std::string s = *pp;
    bool bOverridden = false;
    for (const std::string &e : aEnv)
      bOverridden |= s.compare(0, e.find('=') + 1, e, 0, e.find('=') + 1) == 0;
    if (!bOverridden)
      aEnvAll.push_back(s);
  }
  std::vector<char *> argv{const_cast<char *>(TORQA_CLI_PATH)};
  for (const std::string &s : aArgs)
    argv.push_back(const_cast<char *>(s.c_str()));
  argv.push_back(nullptr);
  std::vector<char *> envp;
  for (std::string &s : aEnvAll)
    envp.push_back(s.data());
  envp.push_back(nullptr);
  pid_t nPid = -1;
  if (posix_spawn(&nPid, TORQA_CLI_PATH, nullptr, nullptr, argv.data(), envp.data()) != 0)
    return -1;
  return nPid;
}

int WaitExit(pid_t nPid) {
  int nStatus = 0;
  while (waitpid(nPid, &nStatus, 0) < 0) {
  }
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
}

int32_t CountThreads() {
  int32_t n = 0;
  DIR *pDir = opendir("/proc/self/task");
  while (dirent *pEnt = readdir(pDir))
    n += pEnt->d_name[0] != '.';
  closedir(pDir);
  return n;
}

constexpr uint32_t kMsgStop = kWmUser + 1; // the stop command
int32_t gbPlayingAtStop = 0;
std::atomic<int32_t> gnDones{0}; // buffer-done messages handled

int32_t PlayWindowProc(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) {
  if (nMessage == MM_WOM_DONE) {
    OnWaveDoneMessage(wParam, lParam);
    gnDones++;
  } else if (nMessage == kMsgStop) {
    gbPlayingAtStop = bPlaying;
    StopPlayback(nullptr);
  }
  return 0;
}

class CliPlayTest : public ::testing::Test {
protected:
  void SetUp() override {
    sRegistry = TempPath("registry.reg");
    setenv("TORQA_REGISTRY", sRegistry.c_str(), 1);
  }
  void TearDown() override {
    StopPlayback(nullptr);
    while (PumpOneMessage()) {
    }
    SetMessageHandler(nullptr);
    SetWaveOutDriver(nullptr);
    ShutdownSdlWaveOut();
    UnbindAllUnits();
    FreeSong();
    FreeOutputBuffers();
    std::remove(sRegistry.c_str());
    unsetenv("TORQA_REGISTRY");
  }
  // The first-run settings and the tone unit in slot 0, as torqa-cli has them.
  void SetUpEngineLikeTheCli() {
    LoadSettings();
    AllocReverbLine();
    AllocChorusLine();
    SetPluginDirectory(TONE_PLUGIN_DIR);
    std::snprintf(aUnitSlots[0].szPath, sizeof aUnitSlots[0].szPath, "%s/tone_unit.so",
                  TONE_PLUGIN_DIR);
    BindUnit(0);
    ASSERT_NE(aUnitSlots[0].hModule, nullptr);
    ASSERT_EQ(AllocOutputBuffers(), 1);
  }
  std::string sRegistry;
};

TEST_F(CliPlayTest, DiskDeviceReceivesExactlyTheRenderedBlocks) {
  smfw::Bytes song = TwoVoiceSong(4);
  std::string sSong = TempPath("song.mid"), sRaw = TempPath("out.raw");
  ASSERT_TRUE(smfw::WriteFileBytes(sSong, song));
  pid_t nPid =
      SpawnCli({"play", sSong}, {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + sRaw,
                                 // 15 ms per 11.6 ms period at 22050 Hz: a little slower than
                                 // real time, as this test is about order, not pace
                                 "SDL_DISKAUDIODELAY=15", "TORQA_PLUGIN_DIR=" TONE_PLUGIN_DIR,
                                 "TORQA_REGISTRY=" + sRegistry});
  ASSERT_GT(nPid, 0);
  ASSERT_EQ(WaitExit(nPid), 0);
  std::vector<uint8_t> abFile = ReadAll(sRaw);
  std::remove(sRaw.c_str());
  std::remove(sSong.c_str());

  // The same start, by hand, then RenderBlock until the song has ended.
  SetUpEngineLikeTheCli();
  ASSERT_EQ(LoadSmfBytes(song.data(), static_cast<int32_t>(song.size())), 1);
  LockSong();
  ResetRenderStats();
  nBlockBytes = BlockBytesForRate(nPCMRate, bPowerSave1);
  fBlockSeconds = nBlockBytes * 0.25 / nPCMRate;
  aUnitSlots[0].pfnSetRate(nPCMRate);
  bPlaying = 1;
  ResetEffects();
  ResetSequencer();
  SendResetSequence();
  std::memset(anChannelAcc, 0, sizeof anChannelAcc);
  nLpfL = nLpfR = 0;
  PrepareSong();
  SetTempoBpm(nTempoBpm);
  ResetTimeSignature();
  nTailBlocks = 16;
  std::vector<uint8_t> abWant;
  int32_t nBlocks = 0;
  for (int32_t i = 0; bPlaying; i = (i + 1) % kOutBufCount, nBlocks++) {
    RenderBlock(i, nBlockBytes);
    abWant.insert(abWant.end(), apOutBuf[i], apOutBuf[i] + nBlockBytes);
  }
  UnlockSong();
  bPlaying = 0;
  ASSERT_GT(nBlocks, 16);

  // The file is what the device played: silence while paused, the blocks, and
  // silence after them. On a loaded machine the device may also have run dry
  // for a moment (an underrun plays silence). So the rendered stream must be
  // the file with only zero bytes taken out: a lost, repeated or reordered
  // block with any sound in it cannot pass.
  size_t nFile = 0, nWant = 0, nInserted = 0;
  while (nWant < abWant.size() && nFile < abFile.size()) {
    if (abFile[nFile] == abWant[nWant]) {
      nFile++;
      nWant++;
    } else if (abFile[nFile] == 0) {
      nFile++;
      nInserted++;
    } else {
      break;
    }
  }
  ASSERT_EQ(nWant, abWant.size()) << "the device's bytes differ from block " << nWant / nBlockBytes
                                  << " of " << nBlocks << " on";
  for (; nFile < abFile.size(); nFile++)
    ASSERT_EQ(abFile[nFile], 0) << "sound after the end of the song";
  size_t nSounding = 0;
  for (uint8_t b : abWant)
    nSounding += b != 0;
  EXPECT_GT(nSounding, abWant.size() / 4) << "the song made too little sound to tell blocks apart";
  if (nInserted > 0)
    std::printf("note: %zu bytes of silence before or inside the stream\n", nInserted);
}

TEST_F(CliPlayTest, InterruptStopsAndExitsCleanly) {
  smfw::Bytes song = TwoVoiceSong(200);
  std::string sSong = TempPath("long.mid");
  ASSERT_TRUE(smfw::WriteFileBytes(sSong, song));
  pid_t nPid = SpawnCli({"play", sSong, "--volume", "-6", "--speed", "0.5"},
                        {"SDL_AUDIODRIVER=dummy", "TORQA_PLUGIN_DIR=" TONE_PLUGIN_DIR,
                         "TORQA_REGISTRY=" + sRegistry});
  ASSERT_GT(nPid, 0);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  kill(nPid, SIGINT);
  EXPECT_EQ(WaitExit(nPid), 0);
  std::remove(sSong.c_str());
}

TEST_F(CliPlayTest, NoDeviceAndUsageErrorsAreDistinct) {
  smfw::Bytes song = TwoVoiceSong(1);
  std::string sSong = TempPath("one.mid");
  ASSERT_TRUE(smfw::WriteFileBytes(sSong, song));
  std::vector<std::string> env = {"SDL_AUDIODRIVER=no-such-driver",
                                  "TORQA_PLUGIN_DIR=" TONE_PLUGIN_DIR,
                                  "TORQA_REGISTRY=" + sRegistry};
  EXPECT_EQ(WaitExit(SpawnCli({"play", sSong}, env)), kExitNoDevice);
  env[0] = "SDL_AUDIODRIVER=dummy";
  EXPECT_EQ(WaitExit(SpawnCli({"play", sSong, "--speed", "9"}, env)), 2);
  EXPECT_EQ(WaitExit(SpawnCli({"play", TempPath("missing.mid")}, env)), 1);
  std::remove(sSong.c_str());
}

// A stop while SDL's audio thread plays, posted from another thread once a
// whole ring of buffers has come back: playback ends, the device closes, the
// audio thread is gone, and every buffer queued comes back as done.
TEST_F(CliPlayTest, StopOnTheRealAudioThread) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  std::thread([] {}).join(); // a sanitizer's helper thread, if any, exists from here on
  int32_t nThreadsBefore = CountThreads();
  WaveOutDriver *pDriver = GetSdlWaveOutDriver();
  ASSERT_NE(pDriver, nullptr);
  SetWaveOutDriver(pDriver);
  SetUpEngineLikeTheCli();
  nPCMRate = 44100;
  nSelDevice = 0;
  SetMessageHandler(PlayWindowProc);
  smfw::Bytes song = TwoVoiceSong(200);
  ASSERT_EQ(LoadSmfBytes(song.data(), static_cast<int32_t>(song.size())), 1);
  gnDones = 0;
  StartPlayback(nullptr);
  ASSERT_EQ(bOutputOpen, 1);
  // The stop command arrives like any other message; the refill loop's
  // message pumping delivers it if that loop is running.
  std::atomic<int32_t> bGiveUp{0};
  std::thread stopper([&bGiveUp] {
    while (gnDones < kOutBufCount && !bGiveUp)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    PostLoopMessage(kMsgStop, 0, 0);
  });
  // Only a guard against a hang: the song lasts 100 s.
  const auto tGiveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (bOutputOpen && std::chrono::steady_clock::now() < tGiveUp)
    if (GetEventLoop()->Wait(100))
      PumpOneMessage();
  bGiveUp = 1;
  stopper.join();
  while (GetEventLoop()->Wait(0)) // the done messages of the stop's reset
    PumpOneMessage();
  EXPECT_GE(gnDones, kOutBufCount);
  EXPECT_EQ(gbPlayingAtStop, 1);
  EXPECT_EQ(bPlaying, 0);
  EXPECT_EQ(bOutputOpen, 0);
  EXPECT_EQ(hWaveOut, nullptr);
  for (int32_t i = 0; i < kOutBufCount; i++) {
    EXPECT_EQ(anBufState[i], 0) << "buffer " << i << " never came back";
    EXPECT_EQ(TakeWaveDone(&aWaveHeaders[i]), 0) << "buffer " << i << "'s done was not handled";
  }
  ShutdownSdlWaveOut();
  EXPECT_EQ(CountThreads(), nThreadsBefore);
  unsetenv("SDL_AUDIODRIVER");
}

} // namespace
