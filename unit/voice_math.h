// Arithmetic shared by the voice loops: the scales of a voice's output, the
// bounded sample read and the shifts that truncate toward zero as the
// sample-by-sample code divides.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#endif

#include "common/audio_math.h"

namespace vokra {

constexpr int32_t kAmpScale = 16384;       // out = sample x nAmp / 16384 (2^14)
constexpr int32_t kVibratoScale = 1000000; // sine 255 x modulation 127: about 3.3 %
constexpr int64_t kVoiceScale = 8128;      // Make: instrument gain 64 x final gain 127

// The signed 16-bit little-endian sample at byte offset nOffset; 0 outside
// the block (0 .. nLimit), so no position can read outside the data.
inline int32_t Fetch(const uint8_t *pData, int32_t nOffset, int32_t nLimit) {
  if (static_cast<uint32_t>(nOffset) > static_cast<uint32_t>(nLimit))
    return 0;
  if constexpr (std::endian::native == std::endian::little) {
    int16_t nSample; // one load instead of two bytes put together
    std::memcpy(&nSample, pData + nOffset, sizeof nSample);
    return nSample;
  }
  return static_cast<int16_t>(pData[nOffset] | (pData[nOffset + 1] << 8));
}

// v / 2^kShift truncated toward zero: the bias 2^kShift - 1 is added to
// negative values only, so the arithmetic shift rounds as the division does.
template <int kShift> inline int64_t ShiftTowardZero(int64_t v) {
  return (v + ((v >> 63) & ((int64_t{1} << kShift) - 1))) >> kShift;
}

#if defined(__SSE2__)
// The same for four 32-bit lanes.
template <int kShift> [[gnu::always_inline]] inline __m128i ShiftTowardZero4(__m128i v) {
  const __m128i vBias = _mm_set1_epi32((1 << kShift) - 1);
  return _mm_srai_epi32(_mm_add_epi32(v, _mm_and_si128(_mm_srai_epi32(v, 31), vBias)), kShift);
}
#endif

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
// The same for eight 32-bit lanes, for callers that checked for AVX2.
template <int kShift>
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i ShiftTowardZero8(__m256i v) {
  const __m256i vBias = _mm256_set1_epi32((1 << kShift) - 1);
  return _mm256_srai_epi32(_mm256_add_epi32(v, _mm256_and_si256(_mm256_srai_epi32(v, 31), vBias)),
                           kShift);
}
#endif

static_assert(kAmpScale == 1 << 14 && kVoiceScale / 127 == 1 << 6,
              "the shifts below stand for these divisions");

} // namespace vokra
