// The vector stretch: a voice's quiet samples, eight a pass. One load when
// the sample plays at its own rate, byte shuffles of a window for steps up
// to an octave above the root (SSSE3), eight reads otherwise; with AVX2 the
// eight sums in one register. Every way gives the sums of the plain loop.
// RenderRun drives it over a run, stepping the samples between stretches one
// by one; kept in this file so that each stretch's loop inlines into it.
#include "unit/voice_stretch.h"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

#include "common/audio_math.h"
#include "unit/channels.h"
#include "unit/envelope.h"
#include "unit/soundset.h"
#include "unit/unit_state.h"
#include "unit/voice_math.h"
#include "unit/voice_step.h"

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

constexpr int32_t kPrefetchSpan = 1024; // bytes of a voice's next block asked for at most
constexpr int32_t kCacheLine = 64;      // bytes

// Make's weighting of a voice, out x nGain / 8128: at the usual gains it is
// out itself, and when 127 divides nGain (the final gain at its default) it
// is out x (nGain / 127) / 64, a shift.
enum class Weight { Unit, Shift, Divide };

template <Weight kWeight> int64_t Weigh(int32_t nOut, int64_t nGain) {
  if constexpr (kWeight == Weight::Unit)
    return nOut;
  if constexpr (kWeight == Weight::Shift)
    return ShiftTowardZero<6>(nOut * nGain); // nGain here is nGain / 127, below 2^24
  return static_cast<int64_t>(static_cast<uint64_t>(nOut) * static_cast<uint64_t>(nGain)) /
         kVoiceScale;
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
// bNext: the sample after them is inside nMax and its step stays within
// nEnd, so it differs from them only by the envelope ticks it raises after
// its output.
struct Quiet {
  int32_t n;
  bool bNext;
};
[[gnu::always_inline]] inline Quiet QuietSamples(int32_t p, int32_t f, int32_t nTimer,
                                                 int32_t nStep, int32_t nClock, int32_t nEnd,
                                                 int32_t nRateNow, int32_t nMax,
                                                 int32_t nQuietTicks) {
  if (f < 0 || f >= kStepUnit || p > nEnd || nTimer < 0 || nTimer >= nRateNow)
    return {0, false};
  int64_t n = nMax;
  // The first sample that is not quiet is the one whose clock sum reaches
  // (nQuietTicks + 1) x nRate; the division only when it may fall inside.
  const int64_t nTickRoom = (static_cast<int64_t>(nQuietTicks) + 1) * nRateNow - nTimer;
  if (nTickRoom <= n * nClock)
    n = DivUp(nTickRoom, nClock) - 1;
  // The step passes nEnd in the first sample whose whole steps exceed
  // (nEnd - p) / 2.
  const int64_t nEndRoom =
      (((static_cast<int64_t>(nEnd) - p) >> 1) + 1) * kStepUnit - f; // p <= nEnd
  if (nEndRoom <= n * nStep)
    n = DivUp(nEndRoom, nStep) - 1;
  return {static_cast<int32_t>(n), n < nMax && (n + 1) * nStep < nEndRoom};
}

// kChecked: a position may lie outside the data, so reads go through Fetch's
// bound; otherwise every read is known to be inside.
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
  [[gnu::always_inline]] void Run(int32_t &p, int32_t &f, int32_t *pnSum, int32_t nCount) const {
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

  [[gnu::always_inline]] void RunPart(int32_t &p, int32_t &f, int32_t *pnSum,
                                      int32_t nCount) const {
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
    // Interpolating: a line lies between its two samples, so within 16 bits
    // as they are, and the same factors hold. Only while the second sample
    // is the next one, not a loop partner past nEnd.
    if constexpr (kInterp && kWeight != Weight::Divide && !kChecked) {
      if (kWeight == Weight::Unit
              ? nAmp >= 0 && nAmp <= INT16_MAX
              : nAmp >= 0 && nAmp <= kAmpScale && nGain >= 0 && nGain <= INT16_MAX) {
        const int32_t n = PairedSamples(p, nPhase, nCount);
#if defined(VOKRA_WIDE_SUMS)
        if (bWideSums) {
          // Up to two octaves above the root the pairs of a pass come out of
          // one window; faster steps gather them.
          if (nStep < 2 * kStepUnit && nEnd <= nLimit - PairWindowOver(2))
            i = RunPairWindows<2>(p, nPhase, pnSum, n);
          else if (nStep < 4 * kStepUnit && nEnd <= nLimit - PairWindowOver(4))
            i = RunPairWindows<4>(p, nPhase, pnSum, n);
          RunPairsWide(p, nPhase, pnSum + i, n - i);
          i = n;
        } else
#endif
          i = RunPairs(p, nPhase, pnSum, n);
      }
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
    __m128i vOut = ShiftTowardZero4<14>(vProduct);
    if constexpr (kWeight == Weight::Shift) {
      const __m128i vOut16 = _mm_packs_epi32(vOut, vOut); // in range: exact
      const __m128i vWeighted =
          _mm_unpacklo_epi16(_mm_mullo_epi16(vOut16, k.vGain), _mm_mulhi_epi16(vOut16, k.vGain));
      vOut = ShiftTowardZero4<6>(vWeighted);
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
    auto *const pv = reinterpret_cast<__m256i *>(pnSum);
    _mm256_storeu_si256(
        pv, _mm256_add_epi32(_mm256_loadu_si256(pv), WideOut(_mm256_cvtepi16_epi32(vX), k)));
  }
  // The weighted samples of eight 32-bit lanes, each within 16 bits. With
  // nAmp and nGain not negative every product has the sign of x, and a
  // quotient truncated toward zero is the magnitude's shifted, signed again.
  [[gnu::target("avx2"), gnu::always_inline]] static __m256i WideOut(__m256i vX,
                                                                     const WideFactors &k) {
    __m256i vMag = _mm256_srli_epi32(_mm256_mullo_epi32(_mm256_abs_epi32(vX), k.vAmp), 14);
    if constexpr (kWeight == Weight::Shift)
      vMag = _mm256_srli_epi32(_mm256_mullo_epi32(vMag, k.vGain), 6); // within 16 x 15 bits
    return _mm256_sign_epi32(vMag, vX);
  }

  // u / 272 in eight 32-bit lanes: u x kMagic >> 40, exact for every u below
  // 2^32 (the magic of RunFours), from the 64-bit products of even and odd
  // lanes.
  [[gnu::target("avx2"), gnu::always_inline]] static __m256i ByUnit(__m256i vU) {
    const __m256i vMagic =
        _mm256_set1_epi32(static_cast<int32_t>((uint64_t{1} << 40) / kStepUnit + 1));
    const __m256i vEven = _mm256_srli_epi64(_mm256_mul_epu32(vU, vMagic), 40);
    const __m256i vOdd = _mm256_srli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(vU, 32), vMagic), 8);
    return _mm256_blend_epi32(vEven, vOdd, 0xAA);
  }

  // The line of Lerp in 32-bit lanes from the eight pairs (first sample in
  // the low 16 bits) and fractions.
  [[gnu::target("avx2"), gnu::always_inline]] static __m256i LerpWide(__m256i vPair,
                                                                      __m256i vFrac) {
    const __m256i vS0 = _mm256_srai_epi32(_mm256_slli_epi32(vPair, 16), 16);
    const __m256i vD = _mm256_sub_epi32(_mm256_srai_epi32(vPair, 16), vS0);
    const __m256i vQ = ByUnit(_mm256_mullo_epi32(_mm256_abs_epi32(vD), vFrac)); // below 2^25
    return _mm256_add_epi32(vS0, _mm256_sign_epi32(vQ, vD));
  }

  // The interpolating loop with the wide sums: one gather of the eight pairs
  // a pass, each lane keeping its whole step and fraction, which a pass moves
  // by 8 x nStep; the last samples in a pass whose other lanes neither read
  // nor add. Does all nCount.
  [[gnu::target("avx2")]] void RunPairsWide(int32_t p, uint32_t &nPhase, int32_t *pnSum,
                                            int32_t nCount) const {
    const int *pSource = reinterpret_cast<const int *>(pData + p);
    const __m256i vLane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i vUnit = _mm256_set1_epi32(kStepUnit);
    const __m256i vAt = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(nPhase)),
                                         _mm256_mullo_epi32(vLane, _mm256_set1_epi32(nStep)));
    __m256i vWhole = ByUnit(vAt);
    __m256i vFrac = _mm256_sub_epi32(vAt, _mm256_mullo_epi32(vWhole, vUnit));
    const uint32_t nPassStep = 8 * static_cast<uint32_t>(nStep);
    const __m256i vPassWhole = _mm256_set1_epi32(static_cast<int32_t>(nPassStep / kStepUnit));
    const __m256i vPassFrac = _mm256_set1_epi32(static_cast<int32_t>(nPassStep % kStepUnit));
    const WideFactors k = MakeWideFactors();
    int32_t i = 0;
    for (; i + 8 <= nCount; i += 8) {
      const __m256i vPair = _mm256_i32gather_epi32(pSource, vWhole, 2);
      auto *const pv = reinterpret_cast<__m256i *>(pnSum + i);
      _mm256_storeu_si256(
          pv, _mm256_add_epi32(_mm256_loadu_si256(pv), WideOut(LerpWide(vPair, vFrac), k)));
      vFrac = _mm256_add_epi32(vFrac, vPassFrac);
      const __m256i vCarry = _mm256_cmpgt_epi32(vFrac, _mm256_set1_epi32(kStepUnit - 1));
      vFrac = _mm256_sub_epi32(vFrac, _mm256_and_si256(vCarry, vUnit));
      vWhole = _mm256_sub_epi32(_mm256_add_epi32(vWhole, vPassWhole), vCarry);
    }
    if (i < nCount) {
      const __m256i vMask = _mm256_cmpgt_epi32(_mm256_set1_epi32(nCount - i), vLane);
      const __m256i vPair =
          _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), pSource, vWhole, vMask, 2);
      const __m256i vSum = _mm256_maskload_epi32(pnSum + i, vMask);
      _mm256_maskstore_epi32(pnSum + i, vMask,
                             _mm256_add_epi32(vSum, WideOut(LerpWide(vPair, vFrac), k)));
    }
    nPhase += static_cast<uint32_t>(nCount) * static_cast<uint32_t>(nStep);
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

  // Bytes a pair window of kSpan x 8 source samples may read past the last
  // sample a pass needs, the second of read 7: at least 7 x the span's
  // lowest step (0, or half the span) + 1 samples into the window.
  static constexpr int32_t PairWindowOver(int32_t kSpan) {
    return 2 * (8 * kSpan - 2 - 7 * (kSpan == 2 ? 0 : kSpan / 2));
  }

  // Interpolating passes for steps below kSpan source samples, each pair
  // inside the data, sixteen samples a loop: each 128-bit half of the
  // registers picks the firsts and the seconds of its own pass out of its
  // window, and the line is Lerp's in sixteen lanes. Returns the samples
  // done, a multiple of 8, and moves nPhase past them.
  template <int32_t kSpan>
  [[gnu::target("avx2")]] int32_t RunPairWindows(int32_t p, uint32_t &nPhase, int32_t *pnSum,
                                                 int32_t nCount) const {
    static_assert((kStepUnit - 1) + 7 * (kSpan * kStepUnit - 1) < 65280);
    const Unaligned16 *pSource = reinterpret_cast<const Unaligned16 *>(pData + p);
    const WideFactors k = MakeWideFactors();
    const Window w = MakeWindow();
    const __m256i vStride = _mm256_broadcastsi128_si256(w.vStride);
    const int32_t n = nCount & ~7;
    uint32_t nAt = nPhase;
    for (int32_t i = 0; i < n; i += 16, nAt += 2 * w.nPassStep) {
      const bool bTwo = i + 16 <= n; // else the last pass runs in both halves
      const uint32_t nAtB = bTwo ? nAt + w.nPassStep : nAt;
      const uint32_t nWholeA = nAt / kStepUnit, nWholeB = nAtB / kStepUnit;
      // Read k of a pass is t = fraction + k x nStep into the window, t / 272
      // samples: (t >> 4) x 3856 >> 16 for every t below 65280.
      const __m256i vT = _mm256_add_epi16(
          _mm256_setr_m128i(_mm_set1_epi16(static_cast<int16_t>(nAt - nWholeA * kStepUnit)),
                            _mm_set1_epi16(static_cast<int16_t>(nAtB - nWholeB * kStepUnit))),
          vStride);
      const __m256i vAt = _mm256_mulhi_epu16(_mm256_srli_epi16(vT, 4), _mm256_set1_epi16(3856));
      const __m256i vF =
          _mm256_sub_epi16(vT, _mm256_mullo_epi16(vAt, _mm256_set1_epi16(kStepUnit)));
      // Sample r is bytes 2r and 2r + 1 of the window.
      const __m256i vPick = _mm256_add_epi16(_mm256_mullo_epi16(vAt, _mm256_set1_epi16(0x0202)),
                                             _mm256_set1_epi16(0x0100));
      const auto *pA = reinterpret_cast<const __m128i *>(pSource + nWholeA);
      const auto *pB = reinterpret_cast<const __m128i *>(pSource + nWholeB);
      __m256i avWindow[kSpan];
      for (int32_t j = 0; j < kSpan; ++j)
        avWindow[j] = _mm256_loadu2_m128i(pB + j, pA + j);
      const __m256i vX = LerpSixteen(
          PickWide<kSpan>(avWindow, vPick),
          PickWide<kSpan>(avWindow, _mm256_add_epi16(vPick, _mm256_set1_epi16(0x0202))), vF);
      AddEightWide(pnSum + i, _mm256_castsi256_si128(vX), k);
      if (bTwo)
        AddEightWide(pnSum + i + 8, _mm256_extracti128_si256(vX, 1), k);
    }
    nPhase += static_cast<uint32_t>(n) * static_cast<uint32_t>(nStep);
    return n;
  }

  // Bytes 0 .. 16 x kSpan - 1 of the window, in each half, as vPick says. A
  // shuffle gives 0 for an index with its top bit set: each part gets the
  // index less its first byte, pushed past 127 when it is 16 or more (and
  // wrapped past 127 when it was below).
  template <int32_t kSpan>
  [[gnu::target("avx2"), gnu::always_inline]] static __m256i
  PickWide(const __m256i (&avWindow)[kSpan], __m256i vPick) {
    __m256i vOut = _mm256_setzero_si256();
    for (int32_t j = 0; j < kSpan; ++j) {
      __m256i vIndex = _mm256_sub_epi8(vPick, _mm256_set1_epi8(static_cast<char>(16 * j)));
      if (j + 1 < kSpan)
        vIndex = _mm256_adds_epu8(vIndex, _mm256_set1_epi8(0x70));
      vOut = _mm256_or_si256(vOut, _mm256_shuffle_epi8(avWindow[j], vIndex));
    }
    return vOut;
  }

  // Lerp in sixteen lanes.
  [[gnu::target("avx2"), gnu::always_inline]] static __m256i LerpSixteen(__m256i vS0, __m256i vS1,
                                                                         __m256i vF) {
    const __m256i vNeg = _mm256_cmpgt_epi16(vS0, vS1);
    const __m256i vA = _mm256_sub_epi16(_mm256_max_epi16(vS0, vS1), _mm256_min_epi16(vS0, vS1));
    const __m256i vC = _mm256_sub_epi16(_mm256_mullo_epi16(vF, _mm256_set1_epi16(241)),
                                        _mm256_mulhi_epu16(vF, _mm256_set1_epi16(3856)));
    const __m256i vQ = _mm256_mulhi_epu16(vA, vC);
    const __m256i vRem = _mm256_sub_epi16(_mm256_mullo_epi16(vA, vF),
                                          _mm256_mullo_epi16(vQ, _mm256_set1_epi16(kStepUnit)));
    const __m256i vAbs = _mm256_add_epi16(vQ, _mm256_srai_epi16(vRem, 15));
    return _mm256_add_epi16(vS0, _mm256_sub_epi16(_mm256_xor_si256(vAbs, vNeg), vNeg));
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

  // Of nCount samples from p at phase nPhase, how many read their second
  // sample at the next offset: those whose whole steps stay below
  // (nEnd - p) / 2.
  int32_t PairedSamples(int32_t p, uint32_t nPhase, int32_t nCount) const {
    if (nEnd - p < 2) // 0 <= p <= nEnd here
      return 0;
    const int64_t nRoom = (((nEnd - p - 2) >> 1) + int64_t{1}) * kStepUnit - nPhase; // > 0
    if (nRoom > static_cast<int64_t>(nCount) * nStep) // far from the end: no division
      return nCount;
    return static_cast<int32_t>(DivUp(nRoom, nStep));
  }

  // s0 + (s1 - s0) x f / 272, truncated toward zero, in eight 16-bit lanes
  // (f in 0 .. 271). With a = |s1 - s0| (16 bits unsigned), a x f / 272 is
  // a x c >> 16 or one more, for c = ceil(f x 65536 / 272) = 241 f - f / 17;
  // the remainder a x f - 272 q, negative exactly when it is one more, fits
  // 16 signed bits either way. The line lies between s0 and s1, so the sum
  // wraps back into range.
  [[gnu::always_inline]] static __m128i Lerp(__m128i vS0, __m128i vS1, __m128i vF) {
    static_assert(241 * kStepUnit == 65536 + 16 && 3856 * 17 == 65536 + 16);
    const __m128i vNeg = _mm_cmpgt_epi16(vS0, vS1);
    const __m128i vA = _mm_sub_epi16(_mm_max_epi16(vS0, vS1), _mm_min_epi16(vS0, vS1));
    const __m128i vC = _mm_sub_epi16(_mm_mullo_epi16(vF, _mm_set1_epi16(241)),
                                     _mm_mulhi_epu16(vF, _mm_set1_epi16(3856)));
    const __m128i vQ = _mm_mulhi_epu16(vA, vC);
    const __m128i vRem =
        _mm_sub_epi16(_mm_mullo_epi16(vA, vF), _mm_mullo_epi16(vQ, _mm_set1_epi16(kStepUnit)));
    const __m128i vAbs = _mm_add_epi16(vQ, _mm_srai_epi16(vRem, 15));
    return _mm_add_epi16(vS0, _mm_sub_epi16(_mm_xor_si128(vAbs, vNeg), vNeg));
  }

  // The interpolating loop eight samples at a time (then four), every pair
  // inside the data: sample k of a pass reads the two samples at its whole
  // step, as one 32-bit load, and its fraction is (f + k x (nStep % 272))
  // % 272, below 4096 before the remainder (x / 272 = x x 241 >> 16 there).
  // Returns the samples done, a multiple of 4.
  int32_t RunPairs(int32_t p, uint32_t &nPhase, int32_t *pnSum, int32_t nCount) const {
    constexpr uint64_t kMagic = (uint64_t{1} << 40) / kStepUnit + 1; // as in RunFours
    const Unaligned16 *pSource = reinterpret_cast<const Unaligned16 *>(pData + p);
    uint64_t nAcc = nPhase * kMagic;
    const uint64_t nAccStep = static_cast<uint64_t>(nStep) * kMagic;
    const auto Next = [&] {
      uint32_t n;
      std::memcpy(&n, pSource + (nAcc >> 40), sizeof n);
      nAcc += nAccStep;
      return static_cast<int32_t>(n);
    };
    // The two samples of four pairs, first in the low 16 bits.
    const auto Firsts = [](__m128i v0, __m128i v1) {
      return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(v0, 16), 16),
                             _mm_srai_epi32(_mm_slli_epi32(v1, 16), 16));
    };
    const auto Seconds = [](__m128i v0, __m128i v1) {
      return _mm_packs_epi32(_mm_srai_epi32(v0, 16), _mm_srai_epi32(v1, 16));
    };
    const __m128i vStride =
        _mm_mullo_epi16(_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7),
                        _mm_set1_epi16(static_cast<int16_t>(nStep % kStepUnit)));
    const auto Fractions = [&](uint32_t nAt) {
      const __m128i vT =
          _mm_add_epi16(_mm_set1_epi16(static_cast<int16_t>(nAt % kStepUnit)), vStride);
      const __m128i vWhole = _mm_mulhi_epu16(vT, _mm_set1_epi16(241));
      return _mm_sub_epi16(vT, _mm_mullo_epi16(vWhole, _mm_set1_epi16(kStepUnit)));
    };
    const Factors k = MakeFactors();
    const uint32_t nPassStep = 8 * static_cast<uint32_t>(nStep);
    int32_t i = 0;
    for (; i + 8 <= nCount; i += 8, nPhase += nPassStep) {
      const int32_t a0 = Next(), a1 = Next(), a2 = Next(), a3 = Next();
      const int32_t a4 = Next(), a5 = Next(), a6 = Next(), a7 = Next();
      const __m128i v0 = _mm_setr_epi32(a0, a1, a2, a3);
      const __m128i v1 = _mm_setr_epi32(a4, a5, a6, a7);
      AddEight(pnSum + i, Lerp(Firsts(v0, v1), Seconds(v0, v1), Fractions(nPhase)), k);
    }
    if (i + 4 <= nCount) {
      const int32_t a0 = Next(), a1 = Next(), a2 = Next(), a3 = Next();
      const __m128i v0 = _mm_setr_epi32(a0, a1, a2, a3);
      const __m128i v1 = _mm_setzero_si128();
      AddFour(pnSum + i, Lerp(Firsts(v0, v1), Seconds(v0, v1), Fractions(nPhase)), k);
      nPhase += 4 * static_cast<uint32_t>(nStep);
      i += 4;
    }
    return i;
  }
#endif
};

// Whether every read from offset 0 on falls inside the data: offsets up to
// nEnd, and, interpolating, the loop partners of the last two. The same for
// every stretch of a run.
template <bool kInterp, bool kFiveStage> bool ReadsInside(const Instrument &rInst, int32_t nLimit) {
  const int32_t nEnd = rInst.nEnd;
  const int32_t nLoopFrom = kFiveStage ? rInst.nLoopLength : rInst.nLoopStart;
  if (nEnd > nLimit)
    return false;
  if (!kInterp)
    return true;
  const int64_t q0 = kFiveStage ? static_cast<int64_t>(nEnd) + 1 - nLoopFrom : nLoopFrom;
  const int64_t q1 = kFiveStage ? q0 + 1 : q0;
  return q0 >= 0 && q1 <= nLimit;
}

// Runs a stretch of n quiet samples from position p, fraction f, adding the
// weighted samples to pnSum[0 .. n - 1]; picks the loop for the gain and for
// whether the reads need their bound (bReadsInside: ReadsInside's answer).
// Position and fraction advance by the step's whole and fractional parts, the
// same sums the per-sample voice forms with its division.
template <bool kInterp, bool kFiveStage, Weight kWeight>
void RunStretch(const Instrument &rInst, int32_t nLimit, bool bReadsInside, int32_t nAmp,
                int32_t nStep, int64_t nGain, int32_t &p, int32_t &f, int32_t *pnSum, int32_t n) {
  const int32_t nEnd = rInst.nEnd;
  const int32_t nLoopFrom = kFiveStage ? rInst.nLoopLength : rInst.nLoopStart;
  const bool bInside = bReadsInside && p >= 0;
  if (bInside)
    Stretch<kInterp, kFiveStage, kWeight, false>{rInst.pData, nLimit, nEnd, nLoopFrom,
                                                 nAmp,        nStep,  nGain}
        .Run(p, f, pnSum, n);
  else
    Stretch<kInterp, kFiveStage, kWeight, true>{rInst.pData, nLimit, nEnd, nLoopFrom,
                                                nAmp,        nStep,  nGain}
        .Run(p, f, pnSum, n);
}

} // namespace

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
  const bool bReadsInside = ReadsInside<kInterp, kFiveStage>(rInst, nLimit);
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
      const Quiet q = QuietSamples(p, f, nTimer, nStep, nClock, nEnd, nRateNow, nCount - i,
                                   QuietTicks<kFiveStage>(rVoice, rInst));
      if (q.n > 0) {
        // The sample that raises the next envelope event reads and steps as
        // the quiet ones do: it joins the stretch, its ticks run after it.
        const int32_t n = q.n;
        const int32_t nRun = n + (q.bNext ? 1 : 0);
        if (bUnitGain)
          RunStretch<kInterp, kFiveStage, Weight::Unit>(rInst, nLimit, bReadsInside, nAmp, nStep,
                                                        nGain, p, f, pnSum + i, nRun);
        else if (bShiftGain)
          RunStretch<kInterp, kFiveStage, Weight::Shift>(rInst, nLimit, bReadsInside, nAmp, nStep,
                                                         nGain / 127, p, f, pnSum + i, nRun);
        else
          RunStretch<kInterp, kFiveStage, Weight::Divide>(rInst, nLimit, bReadsInside, nAmp, nStep,
                                                          nGain, p, f, pnSum + i, nRun);
        // The ticks that fell due left the level where it was.
        const int64_t nClockSum = nTimer + static_cast<int64_t>(n) * nClock;
        const int32_t nTicks =
            nClockSum < nRateNow ? 0 : static_cast<int32_t>(Div(nClockSum, nRateNow));
        nTimer = static_cast<int32_t>(nClockSum - static_cast<int64_t>(nTicks) * nRateNow);
        RunQuietTicks<kFiveStage>(rVoice, rInst, nTicks);
        i += nRun;
        if (q.bNext) {
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
        }
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

template VoiceRun RenderRun<false, false>(Voice &, int32_t, const int32_t *, int32_t, int64_t,
                                          int32_t *);
template VoiceRun RenderRun<false, true>(Voice &, int32_t, const int32_t *, int32_t, int64_t,
                                         int32_t *);
template VoiceRun RenderRun<true, false>(Voice &, int32_t, const int32_t *, int32_t, int64_t,
                                         int32_t *);
template VoiceRun RenderRun<true, true>(Voice &, int32_t, const int32_t *, int32_t, int64_t,
                                        int32_t *);

} // namespace vokra
