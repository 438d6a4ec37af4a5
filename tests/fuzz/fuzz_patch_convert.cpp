// GUS patches converted into EPC form by torqa-mkcfg: any bytes either are
// refused or give a bounded wave whose loop lies inside it.
#include "fuzz_check.h"
#include "tools/soundset/patch_convert.h"

FUZZ_NO_COVERAGE static void Check(const Conversion &c) {
  const EpcImage &e = c.epc;
  FUZZ_CHECK(!e.aData.empty() && e.aData.size() <= (4u << 20));
  FUZZ_CHECK(e.nEnd == static_cast<int32_t>(2 * (e.aData.size() - 1)));
  FUZZ_CHECK(e.nLoopStart >= 0 && e.nLoopStart <= e.nEnd && e.nLoopStart % 2 == 0);
  FUZZ_CHECK(e.nReleaseStep >= 1 && e.nReleaseStep <= 127);
  FUZZ_CHECK(e.nAttackStep >= 1 && e.nDecayPeriod >= 1 && e.nDecay2Period >= 1);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
  PatchWave w;
  if (!ParsePatch(pData, nSize, &w))
    return 0;
  FUZZ_CHECK(w.nLoopStart >= 0 && w.nLoopEnd <= static_cast<int32_t>(w.aSamples.size()));
  // Conversion time grows with the wave; the header fields are what matter.
  if (w.aSamples.size() > 4096)
    return 0;
  Conversion c;
  if (ConvertMelodic(w, 48, &c))
    Check(c);
  if (ConvertDrum(w, 40, &c))
    Check(c);
  return 0;
}
