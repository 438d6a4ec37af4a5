// The meter frames a render fills (per buffer, shown when that buffer is
// heard) and the load figure: how long a block took against its duration.
#pragma once

#include <cstdint>

struct MeterChannel {
  int32_t nPeakL; // block peak, 1/1024 units
  int32_t nPeakR;
  int32_t bSounding; // nLevelOut non-zero at the block's end
};

// Summary record slots.
enum : int32_t {
  kMeterOutPeakL = 0,
  kMeterOutPeakR = 1,
  kMeterLevelSum = 2,
  kMeterClipped = 3,
  kMeterOverload = 4,
  kMeterLoadPercent = 5,
  kMeterMeasure = 6,  // nMeasure + 1
  kMeterBeatTick = 7, // (nBeatInMeasure << 16) | nTickInBeat
};

struct MeterFrame {
  MeterChannel aChannel[16];
  int32_t anSummary[8];
};

constexpr int32_t kOutBufCount = 8;

extern MeterFrame aMeterFrames[kOutBufCount];
extern int32_t abMeterReady[kOutBufCount];
extern MeterFrame CurMeterFrame; // frame of the buffer being heard
extern int32_t anLoadHist[10];   // load figure history, ms
extern int32_t nLoadPercent;     // smoothed render time per block, % of its duration
extern int32_t bHiResTimer;      // 1: load figure from the high-resolution clock
extern double dTimerFreq;        // its counts per second

// Clears the per-run statistics (load history and figure); playback and
// sound-test start call it.
void ResetRenderStats();
// Feeds one block's render time (ms) into anLoadHist; with bPercent also
// recomputes nLoadPercent from fBlockSeconds.
void UpdateLoadFigure(int32_t nElapsedMs, int32_t bPercent);

// What the renderers use around a block.
struct OutMeters {
  int32_t nOutPeakL; // largest |sample| of the block
  int32_t nOutPeakR;
  int32_t bClipped; // 1 when saturation changed a sample
};
// The load clock's count now: nanoseconds with the high-resolution clock,
// milliseconds without.
int64_t ReadLoadClock();
// Milliseconds since nStart (a ReadLoadClock count), 0 when negative.
int32_t ElapsedMs(int64_t nStart);
// Every channel's peaks and level back to 0.
void ClearBlockMeters();
// The sum of the channels' nLevelOut: the voices still sounding.
int32_t LevelSum();
// Channel records and summary slots 0-2 of a meter frame.
void FillChannelMeters(MeterFrame &m, const OutMeters &meters, int32_t nLevelSum);
