// The block renderers and the meter frames they fill.
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

constexpr int32_t kOutBufBytes = 17832; // largest block the player renders
constexpr int32_t kOutBufCount = 8;

extern uint8_t *apOutBuf[kOutBufCount];  // output ring buffers (owned by playback)
extern int32_t anBufState[kOutBufCount]; // 0 free, 1 being rendered, 2 queued, 3 playing
extern int32_t nBlockBytes;              // bytes per block, set by playback/recording start
extern float fBlockSeconds;              // nBlockBytes * 0.25 / nPCMRate, set at playback start

// Allocates the eight ring buffers (kOutBufBytes each, zeroed); returns 1 when
// all eight exist, else frees those it got and returns 0.
int32_t AllocOutRing();
void FreeOutRing();
extern MeterFrame aMeterFrames[kOutBufCount];
extern int32_t abMeterReady[kOutBufCount];
extern MeterFrame CurMeterFrame; // frame of the buffer being heard
extern int32_t anLoadHist[10];   // load figure history, ms
extern int32_t nLoadPercent;     // smoothed render time per block, % of its duration
extern int32_t bHiResTimer;      // 1: load figure from the high-resolution clock
extern double dTimerFreq;        // its counts per second
extern int32_t bBlockRender;     // 0: units sample by sample even when they have MakeBlock

// Clears the per-run statistics (load history and figure); playback and
// sound-test start call it.
void ResetRenderStats();
// Feeds one block's render time (ms) into anLoadHist; with bPercent also
// recomputes nLoadPercent from fBlockSeconds.
void UpdateLoadFigure(int32_t nElapsedMs, int32_t bPercent);

// Renders length/4 frames of live playback into apOutBuf[index]; returns frames.
int32_t RenderBlock(int32_t nIndex, int32_t nBytes);
// Sound test: units only; returns bytes written.
int32_t RenderTestBlock(int32_t nIndex, int32_t nBytes);
// Recording: renders nBytes into apOutBuf[0].
void RenderRecordBlock(int32_t nBytes);

// Silent blocks rendered after the song has ended, at every start.
constexpr int32_t kTailBlocksAtStart = 16;
// What playback start and recording start share, after the units were given
// the rate: effects, sequencer and the units' channels reset, accumulators and
// band filter cleared, the song prepared at its opening tempo and 4/4.
void ResetEngineForStart();
