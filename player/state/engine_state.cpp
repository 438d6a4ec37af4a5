#include "player/state/engine_state.h"

// Start values: the first-run settings defaults.
int32_t nPCMRate = 22050;
int32_t n3DLength = 0;
int32_t n3DENGIN = 0;
uint32_t dwProcessPriority = 0x20;
int32_t bPowerSave1 = 0;
int32_t bDispEnable = 1;
int32_t bUseEff1 = 1;
int32_t bUseEff3 = 1;
int32_t bLPF = 0;
int32_t bSizeGeometry = 1;
int32_t nSelDevice = 0;

int32_t anChannelAcc[48];
int32_t nMasterGain = 127;
int32_t nOutVolume = 127;
int32_t bMonoMix = 0;
int32_t nLpfL = 0;
int32_t nLpfR = 0;
int32_t nTailBlocks = 16;
int32_t bPlaying = 0;
int32_t nStartMeasure = 0;

int32_t bOutputOpen = 0;
void *hwndTest = nullptr;
