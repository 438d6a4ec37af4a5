// Reverb, chorus and 3D engine state and procedures. ResetEffects sets all of
// it at every start; the render loops move it per sample or per run, and a
// silent seek steps the chorus sweep.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "common/audio_math.h"
#include "player/state/engine_state.h"

// 3D engine (per-channel lines and taps live in ChannelState).
extern int32_t n3DSpan;      // depth in samples, from n3DLength and nPCMRate
extern int32_t n3DTapUnit;   // n3DSpan / 6, the longest tap
extern int32_t n3DEchoDelay; // 5 * n3DSpan / 6, Heavy recirculation distance
extern int32_t n3DPos;       // present position in all 32 lines, 0..16383
extern int32_t b3DSkipQuiet; // 1: pass by channels with no input and empty lines (same output)

// The deepest 3D depth, of either sign, whose (depth + 256) x rate fits 32
// bits at the highest rate, 96000 Hz. The stage is defined for every depth
// within it (taps beyond a line's length wrap); a depth beyond it, as a
// damaged settings file may hold, is taken as 0: the stage off.
constexpr int32_t kMax3DDepth = INT32_MAX / 96000 - 256;
inline int32_t Effective3DDepth(int32_t nLength) {
  return nLength >= -kMax3DDepth && nLength <= kMax3DDepth ? nLength : 0;
}

void ResetEffects();
void Update3DTaps(int32_t nChannel);
void Engine3DLight();
void Engine3DMedium();
void Engine3DHeavy();
// The engine n3DENGIN names: 1 Medium, 2 Heavy, anything else Light.
typedef void (*Pfn3DEngine)();
extern Pfn3DEngine pfn3DEngine; // per sample while n3DLength is not 0; Light until loaded
Pfn3DEngine Select3DEngine(int32_t nEngine);
// Sets pfn3DEngine from n3DENGIN; the settings code calls it after loading or saving.
void Apply3DEngineSetting();
// The engine's stage over a run of n samples (1 .. kBlockFrames) of the run
// loop's rows (accumulator k of sample i at pRows[k * kBlockFrames + i]):
// the values of n calls of the engine, each channel widened in place.
// nMask: bit ch set where the channel's rows may be non-zero (the others
// are all 0); returns it with the channels the lines gave something to.
typedef uint32_t (*Pfn3DRun)(int32_t *pRows, int32_t n, uint32_t nMask);
// The run form of pfnEngine, or nullptr when it has none.
Pfn3DRun Select3DRun(Pfn3DEngine pfnEngine);
extern int32_t b3DVectorRuns; // 1: four samples at a time where the taps allow (same values)
// Points the lower layers' hooks at the render layer: pan changes update the
// 3D taps, a silent seek steps the chorus modulation. Every start runs it.
void ConnectRenderHooks();

// Line sizes in bytes; a frame is 4 bytes (left, right: 16-bit little-endian).
constexpr int32_t kReverbLineBytes = 32768;
constexpr int32_t kChorusLineBytes = 16384;
constexpr int32_t kChorusTableSize = 512;

// Reverb.
extern uint8_t *pReverbLine;    // 8192 frames, static storage
extern int32_t nReverbReadPos;  // byte offset of the frame read (and cleared) now, 0..32764
extern int32_t nReverbWritePos; // byte offset of the frame written now, 0..32764
extern int32_t nReverbDelay;    // read-to-write distance in bytes, nPCMRate * 10000 / 88200
extern int32_t nReverbInL;      // reverb input of the current sample (wraps at 16 bits when stored)
extern int32_t nReverbInR;
extern int32_t nReverbQuiet; // frames since a non-zero frame went into the line, at most kLineQuiet

// Chorus.
extern uint8_t *pChorusLine;    // 4096 frames, static storage
extern int32_t nChorusWritePos; // byte offset, 0..16380
extern int32_t nChorusReadPos;  // byte offset, 0..16380
extern int32_t nChorusInL;      // chorus input of the current sample
extern int32_t nChorusInR;
extern int32_t anChorusDelay[kChorusTableSize]; // read-behind distance in bytes per phase
extern int32_t nChorusPhase;                    // modulation phase 0..511
extern int32_t nChorusCount;                    // samples until the phase steps
extern int32_t nChorusQuiet; // frames since a non-zero frame went into the line, at most kLineQuiet

// A line that has taken only zero frames for a whole turn of its writer holds
// nothing but zeros; the render loop then passes it by while its input stays
// zero. Anything else that writes a line sets its count back to 0.
constexpr int32_t kLineQuiet = 1 << 20;

// The per-sample steps on explicit state, inline: the procedures below run them
// on the globals, the render loop on copies it keeps in registers for a block.
// A frame is two 16-bit little-endian values, sign-extended when read and
// stored as their low 16 bits (no saturation) when written.
inline void ReadLineFrame(const uint8_t *pLine, int32_t nPos, int32_t &nL, int32_t &nR) {
  const uint8_t *p = pLine + nPos;
  if constexpr (std::endian::native == std::endian::little) {
    int16_t an[2]; // two loads instead of four bytes put together
    std::memcpy(an, p, sizeof an);
    nL = an[0];
    nR = an[1];
    return;
  }
  nL = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
  nR = static_cast<int16_t>(static_cast<uint16_t>(p[2] | (p[3] << 8)));
}

inline void WriteLineFrame(uint8_t *pLine, int32_t nPos, int32_t nL, int32_t nR) {
  uint8_t *p = pLine + nPos;
  if constexpr (std::endian::native == std::endian::little) {
    const uint32_t nFrame =
        static_cast<uint16_t>(nL) | static_cast<uint32_t>(static_cast<uint16_t>(nR)) << 16;
    std::memcpy(p, &nFrame, sizeof nFrame); // one store instead of four
    return;
  }
  p[0] = static_cast<uint8_t>(nL);
  p[1] = static_cast<uint8_t>(static_cast<uint32_t>(nL) >> 8);
  p[2] = static_cast<uint8_t>(nR);
  p[3] = static_cast<uint8_t>(static_cast<uint32_t>(nR) >> 8);
}

constexpr int32_t kReverbPosMask = 0x7ffc; // frame-aligned offsets in the reverb line
constexpr int32_t kChorusPosMask = 0x3ffc; // frame-aligned offsets in the chorus line
constexpr int32_t kChorusStepDiv = 400;    // the phase steps every nPCMRate / 400 + 1 samples

inline void ChorusLfoStep(int32_t &nPhase, int32_t &nCount, int32_t nReload) {
  nCount -= 1;
  if (nCount < 0) {
    nPhase = (nPhase + 1) & (kChorusTableSize - 1);
    nCount = nReload;
  }
}

// n steps of ChorusLfoStep at once.
inline void ChorusLfoRun(int32_t &nPhase, int32_t &nCount, int32_t nReload, int32_t n) {
  if (n <= nCount) {
    nCount -= n;
    return;
  }
  if (nReload < 0 || nCount < 0) {
    // Outside the clock's usual range: step by step, as ever.
    for (; n > 0; --n) {
      ChorusLfoStep(nPhase, nCount, nReload);
    }
    return;
  }
  // The first nCount + 1 steps reach the first move; then one every nReload + 1.
  n -= nCount + 1;
  const int32_t nPeriod = nReload + 1;
  const int32_t nMoves = 1 + n / nPeriod;
  nPhase = (nPhase + nMoves) & (kChorusTableSize - 1);
  nCount = nReload - n % nPeriod;
}

// Adds the line's output to the mix, feeds it back into the input, writes the
// input at nWritePos, clears the frame read and moves both positions on.
inline void ReverbStep(uint8_t *pLine, int32_t &nReadPos, int32_t &nWritePos, int32_t nDelay,
                       int32_t &nInL, int32_t &nInR, int32_t &nMixL, int32_t &nMixR) {
  int32_t nDL, nDR;
  ReadLineFrame(pLine, nReadPos, nDL, nDR);
  nMixL = WrapAdd(nMixL, nDL * 4);
  nMixR = WrapAdd(nMixR, nDR * 4);
  // Feedback -4.1 dB per repeat.
  nInL = WrapAdd(nInL, nDL * 80 / 128);
  nInR = WrapAdd(nInR, nDR * 80 / 128);
  WriteLineFrame(pLine, nWritePos, nInL, nInR);
  WriteLineFrame(pLine, nReadPos, 0, 0);
  nReadPos = (nReadPos + 4) & kReverbPosMask;
  nWritePos = (nReadPos + nDelay) & kReverbPosMask;
}

// Adds the swept tap to the mix, writes the input and moves both positions on.
inline void ChorusStep(uint8_t *pLine, int32_t &nReadPos, int32_t &nWritePos, int32_t nDelay,
                       int32_t nInL, int32_t nInR, int32_t &nMixL, int32_t &nMixR) {
  int32_t nDL, nDR;
  ReadLineFrame(pLine, nReadPos, nDL, nDR);
  nMixL = WrapAdd(nMixL, nDL * 2);
  nMixR = WrapAdd(nMixR, nDR * 2);
  WriteLineFrame(pLine, nWritePos, nInL, nInR);
  nWritePos = (nWritePos + 4) & kChorusPosMask;
  nReadPos = (nWritePos - nDelay) & kChorusPosMask;
}

void AllocReverbLine();
void FreeReverbLine();
void AllocChorusLine();
void FreeChorusLine();
void ResetReverb();
void ResetChorus();
// Fills anChorusDelay for nPCMRate (part of ResetEffects).
void BuildChorusTable();
void StepChorusLfo();
void ReverbLoad();
void ReverbApply(int32_t &nMixL, int32_t &nMixR);
void ChorusClear();
void ChorusApply(int32_t &nMixL, int32_t &nMixR);
