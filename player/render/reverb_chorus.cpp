// The player's two send effects: a recirculating reverb comb and a swept
// single-tap chorus, each a stereo line of 16-bit frames.
#include <cmath>
#include <cstring>

#include "player/render/audio_math.h"
#include "player/render/effects.h"
#include "player/render/engine_state.h"

constexpr int32_t kReverbPosMask = 0x7ffc; // frame-aligned offsets in the reverb line
constexpr int32_t kChorusPosMask = 0x3ffc; // frame-aligned offsets in the chorus line

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

// A frame is two 16-bit little-endian values, sign-extended when read and
// stored as their low 16 bits (no saturation) when written.
static inline void ReadFrame(const uint8_t *pLine, int32_t nPos, int32_t &nL, int32_t &nR) {
  const uint8_t *p = pLine + nPos;
  nL = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
  nR = static_cast<int16_t>(static_cast<uint16_t>(p[2] | (p[3] << 8)));
}

static inline void WriteFrame(uint8_t *pLine, int32_t nPos, int32_t nL, int32_t nR) {
  uint8_t *p = pLine + nPos;
  p[0] = static_cast<uint8_t>(nL);
  p[1] = static_cast<uint8_t>(static_cast<uint32_t>(nL) >> 8);
  p[2] = static_cast<uint8_t>(nR);
  p[3] = static_cast<uint8_t>(static_cast<uint32_t>(nR) >> 8);
}

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
  nReverbReadPos = 0;
  // The first write position is taken at 96000, not 88200; from the first
  // ReverbApply on it is the read position plus nReverbDelay.
  nReverbWritePos = (nPCMRate * 10000 / 96000) & kReverbPosMask;
}

void ResetChorus() {
  std::memset(pChorusLine, 0, kChorusLineBytes);
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
  nChorusCount -= 1;
  if (nChorusCount < 0) {
    nChorusPhase = (nChorusPhase + 1) & (kChorusTableSize - 1);
    nChorusCount = nPCMRate / 400;
  }
}

void ReverbLoad() {
  ReadFrame(pReverbLine, nReverbWritePos, nReverbInL, nReverbInR);
}

void ReverbApply(int32_t &nMixL, int32_t &nMixR) {
  int32_t nDL, nDR;
  ReadFrame(pReverbLine, nReverbReadPos, nDL, nDR);
  nMixL = WrapAdd(nMixL, nDL * 4);
  nMixR = WrapAdd(nMixR, nDR * 4);
  nReverbInL = WrapAdd(nReverbInL, nDL * 80 / 128); // feedback -4.1 dB per repeat
  nReverbInR = WrapAdd(nReverbInR, nDR * 80 / 128);
  WriteFrame(pReverbLine, nReverbWritePos, nReverbInL, nReverbInR);
  WriteFrame(pReverbLine, nReverbReadPos, 0, 0);
  nReverbReadPos = (nReverbReadPos + 4) & kReverbPosMask;
  nReverbWritePos = (nReverbReadPos + nReverbDelay) & kReverbPosMask;
}

void ChorusClear() {
  nChorusInL = 0;
  nChorusInR = 0;
}

void ChorusApply(int32_t &nMixL, int32_t &nMixR) {
  int32_t nDL, nDR;
  ReadFrame(pChorusLine, nChorusReadPos, nDL, nDR);
  nMixL = WrapAdd(nMixL, nDL * 2);
  nMixR = WrapAdd(nMixR, nDR * 2);
  WriteFrame(pChorusLine, nChorusWritePos, nChorusInL, nChorusInR);
  nChorusWritePos = (nChorusWritePos + 4) & kChorusPosMask;
  nChorusReadPos = (nChorusWritePos - anChorusDelay[nChorusPhase]) & kChorusPosMask;
}
