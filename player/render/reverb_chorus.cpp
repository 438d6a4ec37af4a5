// The player's two send effects: a recirculating reverb comb and a swept
// single-tap chorus, each a stereo line of 16-bit frames.
#include <cmath>
#include <cstring>

#include "common/audio_math.h"
#include "player/render/effects.h"
#include "player/state/engine_state.h"

// The lines are static storage: there is no allocation that could fail, and a
// render that runs before the window's start-up message still finds them.
alignas(4) static uint8_t abReverbStore[kReverbLineBytes];
alignas(4) static uint8_t abChorusStore[kChorusLineBytes];

uint8_t *pReverbLine = abReverbStore;
int32_t nReverbReadPos = 0;
int32_t nReverbWritePos = 0;
int32_t nReverbDelay = 0;
int32_t nReverbInL = 0;
int32_t nReverbInR = 0;

uint8_t *pChorusLine = abChorusStore;
int32_t nChorusWritePos = 0;
int32_t nChorusReadPos = 0;
int32_t nChorusInL = 0;
int32_t nChorusInR = 0;
int32_t anChorusDelay[kChorusTableSize];
int32_t nChorusPhase = 0;
int32_t nChorusCount = 0;
int32_t nReverbQuiet = 0;
int32_t nChorusQuiet = 0;

void AllocReverbLine() {
  std::memset(pReverbLine, 0, kReverbLineBytes);
}

// Static storage outlives the window: nothing to give back.
void FreeReverbLine() {}

void AllocChorusLine() {
  std::memset(pChorusLine, 0, kChorusLineBytes);
}

void FreeChorusLine() {}

void ResetReverb() {
  std::memset(pReverbLine, 0, kReverbLineBytes);
  nReverbQuiet = 0;
  nReverbReadPos = 0;
  // The first write position is taken at 96000, not 88200; from the first
  // ReverbApply on it is the read position plus nReverbDelay.
  nReverbWritePos = (nPCMRate * 10000 / 96000) & kReverbPosMask;
}

void ResetChorus() {
  std::memset(pChorusLine, 0, kChorusLineBytes);
  nChorusQuiet = 0;
  nChorusWritePos = 0;
  nChorusReadPos = (0 - anChorusDelay[0]) & kChorusPosMask;
}

// One sine period around 384 * rate / 5200 bytes (18.5 ms) with amplitude
// 79 * rate / 5200 (the product s * 80 never quite reaches 80).
void BuildChorusTable() {
  for (int32_t i = 0; i < kChorusTableSize; ++i) {
    const double s = std::sin(i * 0.00390625 * 3.1415927);
    const int32_t v = static_cast<int32_t>(s * 80.0);
    anChorusDelay[i] = (v + 384) * nPCMRate / 5200;
  }
}

void StepChorusLfo() {
  ChorusLfoStep(nChorusPhase, nChorusCount, nPCMRate / kChorusStepDiv);
}

void ReverbLoad() {
  ReadLineFrame(pReverbLine, nReverbWritePos, nReverbInL, nReverbInR);
}

void ReverbApply(int32_t &nMixL, int32_t &nMixR) {
  nReverbQuiet = 0;
  ReverbStep(pReverbLine, nReverbReadPos, nReverbWritePos, nReverbDelay, nReverbInL, nReverbInR,
             nMixL, nMixR);
}

void ChorusClear() {
  nChorusInL = 0;
  nChorusInR = 0;
}

void ChorusApply(int32_t &nMixL, int32_t &nMixR) {
  nChorusQuiet = 0;
  ChorusStep(pChorusLine, nChorusReadPos, nChorusWritePos, anChorusDelay[nChorusPhase], nChorusInL,
             nChorusInR, nMixL, nMixR);
}
