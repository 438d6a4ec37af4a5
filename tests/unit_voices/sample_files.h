// Writers of small EPC and FPV sample files with known content, laid out
// field by field as the unit documents the two formats.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vokra_test {

inline void PutLe16(std::vector<uint8_t> &a, size_t nAt, uint32_t n) {
  a[nAt] = static_cast<uint8_t>(n);
  a[nAt + 1] = static_cast<uint8_t>(n >> 8);
}
inline void PutLe32(std::vector<uint8_t> &a, size_t nAt, uint32_t n) {
  for (int i = 0; i < 4; ++i)
    a[nAt + i] = static_cast<uint8_t>(n >> (8 * i));
}

// nCount samples of a sine with a period of dPeriod samples.
inline std::vector<int16_t> Sine(int32_t nCount, double dPeriod, double dAmplitude) {
  std::vector<int16_t> a(static_cast<size_t>(nCount));
  for (int32_t i = 0; i < nCount; ++i)
    a[i] = static_cast<int16_t>(std::lround(dAmplitude * std::sin(2 * M_PI * i / dPeriod)));
  return a;
}

struct EpcEnvelope {
  int32_t nAttackStep = 127;
  int32_t nDecayPeriod = 1;
  int32_t nDecay2Period = 1;
  int32_t nReleaseStep = 3;
  int32_t nDecayLevel = 100;
  int32_t nFloorLevel = 100;
};

// EPC: 64-byte header, then the samples; loops over all of them.
inline std::vector<uint8_t> EpcFile(const std::vector<int16_t> &aSamples, EpcEnvelope env = {}) {
  const uint32_t nBytes = static_cast<uint32_t>(aSamples.size() * 2);
  std::vector<uint8_t> a(64 + nBytes, 0);
  std::memcpy(a.data(), "EPC1", 4);
  PutLe32(a, 4, nBytes);
  a[23] = 0;                  // transpose
  PutLe32(a, 24, 0);          // start
  PutLe32(a, 28, 0);          // loop start
  PutLe32(a, 32, nBytes - 2); // end: the last sample
  PutLe32(a, 36, static_cast<uint32_t>(env.nAttackStep));
  PutLe32(a, 40, static_cast<uint32_t>(env.nDecayPeriod));
  PutLe32(a, 44, static_cast<uint32_t>(env.nDecay2Period));
  PutLe32(a, 48, static_cast<uint32_t>(env.nReleaseStep));
  PutLe32(a, 52, static_cast<uint32_t>(env.nDecayLevel));
  PutLe32(a, 56, static_cast<uint32_t>(env.nFloorLevel));
  PutLe32(a, 60, 1); // loops
  for (size_t i = 0; i < aSamples.size(); ++i)
    PutLe16(a, 64 + 2 * i, static_cast<uint16_t>(aSamples[i]));
  return a;
}

// FPV, 16-bit: header at 0, samples from 256. aSamples holds end + 1 samples;
// the loop runs from sample nLoopStart to the end. The envelope rises from
// nStartLevel + 1 to the peak and then holds (rate 96 = 0 counts = hold).
inline std::vector<uint8_t> FpvFile(const std::vector<int16_t> &aSamples, int32_t nLoopStart,
                                    int32_t nReleaseRate = 90) {
  std::vector<uint8_t> a(256 + aSamples.size() * 2, 0);
  a[3] = 'W';                                                // 16-bit data
  PutLe16(a, 4, 0);                                          // start
  PutLe16(a, 6, static_cast<uint32_t>(aSamples.size() - 1)); // end
  PutLe16(a, 8, static_cast<uint32_t>(nLoopStart));
  a[12] = 0;   // transpose
  a[16] = 100; // start level
  a[17] = 95;  // attack rate
  a[18] = 96;  // decay 1 rate: hold
  a[19] = 0;
  a[20] = 96;
  a[21] = 0;
  a[22] = 96;
  a[23] = static_cast<uint8_t>(nReleaseRate);
  a[24] = 127; // peak
  a[73] = 0;   // rate divider
  for (size_t i = 0; i < aSamples.size(); ++i)
    PutLe16(a, 256 + 2 * i, static_cast<uint16_t>(aSamples[i]));
  return a;
}

} // namespace vokra_test
