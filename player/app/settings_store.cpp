#include "player/app/settings_store.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "platform/audio_devices.h"
#include "platform/priority.h"
#include "platform/registry.h"
#include "player/render/effects.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"

// Values are read as raw bytes straight into the fields, as the registry stores them.
static_assert(std::endian::native == std::endian::little, "registry values are little-endian");

static const char kProductMarker[] = "Powered by Velmar"; // stored without its NUL: 17 bytes
// "静的保存" in Shift-JIS, the code page the marker is stored in: 8 bytes, no NUL.
static const uint8_t kStaticsMarker[8] = {0x90, 0xC3, 0x93, 0x49, 0x95, 0xDB, 0x91, 0xB6};

static const size_t kPathRoom = sizeof(UnitSlot::szPath) - 1; // P0..P7: the NUL is not stored
static const size_t kDeviceNameRoom = kDeviceNameBytes - 1;   // DevPname: at most 31 bytes

// How a value is stored: the numbers as REG_DWORD, the flags as REG_DWORD 0
// or 1 (any stored non-zero reads as 1).
enum class SettingType { Dword, Flag };

// One persisted engine field. The range is what the setup dialog offers; a
// load takes what is stored (only the priority is checked, below).
struct Setting {
  const char *pszName; // registry value name
  SettingType nType;
  void *pField;      // the 4-byte field it loads into and saves from
  uint32_t nDefault; // first-run value, also the start value
  uint32_t nMin;
  uint32_t nMax;
};

// In the order they are written.
static const Setting kSettings[] = {
    {"nPCMRate", SettingType::Dword, &nPCMRate, 22050, 5200, 96000},
    {"n3DLength", SettingType::Dword, &n3DLength, 0, 0, 1600},
    {"n3DENGIN", SettingType::Dword, &n3DENGIN, 0, 0, 2},
    // One of the four classes 0x40, 0x20, 0x80, 0x100; anything else loads as 0x20.
    {"dwProcessPriority", SettingType::Dword, &dwProcessPriority, kNormalPriorityClass,
     kNormalPriorityClass, kRealtimePriorityClass},
    {"bPowerSave1", SettingType::Flag, &bPowerSave1, 0, 0, 1},
    {"bDispEnable", SettingType::Flag, &bDispEnable, 1, 0, 1},
    {"bUseEff1", SettingType::Flag, &bUseEff1, 1, 0, 1},
    {"bUseEff3", SettingType::Flag, &bUseEff3, 1, 0, 1},
    {"bLPF", SettingType::Flag, &bLPF, 0, 0, 1},
};
static_assert(sizeof nPCMRate == 4 && sizeof dwProcessPriority == 4, "fields of 4 bytes");

// The values that are not one engine field each.
static const char kDevMid[] = "DevMid";              // REG_BINARY, 2 bytes
static const char kDevPid[] = "DevPid";              // REG_BINARY, 2 bytes
static const char kDevPname[] = "DevPname";          // REG_SZ, at most 31 bytes, never compared
static const char kPosX[] = "nPosX";                 // REG_DWORD, window left edge
static const char kPosY[] = "nPosY";                 // REG_DWORD, window top edge
static const char kSizeGeometry[] = "bSizeGeometry"; // REG_BINARY, 4 bytes: panel size mode

int32_t bSettingsCreated = 0;
PfnListDevices pfnListDevices = nullptr;

static uint32_t FieldValue(const Setting &setting) {
  uint32_t n;
  std::memcpy(&n, setting.pField, 4);
  return n;
}

static void WriteDword(RegKey *pKey, const char *pszName, uint32_t n) {
  RegSetValue(pKey, pszName, kRegDword, reinterpret_cast<const uint8_t *>(&n), 4);
}

static void WriteText(RegKey *pKey, const char *pszName, const char *psz, size_t nRoom) {
  uint32_t nLen = static_cast<uint32_t>(strnlen(psz, nRoom));
  RegSetValue(pKey, pszName, kRegSz, reinterpret_cast<const uint8_t *>(psz), nLen);
}

// Reads up to nRoom bytes into p whatever the stored type; a missing or longer
// value leaves p untouched. Returns 1 when read.
static int32_t ReadRaw(RegKey *pKey, const char *pszName, void *p, uint32_t nRoom) {
  uint32_t nType;
  uint32_t nSize = nRoom;
  return RegQueryValue(pKey, pszName, &nType, static_cast<uint8_t *>(p), &nSize);
}

static void WriteSettings(RegKey *pKey) {
  for (const Setting &setting : kSettings) {
    const uint32_t n = FieldValue(setting);
    WriteDword(pKey, setting.pszName, setting.nType == SettingType::Flag ? (n ? 1 : 0) : n);
  }
}

// Each field straight from its 4 stored bytes; a flag becomes 0 or 1.
static void ReadSettings(RegKey *pKey) {
  for (const Setting &setting : kSettings) {
    if (setting.nType == SettingType::Dword) {
      ReadRaw(pKey, setting.pszName, setting.pField, 4);
      continue;
    }
    uint32_t n = 0;
    if (ReadRaw(pKey, setting.pszName, &n, 4)) {
      const int32_t b = n ? 1 : 0;
      std::memcpy(setting.pField, &b, 4);
    }
  }
}

void SetDefaultSettings() {
  for (const Setting &setting : kSettings)
    std::memcpy(setting.pField, &setting.nDefault, 4);
}

static void SlotValueName(int32_t nSlot, char *pszName) {
  std::snprintf(pszName, 4, "P%d", nSlot);
}

static void WriteSlotPaths(RegKey *pKey) {
  for (int32_t s = 0; s < kUnitSlots; s++) {
    char szName[4];
    SlotValueName(s, szName);
    WriteText(pKey, szName, aUnitSlots[s].szPath, kPathRoom);
  }
}

static void WriteDevice(RegKey *pKey, int32_t nDevice) {
  WaveOutCaps caps = {};
  if (nDevice >= 0 && nDevice < kMaxDevices)
    caps = DevCapsTable[nDevice];
  RegSetValue(pKey, kDevMid, kRegBinary, reinterpret_cast<const uint8_t *>(&caps.wMid), 2);
  RegSetValue(pKey, kDevPid, kRegBinary, reinterpret_cast<const uint8_t *>(&caps.wPid), 2);
  WriteText(pKey, kDevPname, caps.szPname, kDeviceNameRoom);
}

void CreateSettingsKey() {
  RegKey *pKey = RegCreateKey(kProductKey);
  RegSetValue(pKey, "", kRegSz, reinterpret_cast<const uint8_t *>(kProductMarker),
              sizeof kProductMarker - 1);
  RegCloseKey(pKey);
  pKey = RegCreateKey(kSettingsKey);
  RegSetValue(pKey, "", kRegSz, kStaticsMarker, sizeof kStaticsMarker);
  RegCloseKey(pKey);
  // Closing a key writes the file, so there is nothing left to flush.
}

void LoadSettings() {
  RegKey *pKey = RegOpenKey(kSettingsKey);
  bSettingsCreated = 0;
  if (!pKey) {
    // First run: store the start values, and the first device's identity,
    // which needs the device list.
    CreateSettingsKey();
    pKey = RegOpenKey(kSettingsKey);
    bSettingsCreated = pKey != nullptr;
    WriteSettings(pKey);
    WriteSlotPaths(pKey);
    nSelDevice = 0;
    if (nDevCount == 0 && pfnListDevices)
      pfnListDevices();
    WriteDevice(pKey, 0);
    WriteDword(pKey, kPosX, 0);
    WriteDword(pKey, kPosY, 0);
    int32_t nGeometry = 1;
    RegSetValue(pKey, kSizeGeometry, kRegBinary, reinterpret_cast<const uint8_t *>(&nGeometry), 4);
  }

  ReadSettings(pKey);
  Apply3DEngineSetting();

  if (pKey) {
    // The stored texts carry no NUL; the zero-filled buffer ends them. Reading
    // at most 259 bytes keeps that NUL even for an over-long value.
    for (int32_t s = 0; s < kUnitSlots; s++) {
      char szName[4];
      SlotValueName(s, szName);
      std::memset(aUnitSlots[s].szPath, 0, sizeof aUnitSlots[s].szPath);
      ReadRaw(pKey, szName, aUnitSlots[s].szPath, kPathRoom);
    }
  }

  uint16_t wDevMid = 0, wDevPid = 0;
  char szDevPname[kDeviceNameBytes] = {}; // read for completeness; never compared
  int32_t bHaveDevice = ReadRaw(pKey, kDevMid, &wDevMid, 2) & ReadRaw(pKey, kDevPid, &wDevPid, 2);
  ReadRaw(pKey, kDevPname, szDevPname, kDeviceNameRoom);
  RegCloseKey(pKey);

  // The device is known by its ids, not its place in the list; the last
  // match wins.
  nSelDevice = -1;
  for (int32_t i = 0; bHaveDevice && i < nDevCount && i < kMaxDevices; i++)
    if (DevCapsTable[i].wMid == wDevMid && DevCapsTable[i].wPid == wDevPid)
      nSelDevice = i;
  if (nSelDevice == -1)
    nSelDevice = 0;

  if (dwProcessPriority != kIdlePriorityClass && dwProcessPriority != kNormalPriorityClass &&
      dwProcessPriority != kHighPriorityClass && dwProcessPriority != kRealtimePriorityClass)
    dwProcessPriority = kNormalPriorityClass;
  SetPriorityClass(dwProcessPriority);
}

void SaveSettings() {
  RegKey *pKey = RegOpenKey(kSettingsKey);
  WriteSettings(pKey);
  Apply3DEngineSetting();
  WriteSlotPaths(pKey);
  WriteDevice(pKey, nSelDevice);
  RegCloseKey(pKey);
}

void ReadWindowPlacement(WindowPoint *pPoint) {
  RegKey *pKey = RegOpenKey(kSettingsKey);
  ReadRaw(pKey, kPosX, &pPoint->x, 4);
  ReadRaw(pKey, kPosY, &pPoint->y, 4);
  ReadRaw(pKey, kSizeGeometry, &bSizeGeometry, 4);
  RegCloseKey(pKey);
}

void WriteWindowPlacement(const WindowPoint *pPoint) {
  RegKey *pKey = RegOpenKey(kSettingsKey);
  WriteDword(pKey, kPosX, static_cast<uint32_t>(pPoint->x));
  WriteDword(pKey, kPosY, static_cast<uint32_t>(pPoint->y));
  RegSetValue(pKey, kSizeGeometry, kRegBinary, reinterpret_cast<const uint8_t *>(&bSizeGeometry),
              4);
  RegCloseKey(pKey);
}
