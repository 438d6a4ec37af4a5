// The block mix's four-lane loops (SSE2, every x86-64): the channels' sums
// and sends, and the end of a recording's frames.
#include "player/render/row_mix.h"

#if defined(__SSE2__)
#include "common/simd_scale.h"

void MixSources(const RowSources &sources, RowMix &m, int32_t n) {
  struct Source {
    const int32_t *pL;
    const int32_t *pR;
    __m128i vRev; // the channel's sends, 0 when the effect is off
    __m128i vCho;
  };
  Source aaSource[kRowKinds][16];
  for (int32_t nKind = 0; nKind < kRowKinds; ++nKind) {
    for (int32_t k = 0; k < sources.an[nKind]; ++k) {
      const RowSource &src = sources.aa[nKind][k];
      aaSource[nKind][k] = {src.pL, src.pR, _mm_set1_epi32(src.nRev), _mm_set1_epi32(src.nCho)};
    }
  }
  const int32_t *const anSources = sources.an;
  for (int32_t i = 0; i < n; i += 4) {
    __m128i vMixL = _mm_setzero_si128(), vMixR = vMixL;
    __m128i vRevL = vMixL, vRevR = vMixL, vChoL = vMixL, vChoR = vMixL;
    const auto Take = [&]<bool kRev, bool kCho, bool kNarrow>(int32_t nKind) {
      for (int32_t k = 0; k < anSources[nKind]; ++k) {
        const Source &src = aaSource[nKind][k];
        const __m128i vL = _mm_load_si128(reinterpret_cast<const __m128i *>(src.pL + i));
        const __m128i vR = _mm_load_si128(reinterpret_cast<const __m128i *>(src.pR + i));
        vMixL = _mm_add_epi32(vMixL, vL);
        vMixR = _mm_add_epi32(vMixR, vR);
        if constexpr (kRev) {
          vRevL = _mm_add_epi32(vRevL, kNarrow ? MulShiftNarrow4<kReverbSendShift>(vL, src.vRev)
                                               : MulShift4<kReverbSendShift>(vL, src.vRev));
          vRevR = _mm_add_epi32(vRevR, kNarrow ? MulShiftNarrow4<kReverbSendShift>(vR, src.vRev)
                                               : MulShift4<kReverbSendShift>(vR, src.vRev));
        }
        if constexpr (kCho) {
          vChoL = _mm_add_epi32(vChoL, kNarrow ? MulShiftNarrow4<kChorusSendShift>(vL, src.vCho)
                                               : MulShift4<kChorusSendShift>(vL, src.vCho));
          vChoR = _mm_add_epi32(vChoR, kNarrow ? MulShiftNarrow4<kChorusSendShift>(vR, src.vCho)
                                               : MulShift4<kChorusSendShift>(vR, src.vCho));
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
    const auto Store = [i](int32_t *p, __m128i v) {
      _mm_store_si128(reinterpret_cast<__m128i *>(p + i), v);
    };
    Store(m.pnMixL, vMixL);
    Store(m.pnMixR, vMixR);
    Store(m.pnRevL, vRevL);
    Store(m.pnRevR, vRevR);
    Store(m.pnChoL, vChoL);
    Store(m.pnChoR, vChoR);
  }
}

namespace {

// x x g / kMasterGainDiv for four values, for 0 <= g <= kMaxVectorGain.
inline __m128i MasterGain4(__m128i v, __m128i vGain) {
  static_assert(kMasterGainDiv == 3 << 6);
  return ScaleThirds4<6>(v, vGain); // |x| x g < 2^38
}

} // namespace

int32_t FinishRecordFrames(uint8_t *pOut, const int32_t *pnL, const int32_t *pnR, int32_t n,
                           int32_t nGain) {
  const __m128i vGain = _mm_set1_epi32(nGain);
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i vL = _mm_load_si128(reinterpret_cast<const __m128i *>(pnL + i));
    const __m128i vR = _mm_load_si128(reinterpret_cast<const __m128i *>(pnR + i));
    const __m128i vLo = MasterGain4(_mm_unpacklo_epi32(vL, vR), vGain); // frames i, i + 1
    const __m128i vHi = MasterGain4(_mm_unpackhi_epi32(vL, vR), vGain); // frames i + 2, i + 3
    _mm_storeu_si128(reinterpret_cast<__m128i *>(pOut + 4 * i), _mm_packs_epi32(vLo, vHi));
  }
  return i;
}

#endif
