// The reverb and chorus lines stepped over a whole run at once, four frames a
// pass, where the run allows it: the same frames, positions and sums as the
// per-sample ReverbStep and ChorusStep, or nothing done (0 frames) so that
// the caller steps sample by sample. Inline: the run loop calls them once a
// run and keeps the line state in registers around them.
#pragma once

#include <algorithm>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/audio_math.h"
#include "player/render/effects.h"

#if defined(__SSE2__)
// The two 16-bit halves of four line frames, sign-extended.
inline __m128i LineFrameLefts(__m128i v) {
  return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
}
inline __m128i LineFrameRights(__m128i v) {
  return _mm_srai_epi32(v, 16);
}
#endif

// The chorus steps of a run while the clock leaves the sweep where it is (one
// delay throughout) and the read position follows the write position at that
// delay; no frame read may be one written in the same four, and neither
// stretch of the line may wrap. Adds the tap to the mix rows and ORs the
// frames written into nWritten. Returns the frames done (a multiple of 4, or
// 0 when the run does not qualify); positions and the clock's count move on
// as sample by sample.
inline int32_t ChorusSteps(uint8_t *pLine, int32_t &nRead, int32_t &nWrite, int32_t nDelay,
                           int32_t &nLfoCount, const int32_t *pnInL, const int32_t *pnInR,
                           int32_t *pnMixL, int32_t *pnMixR, int32_t n, uint32_t &nWritten) {
#if defined(__SSE2__)
  // A count of c leaves the sweep alone for c steps.
  int32_t nFrames = std::min(n, nLfoCount) & ~3;
  const int32_t nGap = (nWrite - nRead) & kChorusPosMask;
  if (nFrames <= 0 || nRead != ((nWrite - nDelay) & kChorusPosMask) || nGap == 4 || nGap == 8 ||
      nGap == 12) {
    return 0;
  }
  nFrames = std::min(nFrames, (kChorusLineBytes - std::max(nRead, nWrite)) / 16 * 4);
  const __m128i vLow = _mm_set1_epi32(0xffff);
  __m128i vWritten = _mm_setzero_si128();
  for (int32_t i = 0; i < nFrames; i += 4) {
    const __m128i vTap = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pLine + nRead + 4 * i));
    const auto In = [i](const int32_t *p) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
    };
    const __m128i vFrames =
        _mm_or_si128(_mm_and_si128(In(pnInL), vLow), _mm_slli_epi32(In(pnInR), 16));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(pLine + nWrite + 4 * i), vFrames);
    vWritten = _mm_or_si128(vWritten, vFrames);
    const auto AddMix = [i](int32_t *p, __m128i v) {
      auto *const q = reinterpret_cast<__m128i *>(p + i);
      _mm_storeu_si128(q, _mm_add_epi32(_mm_loadu_si128(q), v));
    };
    AddMix(pnMixL, _mm_slli_epi32(LineFrameLefts(vTap), 1));
    AddMix(pnMixR, _mm_slli_epi32(LineFrameRights(vTap), 1));
  }
  nWritten |= static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi32(vWritten, _mm_setzero_si128())) != 0xffff);
  nLfoCount -= nFrames;
  nWrite = (nWrite + 4 * nFrames) & kChorusPosMask;
  nRead = (nWrite - nDelay) & kChorusPosMask;
  return nFrames;
#else
  (void)pLine, (void)nRead, (void)nWrite, (void)nDelay, (void)nLfoCount, (void)pnInL;
  (void)pnInR, (void)pnMixL, (void)pnMixR, (void)n, (void)nWritten;
  return 0;
#endif
}

// The reverb steps of a run when no frame read in the run is one written in
// it: the write position runs at least the run ahead of the read position
// and neither stretch of the line wraps. The line's input of each frame is
// what it held, the send rows' value and the feedback. Adds the line's
// output to the mix rows and ORs the frames written into nWritten. Returns
// the frames done (a multiple of 4, or 0 when the run does not qualify);
// positions and inputs move on as sample by sample. Rows 16-byte aligned.
inline int32_t ReverbSteps(uint8_t *pLine, int32_t &nRead, int32_t &nWrite, int32_t nDelay,
                           const int32_t *pnSendL, const int32_t *pnSendR, int32_t *pnMixL,
                           int32_t *pnMixR, int32_t n, int32_t &nInL, int32_t &nInR,
                           uint32_t &nWritten) {
#if defined(__SSE2__)
  const int32_t nFrames = n & ~3;
  const int32_t nBytes = 4 * nFrames;
  if (nFrames == 0 || nWrite != ((nRead + nDelay) & kReverbPosMask) || nWrite - nRead < nBytes ||
      nWrite + nBytes > kReverbLineBytes) {
    return 0;
  }
  const __m128i vLow = _mm_set1_epi32(0xffff);
  __m128i vInL = _mm_setzero_si128(), vInR = vInL, vWritten = vInL;
  for (int32_t i = 0; i < nFrames; i += 4) {
    auto *const pRead = reinterpret_cast<__m128i *>(pLine + nRead + 4 * i);
    auto *const pWrite = reinterpret_cast<__m128i *>(pLine + nWrite + 4 * i);
    const __m128i vOld = _mm_loadu_si128(pWrite);
    const __m128i vDelayed = _mm_loadu_si128(pRead);
    const __m128i vDL = LineFrameLefts(vDelayed);
    const __m128i vDR = LineFrameRights(vDelayed);
    // In: what the line held, the sends, and the feedback d x 80 / 128.
    const auto Feedback = [](__m128i vD) {
      return ShiftTowardZero4<7>(_mm_add_epi32(_mm_slli_epi32(vD, 6), _mm_slli_epi32(vD, 4)));
    };
    vInL =
        _mm_add_epi32(_mm_add_epi32(LineFrameLefts(vOld),
                                    _mm_load_si128(reinterpret_cast<const __m128i *>(pnSendL + i))),
                      Feedback(vDL));
    vInR =
        _mm_add_epi32(_mm_add_epi32(LineFrameRights(vOld),
                                    _mm_load_si128(reinterpret_cast<const __m128i *>(pnSendR + i))),
                      Feedback(vDR));
    const __m128i vFrames = _mm_or_si128(_mm_and_si128(vInL, vLow), _mm_slli_epi32(vInR, 16));
    _mm_storeu_si128(pWrite, vFrames);
    vWritten = _mm_or_si128(vWritten, vFrames);
    _mm_storeu_si128(pRead, _mm_setzero_si128());
    const auto AddMix = [i](int32_t *p, __m128i v) {
      auto *const q = reinterpret_cast<__m128i *>(p + i);
      _mm_store_si128(q, _mm_add_epi32(_mm_load_si128(q), v));
    };
    AddMix(pnMixL, _mm_slli_epi32(vDL, 2));
    AddMix(pnMixR, _mm_slli_epi32(vDR, 2));
  }
  nWritten |= static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi32(vWritten, _mm_setzero_si128())) != 0xffff);
  nInL = _mm_cvtsi128_si32(_mm_shuffle_epi32(vInL, _MM_SHUFFLE(3, 3, 3, 3)));
  nInR = _mm_cvtsi128_si32(_mm_shuffle_epi32(vInR, _MM_SHUFFLE(3, 3, 3, 3)));
  nRead = (nRead + nBytes) & kReverbPosMask;
  nWrite = (nRead + nDelay) & kReverbPosMask;
  return nFrames;
#else
  (void)pLine, (void)nRead, (void)nWrite, (void)nDelay, (void)pnSendL, (void)pnSendR;
  (void)pnMixL, (void)pnMixR, (void)n, (void)nInL, (void)nInR, (void)nWritten;
  return 0;
#endif
}
