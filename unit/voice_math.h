// Arithmetic shared by the voice loops: the scales of a voice's output and the
// bounded sample read. The shifts that truncate toward zero as the
// sample-by-sample code divides are ShiftTowardZero* in common/audio_math.h.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

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

static_assert(kAmpScale == 1 << 14 && kVoiceScale / 127 == 1 << 6,
              "ShiftTowardZero<14> and <6> stand for these divisions");

} // namespace vokra
