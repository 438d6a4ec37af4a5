// The two envelope models: one tick of each, and the ticks that fell due.
#include "unit/envelope.h"

#include "common/audio_math.h"

namespace vokra {

namespace {

constexpr int32_t kHoldCount = 0x7FFF;       // five-stage "hold": no further steps
constexpr int32_t kSimpleAttackPeriod = 5;   // ticks between simple attack steps
constexpr int32_t kSimpleReleasePeriod = 20; // ticks between simple release steps
constexpr int32_t kSimpleTop = 127;          // simple envelope peak level
constexpr int32_t kRateBase = 96;            // five-stage counts are 96 - rate

// One level step towards a target; true when the target is reached.
bool StepToward(Voice &rVoice, int32_t nDepth, int32_t nTarget) {
  if (nDepth < 0) {
    rVoice.nLevel += 1;
    return rVoice.nLevel >= nTarget;
  }
  rVoice.nLevel -= 1;
  return rVoice.nLevel <= nTarget;
}

} // namespace

void SimpleTick(Voice &rVoice, const Instrument &rInst, const UnitChannel &rChannel) {
  if (rVoice.nStage >= 4)
    return;
  // Counts and steps come from sample files unchecked: wrap, never overflow.
  rVoice.nEnvCount = Wrap32(static_cast<int64_t>(rVoice.nEnvCount) - 1);
  if (rVoice.nEnvCount > 0)
    return;
  switch (rVoice.nStage) {
  case 0: {
    // Any step above 127 - 0 reaches the top in one go: bound it there.
    int64_t a = static_cast<int64_t>(rInst.nAttackStep) - (rChannel.nAttackTime - 64);
    if (a < 1)
      a = 1;
    if (a > 2 * kSimpleTop)
      a = 2 * kSimpleTop;
    rVoice.nEnvCount = kSimpleAttackPeriod;
    rVoice.nLevel += static_cast<int32_t>(a);
    if (rVoice.nLevel >= kSimpleTop) {
      rVoice.nLevel = kSimpleTop;
      rVoice.nStage = 1;
      rVoice.nEnvCount = rInst.nDecayPeriod;
    }
    break;
  }
  case 1:
    rVoice.nEnvCount = rInst.nDecayPeriod;
    rVoice.nLevel -= 1;
    if (rVoice.nLevel <= rInst.nDecayLevel) {
      rVoice.nStage = 2;
      rVoice.nEnvCount = rInst.nDecay2Period;
    }
    break;
  case 2:
    rVoice.nEnvCount = rInst.nDecay2Period;
    rVoice.nLevel -= 1;
    if (rVoice.nLevel <= rInst.nFloorLevel)
      rVoice.nLevel = rInst.nFloorLevel;
    break;
  default: { // 3 release
    int64_t r = static_cast<int64_t>(rInst.nReleaseStep) - (rChannel.nReleaseTime - 64);
    if (r < 1)
      r = 1;
    rVoice.nEnvCount = kSimpleReleasePeriod;
    rVoice.nLevel = Wrap32(rVoice.nLevel - r);
    break;
  }
  }
  if (rVoice.nLevel <= 0) {
    rVoice.nLevel = 0;
    rVoice.nStep = 0;
    rVoice.nEnvCount = 0;
    rVoice.nFrac = 0;
    rVoice.nPos = 0;
    rVoice.nStage = 4;
    EndVoice(rVoice);
  }
  rVoice.nAmp = Wrap32(static_cast<int64_t>(rVoice.nLevel) * rVoice.nVelGain);
}

void FiveStageTick(Voice &rVoice, const Instrument &rInst, const UnitChannel &rChannel) {
  if (rVoice.nStage >= 5)
    return;
  rVoice.nEnvCount -= kFiveStageCountStep;
  if (rVoice.nEnvCount > 0)
    return;

  int32_t nReload;
  bool bHold = false;
  switch (rVoice.nStage) {
  case 0:
    nReload = (kRateBase - rInst.nAttackRate - (rChannel.nAttackTime - 64)) * 4;
    if (nReload < 1)
      nReload = 1;
    break;
  case 1:
    nReload = (kRateBase - rInst.nDecay1Rate) * 2;
    bHold = nReload == 0;
    break;
  case 2:
    nReload = (kRateBase - rInst.nDecay2Rate) * 4;
    bHold = nReload == 0 || rInst.nDecay2Depth == 0;
    break;
  case 3:
    nReload = (kRateBase - rInst.nDecay3Rate) * 3;
    bHold = nReload == 0;
    break;
  default: { // 4 release
    const int32_t c = kRateBase - rInst.nReleaseRate;
    if (c == 0)
      rVoice.nLevel = 0;
    nReload = (c - (rChannel.nReleaseTime - 64)) * 2;
    if (nReload < 1)
      nReload = 1;
    break;
  }
  }

  if (bHold) {
    rVoice.nEnvCount = kHoldCount;
  } else {
    rVoice.nEnvCount = nReload;
    // The divider gate lets one expiry in nRateDivider + 2 make a step.
    if (rVoice.nEnvSub <= rInst.nRateDivider) {
      rVoice.nEnvSub += 1;
      return;
    }
    rVoice.nEnvSub = 0;
    const int32_t t1 = rInst.nPeakLevel - rInst.nDecay1Depth;
    const int32_t t2 = t1 - rInst.nDecay2Depth;
    switch (rVoice.nStage) {
    case 0:
      rVoice.nLevel += 1;
      if (rVoice.nLevel >= rInst.nPeakLevel) {
        rVoice.nLevel = rInst.nPeakLevel;
        rVoice.nStage = 1;
        rVoice.nEnvCount = kRateBase - rInst.nDecay1Rate;
      }
      break;
    case 1:
      if (StepToward(rVoice, rInst.nDecay1Depth, t1)) {
        rVoice.nStage = 2;
        rVoice.nEnvCount = kRateBase - rInst.nDecay2Rate;
      }
      break;
    case 2:
      if (StepToward(rVoice, rInst.nDecay2Depth, t2)) {
        rVoice.nStage = 3;
        rVoice.nEnvCount = kRateBase - rInst.nDecay3Rate;
      }
      break;
    default: // 3 sustain decay, 4 release
      rVoice.nLevel -= 1;
      break;
    }
  }
  if (rVoice.nLevel <= 0) {
    rVoice.nLevel = 0;
    rVoice.nStep = 0;
    rVoice.nFrac = 0;
    rVoice.nPos = 0;
    rVoice.nEnvCount = kHoldCount;
    rVoice.nStage = 5;
    EndVoice(rVoice);
  }
  rVoice.nAmp = Wrap32(static_cast<int64_t>(rVoice.nLevel) * rVoice.nVelGain);
}

template <bool kFiveStage>
void RunEnvelope(Voice &rVoice, const Instrument &rInst, int32_t nRateNow) {
  const UnitChannel &rChannel = aUnitChannel[rVoice.nChannel];
  while (rVoice.nEnvTimer >= nRateNow) {
    rVoice.nEnvTimer -= nRateNow;
    if (kFiveStage)
      FiveStageTick(rVoice, rInst, rChannel);
    else
      SimpleTick(rVoice, rInst, rChannel);
  }
}

template void RunEnvelope<false>(Voice &, const Instrument &, int32_t);
template void RunEnvelope<true>(Voice &, const Instrument &, int32_t);

} // namespace vokra
