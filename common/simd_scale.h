// Exact integer scaling of four 32-bit values at once, shared by the player's
// output stage and the unit's pan: x x w / (3 x 2^kShift), truncated toward
// zero as the sample-by-sample code divides.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>

// For weights 0 <= w with |x| x w < 2^(32 + kShift), every w in the even
// lanes of vWeight. Formed as sign and magnitude: |x| x w shifted by kShift
// fits in 32 bits, and a 32-bit q / 3 is q x 0xAAAAAAAB >> 33 exactly.
template <int kShift> inline __m128i ScaleThirds4(__m128i v, __m128i vWeight) {
  const __m128i vThird = _mm_set1_epi32(static_cast<int>(0xAAAAAAABu));
  const __m128i m = _mm_srai_epi32(v, 31);
  const __m128i a = _mm_sub_epi32(_mm_xor_si128(v, m), m); // |x|, 2^31 included
  const __m128i qEven = _mm_srli_epi64(_mm_mul_epu32(a, vWeight), kShift);
  const __m128i qOdd = _mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi64(a, 32), vWeight), kShift);
  const __m128i rEven = _mm_srli_epi64(_mm_mul_epu32(qEven, vThird), 33);
  const __m128i rOdd = _mm_srli_epi64(_mm_mul_epu32(qOdd, vThird), 33);
  const __m128i r = _mm_or_si128(rEven, _mm_slli_epi64(rOdd, 32));
  return _mm_sub_epi32(_mm_xor_si128(r, m), m);
}
#endif

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>

// ScaleThirds4 for eight values, for callers that checked for AVX2.
template <int kShift>
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i ScaleThirds8(__m256i v,
                                                                        __m256i vWeight) {
  const __m256i vThird = _mm256_set1_epi32(static_cast<int>(0xAAAAAAABu));
  const __m256i m = _mm256_srai_epi32(v, 31);
  const __m256i a = _mm256_sub_epi32(_mm256_xor_si256(v, m), m);
  const __m256i qEven = _mm256_srli_epi64(_mm256_mul_epu32(a, vWeight), kShift);
  const __m256i qOdd =
      _mm256_srli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(a, 32), vWeight), kShift);
  const __m256i rEven = _mm256_srli_epi64(_mm256_mul_epu32(qEven, vThird), 33);
  const __m256i rOdd = _mm256_srli_epi64(_mm256_mul_epu32(qOdd, vThird), 33);
  const __m256i r = _mm256_or_si256(rEven, _mm256_slli_epi64(rOdd, 32));
  return _mm256_sub_epi32(_mm256_xor_si256(r, m), m);
}
#endif
