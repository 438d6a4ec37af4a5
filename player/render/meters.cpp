// Channel and output meters of a block, and the load figure.
#include "player/render/meters.h"

#include <chrono>
#include <cstdint>

#include "common/audio_math.h"
#include "player/render/render_loop.h"
#include "player/song/routing.h"

constexpr int32_t kMaxElapsedMs = 10000000; // keeps the load sums inside 32 bits

MeterFrame aMeterFrames[kOutBufCount];
int32_t abMeterReady[kOutBufCount];
MeterFrame CurMeterFrame;
int32_t anLoadHist[10];
int32_t nLoadPercent = 0;
int32_t bHiResTimer = 1; // steady_clock is always there on this platform
double dTimerFreq = 1e9; // steady_clock counts nanoseconds

int64_t ReadLoadClock() {
  const auto t = std::chrono::steady_clock::now().time_since_epoch();
  if (bHiResTimer) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t).count();
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(t).count();
}

int32_t ElapsedMs(int64_t nStart) {
  const int64_t nEnd = ReadLoadClock();
  double e;
  if (bHiResTimer) {
    e = static_cast<double>(nEnd - nStart) * 1000.0 / dTimerFreq;
  } else {
    e = static_cast<double>(nEnd - nStart);
  }
  if (!(e > 0.0)) {
    return 0;
  }
  return e > kMaxElapsedMs ? kMaxElapsedMs : static_cast<int32_t>(e);
}

void ClearBlockMeters() {
  for (ChannelState &c : aChannels) {
    c.nPeakL = 0;
    c.nPeakR = 0;
    c.nLevelOut = 0;
  }
}

int32_t LevelSum() {
  int32_t nSum = 0;
  for (const ChannelState &c : aChannels) {
    nSum = WrapAdd(nSum, c.nLevelOut);
  }
  return nSum;
}

void FillChannelMeters(MeterFrame &m, const OutMeters &meters, int32_t nLevelSum) {
  for (int32_t ch = 0; ch < 16; ++ch) {
    const ChannelState &c = aChannels[ch];
    m.aChannel[ch].nPeakL = c.nPeakL;
    m.aChannel[ch].nPeakR = c.nPeakR;
    m.aChannel[ch].bSounding = c.nLevelOut != 0;
  }
  m.anSummary[kMeterOutPeakL] = meters.nOutPeakL;
  m.anSummary[kMeterOutPeakR] = meters.nOutPeakR;
  m.anSummary[kMeterLevelSum] = nLevelSum;
}

void ResetRenderStats() {
  for (int32_t &h : anLoadHist) {
    h = 0;
  }
  nLoadPercent = 0;
}

void UpdateLoadFigure(int32_t nElapsedMs, int32_t bPercent) {
  int32_t *h = anLoadHist;
  h[9] = h[8];
  h[8] = h[7] >> 1;
  h[7] = h[6] >> 1;
  h[6] = nElapsedMs;
  const int32_t x = (h[6] + h[7] + h[8] + h[9]) >> 1;
  h[5] = h[4];
  h[4] = h[3];
  h[3] = h[2];
  h[2] = h[1];
  h[1] = h[0];
  h[0] = x;
  if (!bPercent) {
    return;
  }
  const int32_t s = h[0] + h[1] + h[2] + h[3] + h[4] + h[5];
  const int32_t a = static_cast<int32_t>(s * 0.16666666666666666);
  // A block length not yet set gives no figure rather than a division by 0.
  const double dPercent = fBlockSeconds > 0.0f ? a / (fBlockSeconds * 10.0) : 0.0;
  nLoadPercent = dPercent >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(dPercent);
}
