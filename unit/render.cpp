// The four render routines (with or without interpolation, simple or
// five-stage envelope) and the two envelope models they run.
#include "unit/channels.h"
#include "unit/soundset.h"
#include "unit/unit_state.h"
#include "unit/voices.h"

namespace vokra {

namespace {

constexpr int32_t kAmpScale = 16384;         // out = sample x nAmp / 16384
constexpr int32_t kVibratoScale = 1000000;   // sine 255 x modulation 127: about 3.3 %
constexpr int32_t kHoldCount = 0x7FFF;       // five-stage "hold": no further steps
constexpr int32_t kFiveStageCountStep = 16;  // five-stage nEnvCount falls by 16 per tick
constexpr int32_t kSimpleAttackPeriod = 5;   // ticks between simple attack steps
constexpr int32_t kSimpleReleasePeriod = 20; // ticks between simple release steps
constexpr int32_t kSimpleTop = 127;          // simple envelope peak level
constexpr int32_t kRateBase = 96;            // five-stage counts are 96 - rate

int32_t Wrap32(int64_t n) {
  return static_cast<int32_t>(static_cast<uint32_t>(n));
}

// The signed 16-bit little-endian sample at byte offset nOffset; 0 outside
// the block (0 .. nLimit), so no position can read outside the data.
int32_t Fetch(const uint8_t *pData, int32_t nOffset, int32_t nLimit) {
  if (static_cast<uint32_t>(nOffset) > static_cast<uint32_t>(nLimit))
    return 0;
  return static_cast<int16_t>(pData[nOffset] | (pData[nOffset + 1] << 8));
}

void EndVoice(Voice &rVoice) {
  rVoice.bActive = 0;
  CountVoices();
}

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

// One level step towards a target; true when the target is reached.
bool StepToward(Voice &rVoice, int32_t nDepth, int32_t nTarget) {
  if (nDepth < 0) {
    rVoice.nLevel += 1;
    return rVoice.nLevel >= nTarget;
  }
  rVoice.nLevel -= 1;
  return rVoice.nLevel <= nTarget;
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

// The frame shared by all four routines. kInterp: linear interpolation;
// kFiveStage: five-stage envelope and its end-of-data rules.
template <bool kInterp, bool kFiveStage> int32_t RenderVoice(int32_t nVoice) {
  Voice &rVoice = aVoice[nVoice];
  const Instrument &rInst = aInstrument[rVoice.nInstrument];
  const UnitChannel &rChannel = aUnitChannel[rVoice.nChannel];
  const uint8_t *pData = rInst.pData;

  // A negative size (a corrupt header) counts as no data, as 0 does.
  if (pData == nullptr || rVoice.nStep == 0 || rInst.nDataSize <= 0) {
    rVoice.nStage = kStageEnded;
    rVoice.bActive = 0;
    return 0;
  }
  const int32_t nEnd = rInst.nEnd;
  const int32_t nLimit = rInst.nDataSize + kBlockSlack - 2; // last offset inside the block
  const int32_t p0 = rVoice.nPos;
  const int32_t f0 = rVoice.nFrac;

  const int32_t nInc =
      rVoice.nStep + Wrap32(static_cast<int64_t>(rVoice.nStep) * anLfoSine[nLfoPhase] *
                            rChannel.nModulation / kVibratoScale);
  rVoice.nFrac += nInc;
  if (rVoice.nFrac >= kStepUnit) {
    const int32_t nWhole = rVoice.nFrac / kStepUnit;
    rVoice.nPos = Wrap32(rVoice.nPos + 2 * static_cast<int64_t>(nWhole));
    rVoice.nFrac -= kStepUnit * nWhole;
    if (rVoice.nPos > nEnd) {
      // Distance the loop jumps back; the loop runs from nEnd + 2 - nLoopBack to nEnd.
      // Formed wide: loop points come from sample files unchecked.
      int64_t nLoopBack;
      if (kFiveStage)
        nLoopBack = rInst.nLoopLength;
      else
        nLoopBack = static_cast<int64_t>(nEnd) - rInst.nLoopStart + 2;
      if (!rInst.bLoop) {
        rVoice.nStage = kFiveStage ? 5 : 4;
        EndVoice(rVoice);
      } else {
        if (kFiveStage && rChannel.bRhythm) {
          rVoice.nLevel = 0;
          rVoice.nStage = 5;
          rVoice.bHeldOff = 0;
          EndVoice(rVoice);
        }
        int64_t nPos = rVoice.nPos - nLoopBack;
        // A step longer than the loop leaves the position past the end:
        // fold it into the loop, or end the voice when the loop is empty.
        if (nPos > nEnd && rVoice.bActive) {
          if (nLoopBack > 0) {
            const int64_t nLoopFrom = nEnd + 2 - nLoopBack;
            nPos = nLoopFrom + (nPos - nLoopFrom) % nLoopBack;
          } else {
            rVoice.nStage = kFiveStage ? 5 : 4;
            EndVoice(rVoice);
          }
        }
        rVoice.nPos = Wrap32(nPos);
      }
    }
  }

  int32_t x;
  if (kInterp) {
    int32_t q = Wrap32(static_cast<int64_t>(p0) + 2);
    if (q > nEnd)
      q = kFiveStage ? Wrap32(static_cast<int64_t>(p0) + 2 - rInst.nLoopLength) : rInst.nLoopStart;
    const int32_t s0 = Fetch(pData, p0, nLimit);
    const int32_t s1 = Fetch(pData, q, nLimit);
    x = s0 + (s1 - s0) * f0 / kStepUnit;
  } else {
    x = Fetch(pData, p0, nLimit);
  }
  const int32_t nOut = Wrap32(static_cast<int64_t>(x) * rVoice.nAmp / kAmpScale);

  rVoice.nEnvTimer += rVoice.nEnvClock;
  while (rVoice.nEnvTimer >= nRate) {
    rVoice.nEnvTimer -= nRate;
    if (kFiveStage)
      FiveStageTick(rVoice, rInst, rChannel);
    else
      SimpleTick(rVoice, rInst, rChannel);
  }
  return nOut;
}

} // namespace

int32_t RenderSimple(int32_t nVoice) {
  return RenderVoice<false, false>(nVoice);
}
int32_t RenderSimpleInterp(int32_t nVoice) {
  return RenderVoice<true, false>(nVoice);
}
int32_t RenderFiveStage(int32_t nVoice) {
  return RenderVoice<false, true>(nVoice);
}
int32_t RenderFiveStageInterp(int32_t nVoice) {
  return RenderVoice<true, true>(nVoice);
}

} // namespace vokra
