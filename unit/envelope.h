// The two envelope models of a voice: the simple one of EPC and patch
// instruments and the five-stage one of FPV instruments. Each tick moves the
// level one step and sets nAmp; a level that reaches 0 ends the voice.
#pragma once

#include <cstdint>

#include "unit/channels.h"
#include "unit/soundset.h"
#include "unit/voices.h"

namespace vokra {

constexpr int32_t kFiveStageCountStep = 16; // five-stage nEnvCount falls by 16 per tick

// A voice ends: it is no longer rendered and nVoiceTop is recounted.
inline void EndVoice(Voice &rVoice) {
  rVoice.bActive = 0;
  CountVoices();
}

void SimpleTick(Voice &rVoice, const Instrument &rInst, const UnitChannel &rChannel);
void FiveStageTick(Voice &rVoice, const Instrument &rInst, const UnitChannel &rChannel);

// The envelope ticks that fell due (nEnvTimer has reached nRateNow); a few
// hundred to a few thousand a second, so out of line.
template <bool kFiveStage>
[[gnu::noinline]] void RunEnvelope(Voice &rVoice, const Instrument &rInst, int32_t nRateNow);

// Envelope ticks from now on that only count down (the envelope's level and
// stage stay put): INT32_MAX once the envelope has finished.
template <bool kFiveStage> int32_t QuietTicks(const Voice &rVoice) {
  if (rVoice.nStage >= (kFiveStage ? 5 : 4))
    return INT32_MAX;
  const int32_t nStepDown = kFiveStage ? kFiveStageCountStep : 1;
  if (rVoice.nEnvCount <= nStepDown)
    return 0;
  return (rVoice.nEnvCount - 1) / nStepDown;
}

} // namespace vokra
