// The block mix eight frames at a time, for processors with AVX2: the same
// products, truncating shifts and wrapping sums as the four-lane loops in
// row_mix.cpp. The build targets plain x86-64, so each function carries
// the AVX2 target and runs only when bWideMix says the processor has it.
#include "player/render/row_mix.h"

#if defined(TORQA_WIDE_MIX)
#include <immintrin.h>

#include "common/simd_scale.h"

int32_t bWideMix = __builtin_cpu_supports("avx2") ? 1 : 0;

namespace {

// v x s / 2^kShift per lane, the product in 64 bits, truncated toward zero
// and wrapped to 32 bits; s >= 0. Sign and magnitude: |v| x s >> kShift is
// the truncated magnitude.
template <int kShift>
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i MulShift8(__m256i v, __m256i s) {
  const __m256i m = _mm256_srai_epi32(v, 31);
  const __m256i a = _mm256_sub_epi32(_mm256_xor_si256(v, m), m); // |v|, 2^31 included
  const __m256i qEven = _mm256_srli_epi64(_mm256_mul_epu32(a, s), kShift);
  const __m256i qOdd = _mm256_srli_epi64(
      _mm256_mul_epu32(_mm256_srli_epi64(a, 32), _mm256_srli_epi64(s, 32)), kShift);
  const __m256i q = _mm256_or_si256(_mm256_and_si256(qEven, _mm256_set1_epi64x(0xffffffff)),
                                    _mm256_slli_epi64(qOdd, 32));
  return _mm256_sub_epi32(_mm256_xor_si256(q, m), m);
}

// The same for values and s within 16 bits, where the product fits 32: one
// multiply-add (v's upper half, its sign, meets the 0 in s's).
template <int kShift>
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i MulShiftNarrow8(__m256i v, __m256i s) {
  return ShiftTowardZero8<kShift>(_mm256_madd_epi16(v, s));
}

} // namespace

[[gnu::target("avx2")]] void MixSourcesWide(const RowSources &sources, RowMix &m, int32_t n) {
  for (int32_t i = 0; i < n; i += 8) {
    __m256i vMixL = _mm256_setzero_si256(), vMixR = vMixL;
    __m256i vRevL = vMixL, vRevR = vMixL, vChoL = vMixL, vChoR = vMixL;
    const auto Take = [&]<bool kRev, bool kCho, bool kNarrow>(int32_t nKind)
        __attribute__((always_inline, target("avx2"))) {
      for (int32_t k = 0; k < sources.an[nKind]; ++k) {
        const RowSource &src = sources.aa[nKind][k];
        const __m256i vL = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src.pL + i));
        const __m256i vR = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src.pR + i));
        vMixL = _mm256_add_epi32(vMixL, vL);
        vMixR = _mm256_add_epi32(vMixR, vR);
        if constexpr (kRev) {
          const __m256i vSend = _mm256_set1_epi32(src.nRev); // a broadcast load
          vRevL = _mm256_add_epi32(vRevL, kNarrow ? MulShiftNarrow8<kReverbSendShift>(vL, vSend)
                                                  : MulShift8<kReverbSendShift>(vL, vSend));
          vRevR = _mm256_add_epi32(vRevR, kNarrow ? MulShiftNarrow8<kReverbSendShift>(vR, vSend)
                                                  : MulShift8<kReverbSendShift>(vR, vSend));
        }
        if constexpr (kCho) {
          const __m256i vSend = _mm256_set1_epi32(src.nCho);
          vChoL = _mm256_add_epi32(vChoL, kNarrow ? MulShiftNarrow8<kChorusSendShift>(vL, vSend)
                                                  : MulShift8<kChorusSendShift>(vL, vSend));
          vChoR = _mm256_add_epi32(vChoR, kNarrow ? MulShiftNarrow8<kChorusSendShift>(vR, vSend)
                                                  : MulShift8<kChorusSendShift>(vR, vSend));
        }
      }
    };
    Take.operator()<false, false, true>(kMixOnly);
    Take.operator()<true, false, true>(kNarrowRev);
    Take.operator()<false, true, true>(kNarrowCho);
    Take.operator()<true, true, true>(kNarrowBoth);
    Take.operator()<true, false, false>(kWideRev);
    Take.operator()<false, true, false>(kWideCho);
    Take.operator()<true, true, false>(kWideBoth);
    const auto Store = [i](int32_t * p, __m256i v) __attribute__((always_inline, target("avx2"))) {
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(p + i), v);
    };
    Store(m.pnMixL, vMixL);
    Store(m.pnMixR, vMixR);
    Store(m.pnRevL, vRevL);
    Store(m.pnRevR, vRevR);
    Store(m.pnChoL, vChoL);
    Store(m.pnChoR, vChoR);
  }
}

[[gnu::target("avx2")]] int32_t FinishRecordFramesWide(uint8_t *pOut, const int32_t *pnL,
                                                       const int32_t *pnR, int32_t n,
                                                       int32_t nGain) {
  static_assert(kMasterGainDiv == 3 << 6);
  const __m256i vGain = _mm256_set1_epi32(nGain);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i vL = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pnL + i));
    const __m256i vR = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pnR + i));
    // Per 128-bit half: frames i, i + 1 | i + 4, i + 5 and i + 2, i + 3 | i + 6, i + 7;
    // the pack puts them back in order.
    const __m256i vLo = ScaleThirds8<6>(_mm256_unpacklo_epi32(vL, vR), vGain); // |x| x g < 2^38
    const __m256i vHi = ScaleThirds8<6>(_mm256_unpackhi_epi32(vL, vR), vGain);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(pOut + 4 * i), _mm256_packs_epi32(vLo, vHi));
  }
  return i;
}

[[gnu::target("avx2")]] void ZeroWide(int32_t *p, int32_t nCount) {
  // Plain stores: the compiler would make a memset call of a loop it knows
  // stores zeros, and glibc then takes a slow string instruction.
  __m256i vZero = _mm256_setzero_si256();
  asm("" : "+x"(vZero));
  for (int32_t k = 0; k < nCount; k += 8) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p + k), vZero);
  }
}

#else

int32_t bWideMix = 0;

#endif
