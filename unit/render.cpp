// The four render routines (with or without interpolation, simple or
// five-stage envelope) and the two envelope models they run.
#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#include <tmmintrin.h>
#endif
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h> // the AVX2 loops (VOKRA_WIDE_SUMS)
#endif

#include "common/audio_math.h"
#include "unit/channels.h"
#include "unit/soundset.h"
#include "unit/unit_state.h"
#include "unit/voices.h"

namespace vokra {

#if defined(VOKRA_WIDE_SUMS)
bool bShuffleReads = [] {
  __builtin_cpu_init(); // may run before the library's other constructors
  return __builtin_cpu_supports("ssse3") != 0;
}();
bool bWideSums = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}();
#else
bool bShuffleReads = false;
bool bWideSums = false;
#endif

namespace {

constexpr int32_t kAmpScale = 16384;         // out = sample x nAmp / 16384 (2^14)
constexpr int32_t kVibratoScale = 1000000;   // sine 255 x modulation 127: about 3.3 %
constexpr int32_t kHoldCount = 0x7FFF;       // five-stage "hold": no further steps
constexpr int32_t kFiveStageCountStep = 16;  // five-stage nEnvCount falls by 16 per tick
constexpr int32_t kSimpleAttackPeriod = 5;   // ticks between simple attack steps
constexpr int32_t kSimpleReleasePeriod = 20; // ticks between simple release steps
constexpr int32_t kSimpleTop = 127;          // simple envelope peak level
constexpr int32_t kRateBase = 96;            // five-stage counts are 96 - rate
constexpr int32_t kPrefetchAhead = 256;      // bytes: 128 source samples ahead
constexpr int32_t kPrefetchSpan = 1024;      // bytes of a voice's next block asked for at most
constexpr int32_t kCacheLine = 64;           // bytes
constexpr int64_t kVoiceScale = 8128;        // Make: instrument gain 64 x final gain 127

// The signed 16-bit little-endian sample at byte offset nOffset; 0 outside
// the block (0 .. nLimit), so no position can read outside the data.
int32_t Fetch(const uint8_t *pData, int32_t nOffset, int32_t nLimit) {
  if (static_cast<uint32_t>(nOffset) > static_cast<uint32_t>(nLimit))
    return 0;
  if constexpr (std::endian::native == std::endian::little) {
    int16_t nSample; // one load instead of two bytes put together
    std::memcpy(&nSample, pData + nOffset, sizeof nSample);
    return nSample;
  }
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

// End-of-data rule, once nPos has passed nEnd. Kept out of line: it runs
// once per loop pass, not per sample.
template <bool kFiveStage> [[gnu::noinline]] void PastEnd(Voice &rVoice, const Instrument &rInst) {
  const int32_t nEnd = rInst.nEnd;
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
    return;
  }
  if (kFiveStage && aUnitChannel[rVoice.nChannel].bRhythm) {
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

// The envelope ticks that fell due (nEnvTimer has reached nRateNow); a few
// hundred to a few thousand a second, so out of line too.
template <bool kFiveStage>
[[gnu::noinline]] void RunEnvelope(Voice &rVoice, const Instrument &rInst, int32_t nRateNow) {
  const UnitChannel &rChannel = aUnitChannel[rVoice.nChannel];
  while (rVoice.nEnvTimer >= nRateNow) {
    rVoice.nEnvTimer -= nRateNow;
    if (kFiveStage)
      FiveStageTick(rVoice, rInst, rChannel);
    else
      SimpleTick(rVoice, rInst, rChannel);
  }
}

// A voice with nothing to play ends at once, without a recount. A negative
// size (a corrupt header) counts as no data, as 0 does.
bool EndWithoutData(Voice &rVoice, const Instrument &rInst) {
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

// Samples of a voice that raise no event: no envelope step, no step past
// nEnd, no vibrato. Position and fraction advance by the step's whole and
// fractional parts, the same sums RenderVoice forms with its division.
// kChecked: a position may lie outside the data, so reads go through Fetch's
// bound; otherwise every read is known to be inside.
// Make's weighting of a voice, out x nGain / 8128: at the usual gains it is
// out itself, and when 127 divides nGain (the final gain at its default) it
// is out x (nGain / 127) / 64, a shift.
enum class Weight { Unit, Shift, Divide };

template <Weight kWeight> int64_t Weigh(int32_t nOut, int64_t nGain) {
  if constexpr (kWeight == Weight::Unit)
    return nOut;
  if constexpr (kWeight == Weight::Shift) {
    const int64_t v = nOut * nGain; // nGain here is nGain / 127, below 2^24
    return (v + ((v >> 63) & (kVoiceScale / 127 - 1))) >> 6;
  }
  return static_cast<int64_t>(static_cast<uint64_t>(nOut) * static_cast<uint64_t>(nGain)) /
         kVoiceScale;
}

template <bool kInterp, bool kFiveStage, Weight kWeight, bool kChecked> struct Stretch {
  const uint8_t *pData;
  int32_t nLimit;
  int32_t nEnd;
  int32_t nLoopFrom; // where an interpolation partner past nEnd is taken
  int32_t nAmp;
  int32_t nStep; // > 0
  int64_t nGain; // as Weigh takes it

  int32_t Read(int32_t nOffset) const {
    if (kChecked)
      return Fetch(pData, nOffset, nLimit);
    int16_t nSample;
    std::memcpy(&nSample, pData + nOffset, sizeof nSample);
    return nSample;
  }

  // Sample i reads at p + 2 x ((f + i x nStep) / 272) with fraction
  // (f + i x nStep) % 272: the same positions as adding the step's whole and
  // fractional parts sample by sample, but with no chain from one sample to
  // the next through the carry, and no branch on it.
  void Run(int32_t &p, int32_t &f, int32_t *pnSum, int32_t nCount) const {
    // The phase sum must stay in 32 bits: long stretches of fast steps go in
    // parts. A block's stretch fits, and needs no division to say so.
    if (static_cast<uint64_t>(nCount) * static_cast<uint32_t>(nStep) <= UINT32_MAX - kStepUnit) {
      RunPart(p, f, pnSum, nCount);
      return;
    }
    const int32_t nPart =
        static_cast<int32_t>((UINT32_MAX - kStepUnit) / static_cast<uint32_t>(nStep));
    while (nCount > 0) {
      const int32_t n = nCount < nPart ? nCount : nPart;
      RunPart(p, f, pnSum, n);
      pnSum += n;
      nCount -= n;
    }
  }

  void RunPart(int32_t &p, int32_t &f, int32_t *pnSum, int32_t nCount) const {
    uint32_t nPhase = static_cast<uint32_t>(f); // 0 <= f < 272
    const uint32_t nInc = static_cast<uint32_t>(nStep);
    int32_t i = 0;
#if defined(__SSE2__)
    if constexpr (!kInterp && kWeight == Weight::Unit && !kChecked) {
      if (nAmp >= 0 && nAmp <= INT16_MAX)
        i = RunFours(p, nPhase, pnSum, nCount);
    }
    if constexpr (!kInterp && kWeight == Weight::Shift && !kChecked) {
      // out stays within 16 bits, and out x nGain within 32.
      if (nAmp >= 0 && nAmp <= kAmpScale && nGain >= 0 && nGain <= INT16_MAX)
        i = RunFours(p, nPhase, pnSum, nCount);
    }
#endif
    for (; i < nCount; ++i, nPhase += nInc) {
      const uint32_t nWhole = nPhase / kStepUnit;
      const int32_t pi = p + static_cast<int32_t>(2 * nWhole); // stays <= nEnd
      int32_t x;
      if (kInterp) {
        const int32_t fi = static_cast<int32_t>(nPhase - nWhole * kStepUnit);
        int32_t q = pi + 2;
        if (q > nEnd)
          q = kFiveStage ? Wrap32(static_cast<int64_t>(pi) + 2 - nLoopFrom) : nLoopFrom;
        const int32_t s0 = Read(pi);
        const int32_t s1 = Read(q);
        x = s0 + (s1 - s0) * fi / kStepUnit;
      } else {
        x = Read(pi);
      }
      const int32_t nOut = Wrap32(static_cast<int64_t>(x) * nAmp / kAmpScale);
      const int64_t nAdd = Weigh<kWeight>(nOut, nGain);
      pnSum[i] =
          static_cast<int32_t>(static_cast<uint32_t>(pnSum[i]) + static_cast<uint32_t>(nAdd));
    }
    const uint32_t nWhole = nPhase / kStepUnit;
    p += static_cast<int32_t>(2 * nWhole);
    f = static_cast<int32_t>(nPhase - nWhole * kStepUnit);
  }

#if defined(__SSE2__)
  typedef int16_t Unaligned16 [[gnu::aligned(1), gnu::may_alias]];
  // Bytes a window may read past the last sample a pass needs (eight source
  // samples for steps below one, sixteen for steps below two); the block's
  // slack behind the data covers them.
  static constexpr int32_t kWindowOver = 14;
  static constexpr int32_t kWindowOver2 = 16;

  // The factors in vector form, made once per stretch: stores into the sums
  // could alias the record's fields, so they are not read again in a loop.
  struct Factors {
    __m128i vAmp;  // nAmp in every 16-bit lane
    __m128i vGain; // Shift: nGain (<= INT16_MAX) in every 16-bit lane
  };
  Factors MakeFactors() const {
    return {_mm_set1_epi16(static_cast<int16_t>(nAmp)),
            _mm_set1_epi16(static_cast<int16_t>(nGain))};
  }

  // x x nAmp / 16384 (then, Shift, x (nGain / 127) / 64), truncated toward
  // zero as Weigh does, from the 32-bit products of four lanes.
  [[gnu::always_inline]] static __m128i Out(__m128i vProduct, const Factors &k) {
    const __m128i vBias = _mm_set1_epi32(kAmpScale - 1);
    __m128i vOut = _mm_srai_epi32(
        _mm_add_epi32(vProduct, _mm_and_si128(_mm_srai_epi32(vProduct, 31), vBias)), 14);
    if constexpr (kWeight == Weight::Shift) {
      const __m128i vBias64 = _mm_set1_epi32(kVoiceScale / 127 - 1);
      const __m128i vOut16 = _mm_packs_epi32(vOut, vOut); // in range: exact
      const __m128i vWeighted =
          _mm_unpacklo_epi16(_mm_mullo_epi16(vOut16, k.vGain), _mm_mulhi_epi16(vOut16, k.vGain));
      vOut = _mm_srai_epi32(
          _mm_add_epi32(vWeighted, _mm_and_si128(_mm_srai_epi32(vWeighted, 31), vBias64)), 6);
    }
    return vOut;
  }

  static void Add(int32_t *pn, __m128i v) {
    __m128i *pv = reinterpret_cast<__m128i *>(pn);
    _mm_storeu_si128(pv, _mm_add_epi32(_mm_loadu_si128(pv), v));
  }

  // Adds the weighted samples in the eight lanes of vX to pnSum[0 .. 7].
  [[gnu::always_inline]] static void AddEight(int32_t *pnSum, __m128i vX, const Factors &k) {
    const __m128i vLow = _mm_mullo_epi16(vX, k.vAmp);
    const __m128i vHigh = _mm_mulhi_epi16(vX, k.vAmp);
    Add(pnSum, Out(_mm_unpacklo_epi16(vLow, vHigh), k));
    Add(pnSum + 4, Out(_mm_unpackhi_epi16(vLow, vHigh), k));
  }

  // The same for the low four lanes.
  [[gnu::always_inline]] static void AddFour(int32_t *pnSum, __m128i vX, const Factors &k) {
    Add(pnSum,
        Out(_mm_unpacklo_epi16(_mm_mullo_epi16(vX, k.vAmp), _mm_mulhi_epi16(vX, k.vAmp)), k));
  }

  // Steps below kSpan source samples: the eight reads of a pass lie in a
  // window of 8 x kSpan source samples from the first, picked out by byte
  // shuffles. Read k of a pass is (fraction + k x nStep) / 272 samples into
  // the window: at most 8 x kSpan - 1, and x / 272 is x x 241 >> 16 for
  // every x below 4096.
  struct Window {
    __m128i vStride; // k x nStep in lane k
    uint32_t nPassStep;
  };
  Window MakeWindow() const {
    static_assert((kStepUnit - 1) + 7 * (2 * kStepUnit - 1) < 4096 &&
                  241 * kStepUnit - 65536 == 16);
    return {_mm_mullo_epi16(_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7),
                            _mm_set1_epi16(static_cast<int16_t>(nStep))),
            8 * static_cast<uint32_t>(nStep)};
  }
  template <int32_t kSpan>
  [[gnu::target("ssse3"), gnu::always_inline]] static __m128i
  WindowReads(const Unaligned16 *pSource, uint32_t nPhase, const Window &w) {
    const uint32_t nWhole = nPhase / kStepUnit;
    const int32_t nFrac = static_cast<int32_t>(nPhase - nWhole * kStepUnit);
    const __m128i vAt = _mm_mulhi_epu16(
        _mm_add_epi16(_mm_set1_epi16(static_cast<int16_t>(nFrac)), w.vStride), _mm_set1_epi16(241));
    // Sample r is bytes 2r and 2r + 1.
    const __m128i vPick =
        _mm_add_epi16(_mm_mullo_epi16(vAt, _mm_set1_epi16(0x0202)), _mm_set1_epi16(0x0100));
    const __m128i vLow = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pSource + nWhole));
    if constexpr (kSpan == 1)
      return _mm_shuffle_epi8(vLow, vPick);
    // Bytes 0 .. 31 from two loads. A shuffle gives 0 for an index with its
    // top bit set: bytes below 16 come from the first load (16 and up pushed
    // past 127), the others from the second (below 16 wrapped past 127).
    const __m128i vHigh = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pSource + nWhole + 8));
    return _mm_or_si128(_mm_shuffle_epi8(vLow, _mm_adds_epu8(vPick, _mm_set1_epi8(0x70))),
                        _mm_shuffle_epi8(vHigh, _mm_sub_epi8(vPick, _mm_set1_epi8(16))));
  }

  // Returns the samples done, a multiple of 8.
  template <int32_t kSpan>
  [[gnu::target("ssse3")]] int32_t RunBelow(const Unaligned16 *pSource, uint32_t nPhase,
                                            int32_t *pnSum, int32_t nCount) const {
    const Factors k = MakeFactors();
    const Window w = MakeWindow();
    int32_t i = 0;
    for (; i + 8 <= nCount; i += 8, nPhase += w.nPassStep)
      AddEight(pnSum + i, WindowReads<kSpan>(pSource, nPhase, w), k);
    return i;
  }

#if defined(VOKRA_WIDE_SUMS)
  // With AVX2 the eight sums of a pass lie in one register: one widening,
  // one 32-bit product, one add. The same truncating quotients as Out.
  struct WideFactors {
    __m256i vAmp;  // nAmp in every 32-bit lane
    __m256i vGain; // Shift: nGain
  };
  [[gnu::target("avx2"), gnu::always_inline]] WideFactors MakeWideFactors() const {
    return {_mm256_set1_epi32(nAmp), _mm256_set1_epi32(static_cast<int32_t>(nGain))};
  }
  [[gnu::target("avx2"), gnu::always_inline]] static void AddEightWide(int32_t *pnSum, __m128i vX,
                                                                       const WideFactors &k) {
    const __m256i vProduct = _mm256_mullo_epi32(_mm256_cvtepi16_epi32(vX), k.vAmp);
    __m256i vOut = _mm256_srai_epi32(
        _mm256_add_epi32(vProduct, _mm256_and_si256(_mm256_srai_epi32(vProduct, 31),
                                                    _mm256_set1_epi32(kAmpScale - 1))),
        14);
    if constexpr (kWeight == Weight::Shift) {
      const __m256i vWeighted = _mm256_mullo_epi32(vOut, k.vGain); // within 16 x 16 bits
      vOut = _mm256_srai_epi32(
          _mm256_add_epi32(vWeighted, _mm256_and_si256(_mm256_srai_epi32(vWeighted, 31),
                                                       _mm256_set1_epi32(kVoiceScale / 127 - 1))),
          6);
    }
    auto *const pv = reinterpret_cast<__m256i *>(pnSum);
    _mm256_storeu_si256(pv, _mm256_add_epi32(_mm256_loadu_si256(pv), vOut));
  }

  // RunBelow with the wide sums.
  template <int32_t kSpan>
  [[gnu::target("avx2")]] int32_t RunBelowWide(const Unaligned16 *pSource, uint32_t nPhase,
                                               int32_t *pnSum, int32_t nCount) const {
    const WideFactors k = MakeWideFactors();
    const Window w = MakeWindow();
    int32_t i = 0;
    for (; i + 8 <= nCount; i += 8, nPhase += w.nPassStep)
      AddEightWide(pnSum + i, WindowReads<kSpan>(pSource, nPhase, w), k);
    return i;
  }

  // The source at its own rate with the wide sums.
  [[gnu::target("avx2")]] int32_t RunOwnRateWide(const Unaligned16 *pSource, int32_t *pnSum,
                                                 int32_t nCount) const {
    const WideFactors k = MakeWideFactors();
    int32_t i = 0;
    for (; i + 8 <= nCount; i += 8)
      AddEightWide(pnSum + i, _mm_loadu_si128(reinterpret_cast<const __m128i *>(pSource + i)), k);
    return i;
  }
#endif

  // The window passes into the sums the processor has.
  template <int32_t kSpan>
  int32_t RunWindows(const Unaligned16 *pSource, uint32_t nPhase, int32_t *pnSum,
                     int32_t nCount) const {
#if defined(VOKRA_WIDE_SUMS)
    if (bWideSums)
      return RunBelowWide<kSpan>(pSource, nPhase, pnSum, nCount);
#endif
    return RunBelow<kSpan>(pSource, nPhase, pnSum, nCount);
  }

  // The loop above eight samples at a time (then four), for reads inside the
  // data and factors that keep every product within 32 bits: the products and
  // the sums in vectors; the reads in one load at the source's own rate, from
  // a window for slower steps, else one by one. Returns the samples done, a
  // multiple of 4.
  int32_t RunFours(int32_t p, uint32_t &nPhase, int32_t *pnSum, int32_t nCount) const {
    // Sample i reads source sample (nPhase + i x nStep) / 272. That quotient
    // is (nPhase + i x nStep) x kMagic >> 40 for every 32-bit phase, and the
    // product grows by nStep x kMagic per sample: one add and one shift per
    // read instead of a multiply, and the factor 2 goes into the address.
    constexpr uint64_t kMagic = (uint64_t{1} << 40) / kStepUnit + 1;
    static_assert((kMagic * kStepUnit - (uint64_t{1} << 40)) << 32 < uint64_t{1} << 40,
                  "the quotient must be exact for every 32-bit phase");
    const Unaligned16 *pSource = reinterpret_cast<const Unaligned16 *>(pData + p);
    uint64_t nAcc = nPhase * kMagic;
    const uint64_t nAccStep = static_cast<uint64_t>(nStep) * kMagic;
    const auto Next = [&] {
      const int32_t n =
          static_cast<uint16_t>(pSource[nAcc >> 40]); // the bits; taken as signed below
      nAcc += nAccStep;
      return n;
    };
    const Factors k = MakeFactors();
    int32_t i = 0;
    if (nStep == kStepUnit) {
      // The source at its own rate (a note at the sample's root, most drums):
      // sample i reads source sample i, eight of them in one load.
#if defined(VOKRA_WIDE_SUMS)
      if (bWideSums)
        i = RunOwnRateWide(pSource, pnSum, nCount);
#endif
      for (; i + 8 <= nCount; i += 8)
        AddEight(pnSum + i, _mm_loadu_si128(reinterpret_cast<const __m128i *>(pSource + i)), k);
      nAcc += static_cast<uint64_t>(i) * nAccStep;
    } else if (nStep < kStepUnit && bShuffleReads && nEnd <= nLimit - kWindowOver) {
      i = RunWindows<1>(pSource, nPhase, pnSum, nCount);
      nAcc += static_cast<uint64_t>(i) * nAccStep;
    } else if (nStep < 2 * kStepUnit && bShuffleReads && nEnd <= nLimit - kWindowOver2) {
      // Up to an octave above the root: sixteen samples a window.
      i = RunWindows<2>(pSource, nPhase, pnSum, nCount);
      nAcc += static_cast<uint64_t>(i) * nAccStep;
    } else {
      for (; i + 8 <= nCount; i += 8) {
        __m128i vX = _mm_cvtsi32_si128(Next());
        vX = _mm_insert_epi16(vX, Next(), 1);
        vX = _mm_insert_epi16(vX, Next(), 2);
        vX = _mm_insert_epi16(vX, Next(), 3);
        vX = _mm_insert_epi16(vX, Next(), 4);
        vX = _mm_insert_epi16(vX, Next(), 5);
        vX = _mm_insert_epi16(vX, Next(), 6);
        vX = _mm_insert_epi16(vX, Next(), 7);
        AddEight(pnSum + i, vX, k);
      }
    }
    if (i + 4 <= nCount) {
      __m128i vX = _mm_cvtsi32_si128(Next());
      vX = _mm_insert_epi16(vX, Next(), 1);
      vX = _mm_insert_epi16(vX, Next(), 2);
      vX = _mm_insert_epi16(vX, Next(), 3);
      AddFour(pnSum + i, vX, k);
      i += 4;
    }
    nPhase += static_cast<uint32_t>(i) * static_cast<uint32_t>(nStep);
    return i;
  }
#endif
};

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

// a / b for a >= 0, b > 0; in 32 bits when they fit, the cheaper division.
inline int64_t Div(int64_t a, int64_t b) {
  if (a <= UINT32_MAX && b <= UINT32_MAX)
    return static_cast<uint32_t>(a) / static_cast<uint32_t>(b);
  return a / b;
}

// a / b rounded up, for a, b > 0.
inline int64_t DivUp(int64_t a, int64_t b) {
  return Div(a + b - 1, b);
}

// Samples from now on that raise no event, at most nMax, when at most
// nQuietTicks envelope ticks may fall due in them: 0 when the next sample
// raises one (or the voice is in a state the shortcut does not cover).
int32_t QuietSamples(int32_t p, int32_t f, int32_t nTimer, int32_t nStep, int32_t nClock,
                     int32_t nEnd, int32_t nRateNow, int32_t nMax, int32_t nQuietTicks) {
  if (f < 0 || f >= kStepUnit || p > nEnd || nTimer < 0 || nTimer >= nRateNow)
    return 0;
  int64_t n = nMax;
  // The first sample that is not quiet is the one whose clock sum reaches
  // (nQuietTicks + 1) x nRate; the division only when it may fall inside.
  const int64_t nTickRoom = (static_cast<int64_t>(nQuietTicks) + 1) * nRateNow - nTimer;
  if (nTickRoom <= n * nClock)
    n = DivUp(nTickRoom, nClock) - 1;
  // The step passes nEnd in the first sample whose whole steps exceed
  // (nEnd - p) / 2.
  const int64_t nEndRoom = ((static_cast<int64_t>(nEnd) - p) / 2 + 1) * kStepUnit - f;
  if (nEndRoom <= n * nStep)
    n = DivUp(nEndRoom, nStep) - 1;
  return static_cast<int32_t>(n);
}

// Runs one stretch of n quiet samples, picking the loop for the gain and for
// whether the reads need their bound.
template <bool kInterp, bool kFiveStage, Weight kWeight>
void RunStretch(const Instrument &rInst, int32_t nLimit, int32_t nAmp, int32_t nStep, int64_t nGain,
                int32_t &p, int32_t &f, int32_t *pnSum, int32_t n) {
  const int32_t nEnd = rInst.nEnd;
  const int32_t nLoopFrom = kFiveStage ? rInst.nLoopLength : rInst.nLoopStart;
  // Reads fall in p .. nEnd, and, interpolating, on the loop partners of the
  // last two offsets.
  bool bInside = p >= 0 && nEnd <= nLimit;
  if (kInterp && bInside) {
    const int64_t q0 = kFiveStage ? static_cast<int64_t>(nEnd) + 1 - nLoopFrom : nLoopFrom;
    const int64_t q1 = kFiveStage ? q0 + 1 : q0;
    bInside = q0 >= 0 && q1 <= nLimit;
  }
  if (bInside)
    Stretch<kInterp, kFiveStage, kWeight, false>{rInst.pData, nLimit, nEnd, nLoopFrom,
                                                 nAmp,        nStep,  nGain}
        .Run(p, f, pnSum, n);
  else
    Stretch<kInterp, kFiveStage, kWeight, true>{rInst.pData, nLimit, nEnd, nLoopFrom,
                                                nAmp,        nStep,  nGain}
        .Run(p, f, pnSum, n);
}

template <bool kInterp, bool kFiveStage>
VoiceRun RenderRun(Voice &rVoice, int32_t nCount, const int32_t *anSine, int32_t nRateNow,
                   int64_t nGain, int32_t *pnSum) {
  const Instrument &rInst = aInstrument[rVoice.nInstrument];
  const uint8_t *pData = rInst.pData;
  const int32_t nStep = rVoice.nStep;
  const int32_t nDataSize = rInst.nDataSize;
  if (EndWithoutData(rVoice, rInst))
    return {1, false}; // as RenderVoice: no recount, its one sample is 0
  const int32_t nEnd = rInst.nEnd;
  const int32_t nLimit = nDataSize + kBlockSlack - 2;
  const int32_t nModulation = aUnitChannel[rVoice.nChannel].nModulation;
  const int32_t nClock = rVoice.nEnvClock;
  const bool bUnitGain = nGain == kVoiceScale;
  const bool bShiftGain = nGain >= 0 && nGain < INT32_MAX && nGain % 127 == 0;
  int32_t p = rVoice.nPos;
  int32_t f = rVoice.nFrac;
  int32_t nAmp = rVoice.nAmp;
  int32_t nTimer = rVoice.nEnvTimer;
  bool bActive = true;
  int32_t i = 0;
  // Vibrato changes the step sample by sample; without it, the quiet
  // stretches between events run in the short loop of Stretch.
  const bool bQuiet = nModulation == 0 && nStep > 0 && nClock > 0 && nRateNow > 0;
  while (bActive && i < nCount) {
    if (bQuiet) {
      const int32_t n = QuietSamples(p, f, nTimer, nStep, nClock, nEnd, nRateNow, nCount - i,
                                     QuietTicks<kFiveStage>(rVoice));
      if (n > 0) {
        if (bUnitGain)
          RunStretch<kInterp, kFiveStage, Weight::Unit>(rInst, nLimit, nAmp, nStep, nGain, p, f,
                                                        pnSum + i, n);
        else if (bShiftGain)
          RunStretch<kInterp, kFiveStage, Weight::Shift>(rInst, nLimit, nAmp, nStep, nGain / 127, p,
                                                         f, pnSum + i, n);
        else
          RunStretch<kInterp, kFiveStage, Weight::Divide>(rInst, nLimit, nAmp, nStep, nGain, p, f,
                                                          pnSum + i, n);
        // The ticks that fell due only counted down.
        const int64_t nClockSum = nTimer + static_cast<int64_t>(n) * nClock;
        const int32_t nTicks = static_cast<int32_t>(Div(nClockSum, nRateNow));
        nTimer = static_cast<int32_t>(nClockSum - static_cast<int64_t>(nTicks) * nRateNow);
        if (nTicks > 0 && rVoice.nStage < (kFiveStage ? 5 : 4))
          rVoice.nEnvCount -= nTicks * (kFiveStage ? kFiveStageCountStep : 1);
        i += n;
        continue;
      }
    }
    int32_t nInc = nStep;
    if (nModulation != 0)
      nInc = nStep + Wrap32(static_cast<int64_t>(nStep) * anSine[i] * nModulation / kVibratoScale);
    const int32_t p0 = p;
    const int32_t f0 = f;
    const int32_t nFrac = f0 + nInc;
    if (nFrac >= kStepUnit) {
      const int32_t nWhole =
          static_cast<int32_t>(static_cast<uint32_t>(nFrac) / uint32_t{kStepUnit});
      p = Wrap32(p0 + 2 * static_cast<int64_t>(nWhole));
      f = nFrac - kStepUnit * nWhole;
      if (p > nEnd) {
        rVoice.nPos = p;
        rVoice.nFrac = f;
        PastEnd<kFiveStage>(rVoice, rInst);
        p = rVoice.nPos;
        bActive = rVoice.bActive;
      }
    } else {
      f = nFrac;
    }

    const int32_t nOut = VoiceSample<kInterp, kFiveStage>(rInst, nLimit, p0, f0, nAmp);

    nTimer += nClock;
    if (nTimer >= nRateNow) {
      rVoice.nPos = p;
      rVoice.nFrac = f;
      rVoice.nEnvTimer = nTimer;
      RunEnvelope<kFiveStage>(rVoice, rInst, nRateNow);
      p = rVoice.nPos;
      f = rVoice.nFrac;
      nTimer = rVoice.nEnvTimer;
      nAmp = rVoice.nAmp;
      bActive = rVoice.bActive;
    }

    // Make's weighting, as in MixVoices.
    const int64_t nAdd = bUnitGain ? nOut : Weigh<Weight::Divide>(nOut, nGain);
    pnSum[i] = static_cast<int32_t>(static_cast<uint32_t>(pnSum[i]) + static_cast<uint32_t>(nAdd));
    ++i;
  }
  rVoice.nPos = p;
  rVoice.nFrac = f;
  rVoice.nEnvTimer = nTimer;
  // The next block of this voice reads on from p; dozens of other voices run
  // before it, too far apart for the hardware to follow each stream. Ask for
  // those lines now. A hint only: it never faults, also past the data.
  if (bActive && nStep > 0) {
    const int64_t nBytes = static_cast<int64_t>(nCount) * nStep / kStepUnit * 2 + 2;
    const int64_t nLast = nBytes < kPrefetchSpan ? nBytes : kPrefetchSpan;
    const uintptr_t nBase = reinterpret_cast<uintptr_t>(pData) + static_cast<uint32_t>(p);
    for (int64_t b = 0; b < nLast; b += kCacheLine)
      __builtin_prefetch(reinterpret_cast<const void *>(nBase + static_cast<uintptr_t>(b)));
  }
  return {i, true};
}

} // namespace

int32_t RenderSimple(int32_t nVoice) {
  return RenderVoice<false, false>(aVoice[nVoice], anLfoSine[nLfoPhase], nRate);
}
int32_t RenderSimpleInterp(int32_t nVoice) {
  return RenderVoice<true, false>(aVoice[nVoice], anLfoSine[nLfoPhase], nRate);
}
int32_t RenderFiveStage(int32_t nVoice) {
  return RenderVoice<false, true>(aVoice[nVoice], anLfoSine[nLfoPhase], nRate);
}
int32_t RenderFiveStageInterp(int32_t nVoice) {
  return RenderVoice<true, true>(aVoice[nVoice], anLfoSine[nLfoPhase], nRate);
}

void MixVoices() {
  const int32_t nSine = anLfoSine[nLfoPhase];
  const int32_t nRateNow = nRate;
  const int64_t nVoiceGain = nFinalGain;
  // nVoiceTop is read anew each time: a voice that ends lowers it.
  for (int32_t v = 0; v < nVoiceTop; ++v) {
    Voice &rVoice = aVoice[v];
    if (!rVoice.bActive)
      continue;
    // The four routines are known: a compare chain lets them inline here
    // instead of a call through the pointer per voice and sample.
    const PfnRender pfnRender = rVoice.pfnRender;
    int32_t s;
    if (pfnRender == RenderSimple)
      s = RenderVoice<false, false>(rVoice, nSine, nRateNow);
    else if (pfnRender == RenderSimpleInterp)
      s = RenderVoice<true, false>(rVoice, nSine, nRateNow);
    else if (pfnRender == RenderFiveStage)
      s = RenderVoice<false, true>(rVoice, nSine, nRateNow);
    else if (pfnRender == RenderFiveStageInterp)
      s = RenderVoice<true, true>(rVoice, nSine, nRateNow);
    else
      s = pfnRender(v);
    // s x nInstGain x nFinalGain / 8128, the product wrapping at 64 bits (as
    // s x (nInstGain x nFinalGain), the same modulo 2^64). At the usual gains
    // (64 x 127 = 8128) the quotient is s itself: |s x 8128| stays far below 2^63.
    const int64_t nGain = static_cast<int64_t>(rVoice.nInstGain) * nVoiceGain;
    int64_t nAdd = s;
    if (nGain != kVoiceScale)
      nAdd = static_cast<int64_t>(static_cast<uint64_t>(s) * static_cast<uint64_t>(nGain)) /
             kVoiceScale;
    *rVoice.pnSum = Wrap32(*rVoice.pnSum + nAdd);
    *rVoice.pnVoiceCount += 1;
  }
}

} // namespace vokra

namespace vokra {

VoiceRun RenderVoiceRun(int32_t nVoice, int32_t nCount, const int32_t *anSine, int32_t *pnSum) {
  Voice &rVoice = aVoice[nVoice];
  const int32_t nRateNow = nRate;
  const int64_t nGain = static_cast<int64_t>(rVoice.nInstGain) * nFinalGain;
  const PfnRender pfnRender = rVoice.pfnRender;
  if (pfnRender == RenderSimpleInterp)
    return RenderRun<true, false>(rVoice, nCount, anSine, nRateNow, nGain, pnSum);
  if (pfnRender == RenderFiveStage)
    return RenderRun<false, true>(rVoice, nCount, anSine, nRateNow, nGain, pnSum);
  if (pfnRender == RenderFiveStageInterp)
    return RenderRun<true, true>(rVoice, nCount, anSine, nRateNow, nGain, pnSum);
  // Note-on picks one of the four; the simple one is the rest.
  return RenderRun<false, false>(rVoice, nCount, anSine, nRateNow, nGain, pnSum);
}

} // namespace vokra
