#include "player/ui/settings_store.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "platform/audio_devices.h"
#include "platform/priority.h"
#include "platform/registry.h"
#include "player/render/effects.h"
#include "player/render/engine_state.h"
#include "player/units/unit_host.h"

// Values are read as raw bytes straight into the fields, as the registry stores them.
static_assert(std::endian::native == std::endian::little, "registry values are little-endian");

static const char kProductMarker[] = "Powered by Velmar"; // stored without its NUL: 17 bytes
// "静的保存" in Shift-JIS, the code page the marker is stored in: 8 bytes, no NUL.
static const uint8_t kStaticsMarker[8] = {0x90, 0xC3, 0x93, 0x49, 0x95, 0xDB, 0x91, 0xB6};

static const size_t kPathRoom = sizeof(UnitSlot::szPath) - 1; // P0..P7: at most 259 bytes
static const size_t kDeviceNameRoom = kDeviceNameBytes - 1;   // DevPname: at most 31 bytes

static void WriteDword(RegKey *pKey, const char *pszName, uint32_t n) {
  RegSetValue(pKey, pszName, kRegDword, reinterpret_cast<const uint8_t *>(&n), 4);
}

static void WriteFlag(RegKey *pKey, const char *pszName, int32_t b) {
  WriteDword(pKey, pszName, b ? 1 : 0);
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

static void ReadFlag(RegKey *pKey, const char *pszName, int32_t *pb) {
  uint32_t n = 0;
  if (ReadRaw(pKey, pszName, &n, 4))
    *pb = n ? 1 : 0;
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
  RegSetValue(pKey, "DevMid", kRegBinary, reinterpret_cast<const uint8_t *>(&caps.wMid), 2);
  RegSetValue(pKey, "DevPid", kRegBinary, reinterpret_cast<const uint8_t *>(&caps.wPid), 2);
  WriteText(pKey, "DevPname", caps.szPname, kDeviceNameRoom);
}

static void WriteEngineSettings(RegKey *pKey) {
  WriteDword(pKey, "nPCMRate", static_cast<uint32_t>(nPCMRate));
  WriteDword(pKey, "n3DLength", static_cast<uint32_t>(n3DLength));
  WriteDword(pKey, "n3DENGIN", static_cast<uint32_t>(n3DENGIN));
  WriteDword(pKey, "dwProcessPriority", dwProcessPriority);
}

static void WriteFlags(RegKey *pKey) {
  WriteFlag(pKey, "bPowerSave1", bPowerSave1);
  WriteFlag(pKey, "bDispEnable", bDispEnable);
  WriteFlag(pKey, "bUseEff1", bUseEff1);
  WriteFlag(pKey, "bUseEff3", bUseEff3);
  WriteFlag(pKey, "bLPF", bLPF);
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
  if (!pKey) {
    // First run: store the start values.
    CreateSettingsKey();
    pKey = RegOpenKey(kSettingsKey);
    WriteEngineSettings(pKey);
    WriteFlags(pKey);
    WriteSlotPaths(pKey);
    nSelDevice = 0;
    WriteDevice(pKey, 0);
    WriteDword(pKey, "nPosX", 0);
    WriteDword(pKey, "nPosY", 0);
    int32_t nGeometry = 1;
    RegSetValue(pKey, "bSizeGeometry", kRegBinary, reinterpret_cast<const uint8_t *>(&nGeometry),
                4);
  }

  ReadRaw(pKey, "nPCMRate", &nPCMRate, 4);
  ReadRaw(pKey, "n3DLength", &n3DLength, 4);
  ReadRaw(pKey, "dwProcessPriority", &dwProcessPriority, 4);
  ReadRaw(pKey, "n3DENGIN", &n3DENGIN, 4);
  Apply3DEngineSetting();

  ReadFlag(pKey, "bPowerSave1", &bPowerSave1);
  ReadFlag(pKey, "bDispEnable", &bDispEnable);
  ReadFlag(pKey, "bUseEff1", &bUseEff1);
  ReadFlag(pKey, "bUseEff3", &bUseEff3);
  ReadFlag(pKey, "bLPF", &bLPF);

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
  int32_t bHaveDevice = ReadRaw(pKey, "DevMid", &wDevMid, 2) & ReadRaw(pKey, "DevPid", &wDevPid, 2);
  ReadRaw(pKey, "DevPname", szDevPname, kDeviceNameRoom);
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
  WriteEngineSettings(pKey);
  Apply3DEngineSetting();
  WriteFlags(pKey);
  WriteSlotPaths(pKey);
  WriteDevice(pKey, nSelDevice);
  RegCloseKey(pKey);
}

void ReadWindowPlacement(WindowPoint *pPoint) {
  RegKey *pKey = RegOpenKey(kSettingsKey);
  ReadRaw(pKey, "nPosX", &pPoint->x, 4);
  ReadRaw(pKey, "nPosY", &pPoint->y, 4);
  ReadRaw(pKey, "bSizeGeometry", &bSizeGeometry, 4);
  RegCloseKey(pKey);
}

void WriteWindowPlacement(const WindowPoint *pPoint) {
  RegKey *pKey = RegOpenKey(kSettingsKey);
  WriteDword(pKey, "nPosX", static_cast<uint32_t>(pPoint->x));
  WriteDword(pKey, "nPosY", static_cast<uint32_t>(pPoint->y));
  RegSetValue(pKey, "bSizeGeometry", kRegBinary, reinterpret_cast<const uint8_t *>(&bSizeGeometry),
              4);
  RegCloseKey(pKey);
}
