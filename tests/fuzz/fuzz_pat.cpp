// GUS patches: the resampled middle waveform, with loop points that lie in
// the converted data (0 <= loop start <= end <= size).
#include "fuzz_check.h"
#include "sample_harness.h"

using namespace vokra;

static void CheckPat(const Instrument &inst, const uint8_t *, const uint8_t *pFile, size_t nFile) {
  FUZZ_CHECK(nFile >= 239 && pFile[85] != 0);
  FUZZ_CHECK(inst.nDataSize % 2 == 0 && inst.nDataSize <= (64 << 20));
  FUZZ_CHECK(inst.nStart == 0);
  FUZZ_CHECK(inst.nLoopStart >= 0 && inst.nLoopStart <= inst.nEnd);
  FUZZ_CHECK(inst.nEnd <= inst.nDataSize);
  FUZZ_CHECK(inst.bLoop == 0 || inst.bLoop == 1);
  FUZZ_CHECK(inst.nAttackStep >= 0 && inst.nDecayPeriod >= 0 && inst.nDecay2Period >= 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
  return FuzzSample(pData, nSize, ParsePatSample, kTypePat, CheckPat);
}
