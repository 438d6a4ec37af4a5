// Placeholder until reverb and chorus land: keeps the engine library linkable.
#include "player/render/effects.h"

void AllocReverbLine() {}
void FreeReverbLine() {}
void AllocChorusLine() {}
void FreeChorusLine() {}
void ResetReverb() {}
void ResetChorus() {}
void StepChorusLfo() {}
void ReverbLoad() {}
void ReverbApply(int32_t &, int32_t &) {}
void ChorusClear() {}
void ChorusApply(int32_t &, int32_t &) {}
