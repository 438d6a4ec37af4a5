#include "unit/unit_state.h"

namespace vokra {

int32_t nRate = 44100;
int32_t nFinalGain = 127;
int32_t bOverSample = 0;
int32_t nLfoPhase = 0;
int32_t nLfoCount = 0;
int32_t nVoiceTop = 0;
char szUnitDir[kUnitDirBytes] = "";
int32_t bUnitDirTooLong = 0;
void *hwndHost = nullptr;
char szCfgName[kCfgNameBytes] = "VOKRA.cfg";

} // namespace vokra
