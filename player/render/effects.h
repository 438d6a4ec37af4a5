// Reverb, chorus and 3D engine state and procedures. All of it is written by
// ResetEffects at every start and by the render loop per sample, nothing else.
#pragma once

#include <cstdint>

// 3D engine (per-channel lines and taps live in ChannelState).
extern int32_t n3DSpan;      // depth in samples, from n3DLength and nPCMRate
extern int32_t n3DTapUnit;   // n3DSpan / 6, the longest tap
extern int32_t n3DEchoDelay; // 5 * n3DSpan / 6, Heavy recirculation distance
extern int32_t n3DPos;       // present position in all 32 lines, 0..16383
extern int32_t b3DSkipQuiet; // 1: pass by channels with no input and empty lines (same output)

void ResetEffects();
void Update3DTaps(int32_t nChannel);
void Engine3DLight();
void Engine3DMedium();
void Engine3DHeavy();
// The engine n3DENGIN names: 1 Medium, 2 Heavy, anything else Light.
typedef void (*Pfn3DEngine)();
Pfn3DEngine Select3DEngine(int32_t nEngine);
// Sets pfn3DEngine from n3DENGIN; the settings code calls it after loading or saving.
void Apply3DEngineSetting();

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

// Chorus.
extern uint8_t *pChorusLine;    // 4096 frames, static storage
extern int32_t nChorusWritePos; // byte offset, 0..16380
extern int32_t nChorusReadPos;  // byte offset, 0..16380
extern int32_t nChorusInL;      // chorus input of the current sample
extern int32_t nChorusInR;
extern int32_t anChorusDelay[kChorusTableSize]; // read-behind distance in bytes per phase
extern int32_t nChorusPhase;                    // modulation phase 0..511
extern int32_t nChorusCount;                    // samples until the phase steps

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
