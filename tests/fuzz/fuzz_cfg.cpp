// Sound-set configuration text: parse into the instrument table and the two
// maps. Every map entry must name one of the 768 instruments, every path must
// stay inside szPath with its NUL, and the pan values inside their ranges.
#include <cstring>

#include "fuzz_check.h"
#include "unit/soundset.h"
#include "unit/unit_state.h"

using namespace vokra;

namespace {

constexpr char kUnitDir[] = "/fuzz/PLUGIN/";

FUZZ_NO_COVERAGE void CheckTables() {
  for (int32_t a = 0; a < kMapSize; ++a)
    for (int32_t b = 0; b < kMapSize; ++b) {
      FUZZ_CHECK(anProgramMap[a][b] >= 0 && anProgramMap[a][b] < kInstruments);
      FUZZ_CHECK(anDrumMap[a][b] >= 0 && anDrumMap[a][b] < kInstruments);
    }
  const size_t nPrefix = std::strlen(kUnitDir) + std::strlen(kSoundSetDir);
  for (const Instrument &inst : aInstrument) {
    const void *pEnd = std::memchr(inst.szPath, 0, sizeof inst.szPath);
    FUZZ_CHECK(pEnd != nullptr);
    if (inst.szPath[0] != '\0') {
      FUZZ_CHECK(std::strncmp(inst.szPath, kUnitDir, std::strlen(kUnitDir)) == 0);
      FUZZ_CHECK(std::strlen(inst.szPath) >= nPrefix);
      FUZZ_CHECK(std::strchr(inst.szPath, '\\') == nullptr);
      FUZZ_CHECK(inst.nInstPan >= 0 && inst.nInstPan <= 127);
      FUZZ_CHECK(inst.nInstPanL >= 0 && inst.nInstPanL <= 63);
      FUZZ_CHECK(inst.nInstPanR >= 0 && inst.nInstPanR <= 63);
    }
    FUZZ_CHECK(inst.bPathCut == 0 || inst.bPathCut == 1);
    FUZZ_CHECK(inst.hData == nullptr && inst.pData == nullptr); // parsing loads no sample
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
  std::strcpy(szUnitDir, kUnitDir);
  ClearInstruments();
  ParseCfgText(pData, nSize);
  CheckTables();
  // A second parse over the filled tables, as a reload without RemoveCFG does.
  ParseCfgText(pData, nSize);
  CheckTables();
  ClearInstruments();
  return 0;
}
