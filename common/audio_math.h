// Signed 32-bit audio arithmetic without undefined behaviour, shared by the
// player and the unit: sums wrap as two's complement, products are formed in
// 64 bits and divided there, and vector shifts truncate toward zero as the
// divisions they stand for.
#pragma once

#include <cstdint>

// Low 32 bits of v as a signed value (two's-complement wrap).
inline int32_t Wrap32(int64_t v) {
  return static_cast<int32_t>(static_cast<uint32_t>(v));
}

inline int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

inline int32_t WrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// a * b / d with the product in 64 bits, the quotient truncated toward zero
// and then wrapped to 32 bits.
inline int32_t MulDiv(int32_t a, int32_t b, int32_t d) {
  return Wrap32(static_cast<int64_t>(a) * b / d);
}

// |v| without the INT32_MIN trap (saturates to INT32_MAX).
inline int32_t Abs32(int32_t v) {
  const int64_t a = v < 0 ? -static_cast<int64_t>(v) : v;
  return a > INT32_MAX ? INT32_MAX : static_cast<int32_t>(a);
}

// v / 2^kShift truncated toward zero: the bias 2^kShift - 1 is added to
// negative values only, so the arithmetic shift rounds as the division does.
template <int kShift> inline int64_t ShiftTowardZero(int64_t v) {
  return (v + ((v >> 63) & ((int64_t{1} << kShift) - 1))) >> kShift;
}

#if defined(__SSE2__)
#include <emmintrin.h>

// ShiftTowardZero in each of four 32-bit lanes.
template <int kShift> [[gnu::always_inline]] inline __m128i ShiftTowardZero4(__m128i v) {
  const __m128i vBias = _mm_set1_epi32((1 << kShift) - 1);
  return _mm_srai_epi32(_mm_add_epi32(v, _mm_and_si128(_mm_srai_epi32(v, 31), vBias)), kShift);
}
#endif

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>

// ShiftTowardZero4 for eight lanes, for callers that checked for AVX2.
template <int kShift>
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i ShiftTowardZero8(__m256i v) {
  const __m256i vBias = _mm256_set1_epi32((1 << kShift) - 1);
  return _mm256_srai_epi32(_mm256_add_epi32(v, _mm256_and_si256(_mm256_srai_epi32(v, 31), vBias)),
                           kShift);
}
#endif
