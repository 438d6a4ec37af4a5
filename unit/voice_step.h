// One voice, one output sample: the step through the data, the end-of-data
// rule, the read (or the line between two reads) and the envelope ticks that
// fell due. Inline here so that Make's voice loop can take the four routines
// without a call per voice and sample.
#pragma once

#include <cstdint>

#include "common/audio_math.h"
#include "unit/channels.h"
#include "unit/envelope.h"
#include "unit/soundset.h"
#include "unit/unit_state.h"
#include "unit/voice_math.h"
#include "unit/voices.h"

namespace vokra {

constexpr int32_t kPrefetchAhead = 256; // bytes: 128 source samples ahead

// End-of-data rule, once nPos has passed nEnd. Out of line: it runs once per
// loop pass, not per sample.
template <bool kFiveStage> [[gnu::noinline]] void PastEnd(Voice &rVoice, const Instrument &rInst);

// A voice with nothing to play ends at once, without a recount. A negative
// size (a corrupt header) counts as no data, as 0 does.
inline bool EndWithoutData(Voice &rVoice, const Instrument &rInst) {
  if (rInst.pData != nullptr && rVoice.nStep != 0 && rInst.nDataSize > 0)
    return false;
  rVoice.nStage = kStageEnded;
  rVoice.bActive = 0;
  return true;
}

// A voice's output at position p0 and fraction f0 (read before the step):
// the sample, or the line to the next one (past nEnd, the loop's start, or
// the sample a loop length back), times the amplitude.
template <bool kInterp, bool kFiveStage>
inline int32_t VoiceSample(const Instrument &rInst, int32_t nLimit, int32_t p0, int32_t f0,
                           int32_t nAmp) {
  const uint8_t *pData = rInst.pData;
  int32_t x;
  if (kInterp) {
    int32_t q = Wrap32(static_cast<int64_t>(p0) + 2);
    if (q > rInst.nEnd)
      q = kFiveStage ? Wrap32(static_cast<int64_t>(p0) + 2 - rInst.nLoopLength) : rInst.nLoopStart;
    const int32_t s0 = Fetch(pData, p0, nLimit);
    const int32_t s1 = Fetch(pData, q, nLimit);
    x = s0 + (s1 - s0) * f0 / kStepUnit;
  } else {
    x = Fetch(pData, p0, nLimit);
  }
  return Wrap32(static_cast<int64_t>(x) * nAmp / kAmpScale);
}

// The frame shared by all four routines. kInterp: linear interpolation;
// kFiveStage: five-stage envelope and its end-of-data rules. nSine and nRateNow
// are anLfoSine[nLfoPhase] and nRate, which stay put during a Make call. The
// voice's fields are read into locals once: stores through the record could
// otherwise alias every later read.
template <bool kInterp, bool kFiveStage>
inline int32_t RenderVoice(Voice &rVoice, int32_t nSine, int32_t nRateNow) {
  const Instrument &rInst = aInstrument[rVoice.nInstrument];
  const uint8_t *pData = rInst.pData;
  const int32_t nStep = rVoice.nStep;
  const int32_t nDataSize = rInst.nDataSize;
  if (EndWithoutData(rVoice, rInst))
    return 0;
  const int32_t nEnd = rInst.nEnd;
  const int32_t nLimit = nDataSize + kBlockSlack - 2; // last offset inside the block
  const int32_t p0 = rVoice.nPos;
  const int32_t f0 = rVoice.nFrac;
  const int32_t nAmp = rVoice.nAmp; // the end-of-data rule leaves it alone
  const int32_t nModulation = aUnitChannel[rVoice.nChannel].nModulation;
  // Dozens of voices each read their own stream of sample data, more streams
  // than the hardware follows: ask for the data a few lines ahead. A hint
  // only; it never faults, also past the block.
  __builtin_prefetch(reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(pData) +
                                                    static_cast<uint32_t>(p0) + kPrefetchAhead));

  // Without modulation the vibrato term is 0: skip its 64-bit product.
  int32_t nInc = nStep;
  if (nModulation != 0)
    nInc = nStep + Wrap32(static_cast<int64_t>(nStep) * nSine * nModulation / kVibratoScale);
  const int32_t nFrac = f0 + nInc;
  if (nFrac >= kStepUnit) {
    // nFrac is positive here: the unsigned quotient is the same and cheaper.
    const int32_t nWhole = static_cast<int32_t>(static_cast<uint32_t>(nFrac) / uint32_t{kStepUnit});
    const int32_t nPos = Wrap32(p0 + 2 * static_cast<int64_t>(nWhole));
    rVoice.nFrac = nFrac - kStepUnit * nWhole;
    rVoice.nPos = nPos;
    if (nPos > nEnd)
      PastEnd<kFiveStage>(rVoice, rInst);
  } else {
    rVoice.nFrac = nFrac;
  }

  const int32_t nOut = VoiceSample<kInterp, kFiveStage>(rInst, nLimit, p0, f0, nAmp);

  const int32_t nEnvTimer = rVoice.nEnvTimer + rVoice.nEnvClock;
  rVoice.nEnvTimer = nEnvTimer;
  if (nEnvTimer >= nRateNow)
    RunEnvelope<kFiveStage>(rVoice, rInst, nRateNow);
  return nOut;
}

} // namespace vokra
