// The unit's four settings in its own registry key: receive mask, final
// gain, interpolation switch and configuration file name.
#include <cstring>

#include "platform/registry.h"
#include "unit/channels.h"
#include "unit/unit_settings.h"
#include "unit/unit_state.h"

namespace vokra {

namespace {

constexpr char kVendorKey[] = "Software\\QUIRN-PLUGIN\\VOKRAUNIT";
constexpr char kStaticsKey[] = "Software\\QUIRN-PLUGIN\\VOKRAUNIT\\Statics";
constexpr char kVendorMarker[] = "Powered by Velmar";
// "静的保存" in the Japanese code page (Shift-JIS), as the key has always held it.
constexpr uint8_t kStaticsMarker[] = {0x90, 0xC3, 0x93, 0x49, 0x95, 0xDB, 0x91, 0xB6};
constexpr char kDefaultCfgName[] = "VOKRA.cfg";
constexpr uint32_t kAllChannels = 0xFFFF;
constexpr int32_t kDefaultFinalGain = 127;

void SetDword(RegKey *pKey, const char *pszName, uint32_t nValue) {
  const uint8_t ab[4] = {static_cast<uint8_t>(nValue), static_cast<uint8_t>(nValue >> 8),
                         static_cast<uint8_t>(nValue >> 16), static_cast<uint8_t>(nValue >> 24)};
  RegSetValue(pKey, pszName, kRegDword, ab, sizeof ab);
}

// Reads a 4-byte value into *pnValue, whatever its type tag (a value
// written by another tool as binary is still 4 bytes); leaves it when missing
// or of another size.
void QueryDword(RegKey *pKey, const char *pszName, uint32_t *pnValue) {
  uint8_t ab[4];
  uint32_t nType = 0;
  uint32_t nSize = sizeof ab;
  if (RegQueryValue(pKey, pszName, &nType, ab, &nSize) && nSize == sizeof ab)
    *pnValue =
        uint32_t(ab[0]) | uint32_t(ab[1]) << 8 | uint32_t(ab[2]) << 16 | uint32_t(ab[3]) << 24;
}

// Stored without the terminating NUL, as the other values of the key.
void SetString(RegKey *pKey, const char *pszName, const char *pszValue) {
  RegSetValue(pKey, pszName, kRegSz, reinterpret_cast<const uint8_t *>(pszValue),
              static_cast<uint32_t>(std::strlen(pszValue)));
}

} // namespace

void CreateUnitKeys() {
  if (RegKey *pKey = RegCreateKey(kVendorKey)) {
    SetString(pKey, "", kVendorMarker);
    RegCloseKey(pKey);
  }
  if (RegKey *pKey = RegCreateKey(kStaticsKey)) {
    RegSetValue(pKey, "", kRegSz, kStaticsMarker, sizeof kStaticsMarker);
    RegCloseKey(pKey);
  }
  // Closing a key writes it; there is nothing further to flush.
}

void LoadUnitSettings() {
  RegKey *pKey = RegOpenKey(kStaticsKey);
  if (pKey == nullptr) {
    CreateUnitKeys();
    pKey = RegOpenKey(kStaticsKey);
    if (pKey != nullptr) {
      SetDword(pKey, "nUseCh", kAllChannels);
      SetDword(pKey, "nFinalGain", kDefaultFinalGain);
      SetDword(pKey, "bOverSample", 0);
      SetString(pKey, "CFG", kDefaultCfgName);
      std::memcpy(szCfgName, kDefaultCfgName, sizeof kDefaultCfgName);
    }
  }

  // A missing receive mask (or no key at all) lets every channel receive.
  uint32_t nUseCh = kAllChannels;
  if (pKey != nullptr) {
    uint32_t nValue = static_cast<uint32_t>(nFinalGain);
    QueryDword(pKey, "nFinalGain", &nValue);
    nFinalGain = static_cast<int32_t>(nValue);
    nValue = static_cast<uint32_t>(bOverSample);
    QueryDword(pKey, "bOverSample", &nValue);
    bOverSample = static_cast<int32_t>(nValue);
    QueryDword(pKey, "nUseCh", &nUseCh);

    // Room for the NUL the stored value lacks; a longer name keeps the old one.
    char szName[kCfgNameBytes];
    uint32_t nType = 0;
    uint32_t nSize = kCfgNameBytes - 1;
    if (RegQueryValue(pKey, "CFG", &nType, reinterpret_cast<uint8_t *>(szName), &nSize) &&
        nType == kRegSz) {
      szName[nSize] = '\0';
      std::memcpy(szCfgName, szName, nSize + 1);
    }
  }
  for (int32_t c = 0; c < kChannelCount; ++c)
    aUnitChannel[c].bReceive = (nUseCh >> c) & 1;
  if (pKey != nullptr)
    RegCloseKey(pKey);
}

void SaveUnitSettings() {
  RegKey *pKey = RegOpenKey(kStaticsKey);
  if (pKey == nullptr)
    return;
  uint32_t nUseCh = 0;
  for (int32_t c = 0; c < kChannelCount; ++c)
    if (aUnitChannel[c].bReceive)
      nUseCh |= 1u << c;
  SetDword(pKey, "nUseCh", nUseCh);
  SetDword(pKey, "nFinalGain", static_cast<uint32_t>(nFinalGain));
  SetDword(pKey, "bOverSample", static_cast<uint32_t>(bOverSample));
  SetString(pKey, "CFG", szCfgName);
  RegCloseKey(pKey);
}

} // namespace vokra
