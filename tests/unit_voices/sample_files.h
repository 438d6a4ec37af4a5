// Small EPC and FPV sample files with known content for the plug-in tests:
// a looping EPC and a holding FPV, written by the shared sample writers.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "support/sample_writers.h"

namespace vokra_test {

// nCount samples of a sine with a period of dPeriod samples.
inline std::vector<int16_t> Sine(int32_t nCount, double dPeriod, double dAmplitude) {
  std::vector<int16_t> a(static_cast<size_t>(nCount));
  for (int32_t i = 0; i < nCount; ++i)
    a[static_cast<size_t>(i)] =
        static_cast<int16_t>(std::lround(dAmplitude * std::sin(2 * M_PI * i / dPeriod)));
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

// EPC that loops over all of its samples.
inline std::vector<uint8_t> EpcFile(const std::vector<int16_t> &aSamples, EpcEnvelope env = {}) {
  testsupport::EpcFields f;
  f.nEnd = static_cast<int32_t>(aSamples.size() * 2) - 2; // the last sample
  f.nAttackStep = env.nAttackStep;
  f.nDecayPeriod = env.nDecayPeriod;
  f.nDecay2Period = env.nDecay2Period;
  f.nReleaseStep = env.nReleaseStep;
  f.nDecayLevel = env.nDecayLevel;
  f.nFloorLevel = env.nFloorLevel;
  f.bLoop = 1;
  return testsupport::MakeEpc(f, aSamples);
}

// 16-bit FPV: aSamples holds end + 1 samples; the loop runs from sample
// nLoopStart to the end. The envelope rises from nStartLevel + 1 to the peak
// and then holds (rate 96 = 0 counts = hold).
inline std::vector<uint8_t> FpvFile(const std::vector<int16_t> &aSamples, int32_t nLoopStart,
                                    int32_t nReleaseRate = 90) {
  testsupport::FpvFields f;
  f.nEnd = static_cast<uint16_t>(aSamples.size() - 1);
  f.nLoopStart = static_cast<uint16_t>(nLoopStart);
  f.nStartLevel = 100;
  f.nAttackRate = 95;
  f.nDecay1Rate = 96;
  f.nDecay2Rate = 96;
  f.nDecay3Rate = 96;
  f.nReleaseRate = static_cast<uint8_t>(nReleaseRate);
  f.nPeakLevel = 127;
  return testsupport::MakeFpv(f, testsupport::Le16Bytes(aSamples));
}

} // namespace vokra_test
