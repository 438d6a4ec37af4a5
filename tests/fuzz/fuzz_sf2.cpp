// SoundFonts read by torqa-mkcfg --sf2: any bytes are refused with a message
// or give zones whose samples and loops, once cut from the pool, lie inside
// the wave, and envelopes inside the unit's ranges.
#include "fuzz_check.h"
#include "tools/soundset/sf2_convert.h"
#include "tools/soundset/sf2_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
  Sf2File f;
  std::string sError;
  if (!f.Parse(pData, nSize, &sError)) {
    FUZZ_CHECK(!sError.empty());
    return 0;
  }
  // A few presets are enough to reach every path; a file may hold thousands.
  for (size_t p = 0; p < f.aPresets.size() && p < 4; ++p) {
    std::vector<Sf2Region> aRegions;
    int32_t nKey = -1;
    const int32_t nChosen = ChooseRegion(f, f.aPresets[p], 60, &aRegions, &nKey);
    FUZZ_CHECK(nChosen < static_cast<int32_t>(aRegions.size()));
    for (const Sf2Region &r : aRegions)
      FUZZ_CHECK(r.nSample >= 0 && static_cast<size_t>(r.nSample) < f.aSamples.size());
    if (nChosen < 0)
      continue;
    for (int32_t bDrum = 0; bDrum <= 1; ++bDrum) {
      PatchWave w;
      if (!Sf2Wave(f, aRegions, static_cast<size_t>(nChosen), bDrum, nKey, &w))
        continue;
      FUZZ_CHECK(!w.aSamples.empty() && w.nRate > 0);
      FUZZ_CHECK(!(w.nModes & 4) || (w.nLoopStart >= 0 && w.nLoopStart < w.nLoopEnd &&
                                     w.nLoopEnd <= static_cast<int32_t>(w.aSamples.size())));
    }
    EpcImage e;
    MapSf2Envelope(aRegions[static_cast<size_t>(nChosen)].anGen, nKey, 1000.0, &e);
    FUZZ_CHECK(e.nAttackStep >= 1 && e.nAttackStep <= 127);
    FUZZ_CHECK(e.nReleaseStep >= 1 && e.nReleaseStep <= 127);
    FUZZ_CHECK(e.nDecayPeriod >= 1 && e.nDecay2Period >= 1);
    FUZZ_CHECK(e.nFloorLevel >= 0 && e.nFloorLevel <= e.nDecayLevel && e.nDecayLevel <= 126);
  }
  return 0;
}
