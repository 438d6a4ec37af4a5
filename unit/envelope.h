// The two envelope models of a voice: the simple one of EPC and patch
// instruments and the five-stage one of FPV instruments. Each tick moves the
// level one step and sets nAmp; a level that reaches 0 ends the voice.
#pragma once

#include <cstdint>

#include "common/audio_math.h"
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

// Whether a simple envelope's ticks leave level and amplitude alone for
// good: the second decay holding at its floor, where a tick either counts
// down or reloads nDecay2Period and puts the level back on the floor.
inline bool HoldsAtFloor(const Voice &rVoice, const Instrument &rInst) {
  return rVoice.nStage == 2 && rVoice.nLevel == rInst.nFloorLevel && rInst.nFloorLevel > 0 &&
         rInst.nDecay2Period > 0 && rVoice.nEnvCount > 0 &&
         rVoice.nAmp == Wrap32(static_cast<int64_t>(rVoice.nLevel) * rVoice.nVelGain);
}

// Envelope ticks from now on that leave the level and stage put (they only
// count down, or hold at the floor): INT32_MAX once nothing changes any more.
template <bool kFiveStage> int32_t QuietTicks(const Voice &rVoice, const Instrument &rInst) {
  if (rVoice.nStage >= (kFiveStage ? 5 : 4))
    return INT32_MAX;
  if (!kFiveStage && HoldsAtFloor(rVoice, rInst))
    return INT32_MAX;
  const int32_t nStepDown = kFiveStage ? kFiveStageCountStep : 1;
  if (rVoice.nEnvCount <= nStepDown)
    return 0;
  return (rVoice.nEnvCount - 1) / nStepDown;
}

// Runs nTicks of the quiet ticks QuietTicks allowed: the count goes down, and
// at the floor each tick that would reach 0 reloads nDecay2Period.
template <bool kFiveStage>
void RunQuietTicks(Voice &rVoice, const Instrument &rInst, int32_t nTicks) {
  if (nTicks <= 0 || rVoice.nStage >= (kFiveStage ? 5 : 4))
    return;
  if (kFiveStage) {
    rVoice.nEnvCount -= nTicks * kFiveStageCountStep;
    return;
  }
  const int32_t nCount = rVoice.nEnvCount;
  if (nTicks < nCount)
    rVoice.nEnvCount = nCount - nTicks;
  else // holding at the floor: a reload every nDecay2Period ticks from the count's end
    rVoice.nEnvCount = rInst.nDecay2Period - (nTicks - nCount) % rInst.nDecay2Period;
}

} // namespace vokra
