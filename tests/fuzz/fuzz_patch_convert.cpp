// GUS patches converted into EPC form by torqa-mkcfg: any bytes either are
// refused or give a bounded wave whose loop lies inside it.
#include "fuzz_check.h"
#include "tools/soundset/patch_convert.h"

namespace {

// Samples resampled in and out per conversion, at most: up to about 0.15 s of
// CPU under ASan. Legal waves up to the converter's own limit take it ten
// seconds and more, which would hide real hangs behind the timeout.
constexpr double kMaxWork = 1 << 15;
// Far past the converter's limit of stored samples: refused before any work.
constexpr double kRefusedOut = 1 << 25;

// Stored samples per source sample: the melodic form stores the wave where
// its low note steps one sample per 44.1 kHz output sample; the drum form
// where its pitch note does, taken down by up to four octaves while above
// four times that rate.
double StoredRatio(const PatchWave &w, int32_t nNote, bool bDrum) {
  double dRate = 44100.0 * w.dRootHz / TablePitchHz(nNote);
  for (int j = 0; bDrum && j < 4 && dRate > 4 * 44100.0; ++j)
    dRate /= 2;
  return dRate / w.nRate;
}

// Whether converting is quick: the samples in and out, a loop counted at up
// to 3 x 64 periods and 16384 samples of settling past the head. A wave the
// converter refuses for its size costs nothing and is converted too.
bool Quick(const PatchWave &w, double dRatio, bool bLoop) {
  const double nLoop = bLoop ? (w.nLoopEnd - w.nLoopStart) * ((w.nModes & 8) ? 2.0 : 1.0) : 0;
  const double n = static_cast<double>(w.aSamples.size()) + 192 * nLoop;
  const double dOut = n * dRatio + (bLoop ? 16384 : 0);
  const double dIn = n + (bLoop ? 16384 / dRatio : 0);
  return dOut > kRefusedOut || !(dIn + dOut > kMaxWork);
}

FUZZ_NO_COVERAGE void Check(const Conversion &c) {
  const EpcImage &e = c.epc;
  FUZZ_CHECK(!e.aData.empty() && e.aData.size() <= (4u << 20));
  FUZZ_CHECK(e.nEnd == static_cast<int32_t>(2 * (e.aData.size() - 1)));
  FUZZ_CHECK(e.nLoopStart >= 0 && e.nLoopStart <= e.nEnd && e.nLoopStart % 2 == 0);
  FUZZ_CHECK(e.nReleaseStep >= 1 && e.nReleaseStep <= 127);
  FUZZ_CHECK(e.nAttackStep >= 1 && e.nDecayPeriod >= 1 && e.nDecay2Period >= 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
  PatchWave w;
  if (!ParsePatch(pData, nSize, &w))
    return 0;
  FUZZ_CHECK(w.nLoopStart >= 0 && w.nLoopEnd <= static_cast<int32_t>(w.aSamples.size()));
  // Conversion time grows with the wave; the header fields are what matter.
  if (w.aSamples.size() > 4096)
    return 0;
  constexpr int32_t kLowNote = 48, kDrumNote = 40;
  Conversion c;
  if (Quick(w, StoredRatio(w, kLowNote, false), (w.nModes & 4) != 0) &&
      ConvertMelodic(w, kLowNote, &c))
    Check(c);
  if (Quick(w, StoredRatio(w, kDrumNote, true), false) && ConvertDrum(w, kDrumNote, &c))
    Check(c);
  return 0;
}
