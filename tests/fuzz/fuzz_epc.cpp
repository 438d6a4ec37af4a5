// EPC samples: the data must be exactly what follows the 64-byte header.
#include <cstring>

#include "fuzz_check.h"
#include "sample_harness.h"

using namespace vokra;

FUZZ_NO_COVERAGE static void CheckEpc(const Instrument &inst, const uint8_t *pSample,
                                      const uint8_t *pFile, size_t nFile) {
  FUZZ_CHECK(nFile >= size_t(kEpcHeaderBytes));
  FUZZ_CHECK(size_t(inst.nDataSize) == nFile - kEpcHeaderBytes);
  FUZZ_CHECK(std::memcmp(pSample, pFile + kEpcHeaderBytes, size_t(inst.nDataSize)) == 0);
  // The header's loop points are the file's to choose; the voice engine
  // bounds its reads by the data block, which playing the sample checks.
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
  return FuzzSample(pData, nSize, ParseEpcSample, kTypeEpc, CheckEpc);
}
