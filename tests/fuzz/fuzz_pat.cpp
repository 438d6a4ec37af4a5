// GUS patches: the resampled middle waveform, with loop points that lie in
// the converted data (0 <= loop start <= end <= size); cut files load too.
#include "fuzz_check.h"
#include "sample_harness.h"

using namespace vokra;

static constexpr size_t kFuzzSampleLimit = size_t{4} << 20;

static void CheckPat(const Instrument &inst, const uint8_t *, const uint8_t *, size_t) {
  FUZZ_CHECK(inst.nDataSize % 2 == 0 && size_t(inst.nDataSize) <= kFuzzSampleLimit);
  FUZZ_CHECK(inst.nStart == 0);
  FUZZ_CHECK(inst.nLoopStart >= 0 && inst.nLoopStart <= inst.nEnd);
  FUZZ_CHECK(inst.nEnd <= inst.nDataSize);
  FUZZ_CHECK(inst.bLoop == 0 || inst.bLoop == 1);
  FUZZ_CHECK(inst.nAttackStep >= 0 && inst.nDecayPeriod >= 0 && inst.nDecay2Period >= 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
  // A legal patch may convert to tens of megabytes in half a second: the
  // campaign looks for hangs, so samples above this are refused unconverted
  // as a set past its limit refuses them.
  static const bool bLimited = (SetSampleLimit(kFuzzSampleLimit), true);
  (void)bLimited;
  return FuzzSample(pData, nSize, ParsePatSample, kTypePat, CheckPat);
}
