// FPV samples: end, size and loop points derived from the header, data from
// offset 256 (8-bit data widened to the high byte), zeros where the file is short.
#include "fuzz_check.h"
#include "sample_harness.h"

using namespace vokra;

namespace {
constexpr size_t kDataOffset = 256;

uint8_t FileByte(const uint8_t *pFile, size_t nFile, size_t i) {
  return i < nFile ? pFile[i] : 0;
}
} // namespace

FUZZ_NO_COVERAGE static void CheckFpv(const Instrument &inst, const uint8_t *pSample,
                                      const uint8_t *pFile, size_t nFile) {
  FUZZ_CHECK(inst.nDataSize >= 2 && inst.nDataSize % 2 == 0);
  FUZZ_CHECK(inst.nEnd == inst.nDataSize - 4);
  FUZZ_CHECK(inst.bLoop == 0 || inst.bLoop == 1);
  if (inst.bLoop) {
    FUZZ_CHECK(inst.nLoopStart > inst.nStart && inst.nLoopStart < inst.nEnd);
    FUZZ_CHECK(inst.nLoopLength > 0 && inst.nLoopLength <= inst.nDataSize);
  }
  FUZZ_CHECK(inst.nRateDivider >= 0 && inst.nRateDivider <= 10);
  FUZZ_CHECK(inst.nPeakLevel >= 1 && inst.nPeakLevel <= 255);
  const bool b8Bit = nFile > 3 && pFile[3] == 'P';
  if (b8Bit) {
    const int32_t nSamples = (inst.nEnd + 2) / 2;
    for (int32_t k = 0; k < nSamples; ++k) {
      FUZZ_CHECK(pSample[2 * k] == 0);
      FUZZ_CHECK(pSample[2 * k + 1] == FileByte(pFile, nFile, kDataOffset + size_t(k)));
    }
  } else {
    for (int32_t i = 0; i < inst.nDataSize; ++i)
      FUZZ_CHECK(pSample[i] == FileByte(pFile, nFile, kDataOffset + size_t(i)));
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
  return FuzzSample(pData, nSize, ParseFpvSample, kTypeFpv, CheckFpv);
}
