// The SDL sound device on SDL's own headless drivers: "disk" writes what it
// plays to a file, "dummy" throws it away in real time. SDL's audio thread is
// real here, so these run in the ThreadSanitizer build too.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/event_loop.h"
#include "platform/wave_out.h"

namespace {

int32_t CountThreads() {
  int32_t n = 0;
  DIR *pDir = opendir("/proc/self/task");
  if (!pDir)
    return -1;
  while (dirent *pEnt = readdir(pDir))
    n += pEnt->d_name[0] != '.';
  closedir(pDir);
  return n;
}

std::vector<WaveHeader *> gDone;
std::vector<uint32_t> gDoneSerials;

int32_t CollectDone(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) {
  if (nMessage == MM_WOM_DONE) {
    gDone.push_back(reinterpret_cast<WaveHeader *>(lParam));
    gDoneSerials.push_back(static_cast<uint32_t>(wParam));
  }
  return 0;
}

// Handles messages until n done messages have come or nMs pass.
void WaitForDone(size_t n, int32_t nMs) {
  auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
  while (gDone.size() < n && std::chrono::steady_clock::now() < tEnd) {
    if (!PumpOneMessage())
      GetEventLoop()->Wait(10);
  }
}

class SdlWaveOutTest : public ::testing::Test {
protected:
  void Start(const char *pszDriver) {
    setenv("SDL_AUDIODRIVER", pszDriver, 1);
    gDone.clear();
    gDoneSerials.clear();
    SetMessageHandler(CollectDone);
    // A sanitizer's own helper thread starts with the first thread; count after it.
    std::thread([] {}).join();
    nThreadsBefore = CountThreads();
    pDriver = GetSdlWaveOutDriver();
    ASSERT_NE(pDriver, nullptr);
    SetWaveOutDriver(pDriver);
  }
  void TearDown() override {
    SetWaveOutDriver(nullptr);
    ShutdownSdlWaveOut();
    SetMessageHandler(nullptr);
    unsetenv("SDL_AUDIODRIVER");
    unsetenv("SDL_DISKAUDIOFILE");
  }
  // n headers over distinct byte patterns, nBytes each.
  void MakeBlocks(int32_t n, uint32_t nBytes) {
    aBlocks.assign(n, std::vector<uint8_t>(nBytes));
    aHeaders.assign(n, WaveHeader{});
    for (int32_t i = 0; i < n; i++) {
      for (uint32_t b = 0; b < nBytes; b++)
        aBlocks[i][b] = static_cast<uint8_t>(1 + (i * 37 + b * 7) % 251); // never 0: silence is 0
      aHeaders[i] = {aBlocks[i].data(), nBytes, static_cast<uintptr_t>(i), 0, 0};
    }
  }

  WaveOutDriver *pDriver = nullptr;
  int32_t nThreadsBefore = 0;
  std::vector<std::vector<uint8_t>> aBlocks;
  std::vector<WaveHeader> aHeaders;
};

TEST_F(SdlWaveOutTest, DiskDriverPlaysEveryBufferOnceInOrder) {
  std::string sFile = ::testing::TempDir() + "torqa_disk_" + std::to_string(getpid()) + ".raw";
  setenv("SDL_DISKAUDIOFILE", sFile.c_str(), 1);
  Start("disk");
  ASSERT_GE(WaveOutGetNumDevs(), 1);
  WaveOutDevice *hOut = nullptr;
  ASSERT_EQ(WaveOutOpen(&hOut, 0, 22050), 1);
  constexpr int32_t kBlocks = 6;
  MakeBlocks(kBlocks, 4092); // not a multiple of SDL's callback size
  WaveOutPause(hOut);
  for (WaveHeader &h : aHeaders) {
    ASSERT_EQ(WaveOutPrepareHeader(hOut, &h), 1);
    ASSERT_EQ(WaveOutWrite(hOut, &h), 1);
  }
  WaveOutRestart(hOut);
  WaitForDone(kBlocks, 10000);
  ASSERT_EQ(gDone.size(), static_cast<size_t>(kBlocks));
  for (int32_t i = 0; i < kBlocks; i++) {
    EXPECT_EQ(gDone[i], &aHeaders[i]);
    EXPECT_EQ(gDoneSerials[i], WaveOutSerial(hOut));
  }
  ASSERT_EQ(WaveOutClose(hOut), 1);
  EXPECT_EQ(gDone.size(), static_cast<size_t>(kBlocks)); // nothing was left to hand back

  std::ifstream in(sFile, std::ios::binary);
  std::vector<uint8_t> abFile((std::istreambuf_iterator<char>(in)), {});
  std::remove(sFile.c_str());
  // Silence while paused and after the queue ran dry, the blocks in between.
  size_t nLead = 0;
  while (nLead < abFile.size() && abFile[nLead] == 0)
    nLead++;
  std::vector<uint8_t> abWant;
  for (const auto &b : aBlocks)
    abWant.insert(abWant.end(), b.begin(), b.end());
  ASSERT_GE(abFile.size(), nLead + abWant.size());
  EXPECT_TRUE(std::equal(abWant.begin(), abWant.end(), abFile.begin() + nLead));
  for (size_t i = nLead + abWant.size(); i < abFile.size(); i++)
    ASSERT_EQ(abFile[i], 0) << "at " << i;
}

TEST_F(SdlWaveOutTest, ResetHandsBackTheRestInOrderAndCloseLeavesNoThread) {
  Start("dummy");
  WaveOutDevice *hOut = nullptr;
  ASSERT_EQ(WaveOutOpen(&hOut, 0, 44100), 1);
  EXPECT_GT(CountThreads(), nThreadsBefore); // SDL's audio thread
  MakeBlocks(8, 8188);
  for (WaveHeader &h : aHeaders) {
    WaveOutPrepareHeader(hOut, &h);
    WaveOutWrite(hOut, &h);
  }
  WaveOutRestart(hOut);
  WaitForDone(2, 5000); // about 93 ms of audio
  ASSERT_GE(gDone.size(), 2u);
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(WaveOutReset(hOut), 1);
  ASSERT_EQ(WaveOutClose(hOut), 1);
  auto tClose = std::chrono::steady_clock::now() - t0;
  WaitForDone(8, 1000);
  ASSERT_EQ(gDone.size(), 8u);
  for (int32_t i = 0; i < 8; i++)
    EXPECT_EQ(gDone[i], &aHeaders[i]) << i;
  EXPECT_EQ(CountThreads(), nThreadsBefore);
  // Closing waits for at most one SDL period (1024 frames, 23 ms), not for the queue.
  EXPECT_LT(tClose, std::chrono::milliseconds(500));
  EXPECT_EQ(PumpOneMessage(), 0); // and nothing came after the close
}

TEST_F(SdlWaveOutTest, RejectsUnpreparedHeadersAndUnknownDevices) {
  Start("dummy");
  WaveOutDevice *hOut = nullptr;
  EXPECT_EQ(WaveOutOpen(&hOut, WaveOutGetNumDevs(), 44100), 0);
  EXPECT_EQ(hOut, nullptr);
  EXPECT_EQ(WaveOutQuery(0, 44100), 1);
  EXPECT_EQ(WaveOutQuery(-1, 44100), 0);
  ASSERT_EQ(WaveOutOpen(&hOut, 0, 8000), 1);
  MakeBlocks(1, 400);
  EXPECT_EQ(WaveOutWrite(hOut, &aHeaders[0]), 0);
  aHeaders[0].nBufferLength = 401;
  WaveOutPrepareHeader(hOut, &aHeaders[0]);
  EXPECT_EQ(WaveOutWrite(hOut, &aHeaders[0]), 0); // not whole frames
  WaveOutClose(hOut);
  EXPECT_TRUE(gDone.empty());
}

} // namespace
