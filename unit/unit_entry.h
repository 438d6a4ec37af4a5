// The unit's entry points in C++ form; unit/plugin/ exports them under their
// C names. MidiIn is in channels.h, the sound-set entry points in soundset.h.
#pragma once

#include <cstdint>

namespace vokra {

constexpr int32_t kPanScale = 24576; // 0x6000: channel gain 124 x pan 63, roughly

int32_t GetType();
// Copies "VOKRA SOUND GENERATOR" and its NUL when pszName is not null;
// returns the name's length without the NUL.
int32_t GetName(char *pszName);
int32_t GetVer();
int32_t TestDLL();
// Silent, empty unit: voices stopped, channels reset, tables built,
// instruments cleared, rate 44100. pszDir must end in a path separator.
void InitUNIT(void *hwnd, const char *pszDir);
// Rate for notes started from now on; returns its argument.
int32_t SetRate(int32_t nNewRate);
// Adds one output sample of every active voice to the 48 accumulators.
void Make(int32_t *pAcc);
// Make's first step: the vibrato phase of the coming sample.
void StepLfo();

} // namespace vokra
