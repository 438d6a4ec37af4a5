// The three block renderers (playback, sound test, recording), the output
// ring they write into and the start-of-run reset they share. The meter
// frames they fill are declared in meters.h.
#pragma once

#include <cstdint>

#include "player/render/meters.h"

constexpr int32_t kOutBufBytes = 17832; // largest block the player renders

extern uint8_t *apOutBuf[kOutBufCount];  // output ring buffers (owned by playback)
extern int32_t anBufState[kOutBufCount]; // 0 free, 1 being rendered, 2 queued, 3 playing
extern int32_t nBlockBytes;              // bytes per block, set by playback/recording start
extern float fBlockSeconds;              // nBlockBytes * 0.25 / nPCMRate, set at playback start

// Allocates the first nBuffers ring buffers (kOutBufBytes each, zeroed): the
// recorder fills only the first. Returns 1 when they all exist, else frees
// every buffer and returns 0.
int32_t AllocOutRing(int32_t nBuffers = kOutBufCount);
void FreeOutRing();
extern int32_t bBlockRender; // 0: units sample by sample even when they have MakeBlock

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
