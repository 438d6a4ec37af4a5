// Reverb, chorus and 3D engine state and procedures.
#pragma once

#include <cstdint>

// 3D engine.
extern int32_t n3DSpan;      // depth in samples, from n3DLength and nPCMRate
extern int32_t n3DTapUnit;   // n3DSpan / 6, the longest tap
extern int32_t n3DEchoDelay; // 5 * n3DSpan / 6, Heavy recirculation distance
extern int32_t n3DPos;       // present position in all 32 lines, 0..16383

void ResetEffects();
void Update3DTaps(int32_t nChannel);
void Engine3DLight();
void Engine3DMedium();
void Engine3DHeavy();

// Reverb and chorus.
void AllocReverbLine();
void FreeReverbLine();
void AllocChorusLine();
void FreeChorusLine();
void ResetReverb();
void ResetChorus();
void StepChorusLfo();
void ReverbLoad();
void ReverbApply(int32_t &nMixL, int32_t &nMixR);
void ChorusClear();
void ChorusApply(int32_t &nMixL, int32_t &nMixR);
