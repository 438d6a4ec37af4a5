// Registry file text: whatever parses must write out and parse back to the
// same keys and values, and writing that again must give the same text.
#include <string>

#include "fuzz_check.h"
#include "platform/registry_text.h"

namespace {

FUZZ_NO_COVERAGE bool SameContent(const RegTextFile &a, const RegTextFile &b) {
  if (a.aKeys.size() != b.aKeys.size())
    return false;
  for (size_t k = 0; k < a.aKeys.size(); ++k) {
    const RegTextKey &ka = a.aKeys[k];
    const RegTextKey &kb = b.aKeys[k];
    if (ka.sPath != kb.sPath || ka.aValues.size() != kb.aValues.size())
      return false;
    for (size_t v = 0; v < ka.aValues.size(); ++v) {
      const RegTextValue &va = ka.aValues[v];
      const RegTextValue &vb = kb.aValues[v];
      if (va.sName != vb.sName || va.nType != vb.nType || va.aData != vb.aData)
        return false;
    }
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
  RegTextFile file;
  if (!ParseRegText(pData, nSize, file)) {
    FUZZ_CHECK(file.aKeys.empty());
    return 0;
  }
  const std::string sText = FormatRegText(file);
  RegTextFile back;
  FUZZ_CHECK(ParseRegText(reinterpret_cast<const uint8_t *>(sText.data()), sText.size(), back) ==
             1);
  FUZZ_CHECK(SameContent(file, back));
  FUZZ_CHECK(FormatRegText(back) == sText);
  // Lookups ignore ASCII case; every parsed key and value can be found again.
  for (RegTextKey &key : back.aKeys) {
    FUZZ_CHECK(HasRegKey(back, key.sPath) == 1);
    FUZZ_CHECK(FindRegKey(back, key.sPath) != nullptr);
    for (RegTextValue &value : key.aValues)
      FUZZ_CHECK(FindRegValue(key, value.sName) != nullptr);
  }
  return 0;
}
