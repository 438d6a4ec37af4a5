// Signed 32-bit audio arithmetic without undefined behaviour, shared by the
// player and the unit: sums wrap as two's complement, products are formed in
// 64 bits and divided there.
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
