#include "platform/audio_devices.h"

#include <cstring>

WaveOutCaps DevCapsTable[kMaxDevices];
int32_t nDevCount = 0;

static char aszFullName[kMaxDevices][512]; // full names, for opening the device

static uint32_t Fnv1a32(const char *psz) {
  uint32_t h = 2166136261u; // FNV-1a offset basis
  for (; *psz; psz++)
    h = (h ^ static_cast<uint8_t>(*psz)) * 16777619u; // FNV prime
  return h;
}

void MakeDeviceCaps(const char *pszName, uint16_t wChannels, WaveOutCaps *pCaps) {
  std::memset(pCaps, 0, sizeof *pCaps);
  if (!pszName)
    pszName = "";
  uint32_t h = Fnv1a32(pszName);
  pCaps->wMid = static_cast<uint16_t>(h & 0xFFFF);
  pCaps->wPid = static_cast<uint16_t>(h >> 16);
  std::strncpy(pCaps->szPname, pszName, kDeviceNameBytes - 1);
  pCaps->dwFormats = 0xFFFFF; // WAVE_FORMAT_1M08 .. WAVE_FORMAT_96S16: converted as needed
  pCaps->wChannels = wChannels;
}

const char *DeviceFullName(int32_t nIndex) {
  if (nIndex < 0 || nIndex >= nDevCount)
    return "";
  return aszFullName[nIndex];
}

void AddDevice(const char *pszName, uint16_t wChannels, uint32_t vDriverVersion) {
  if (nDevCount >= kMaxDevices)
    return;
  MakeDeviceCaps(pszName, wChannels, &DevCapsTable[nDevCount]);
  DevCapsTable[nDevCount].vDriverVersion = vDriverVersion;
  std::strncpy(aszFullName[nDevCount], pszName ? pszName : "", sizeof aszFullName[0] - 1);
  aszFullName[nDevCount][sizeof aszFullName[0] - 1] = 0;
  nDevCount++;
}

void ClearDeviceList() {
  std::memset(DevCapsTable, 0, sizeof DevCapsTable);
  std::memset(aszFullName, 0, sizeof aszFullName);
  nDevCount = 0;
}

void SetDeviceList(const char *const *apszNames, int32_t nCount) {
  ClearDeviceList();
  for (int32_t i = 0; i < nCount; i++)
    AddDevice(apszNames[i], 2, 0);
}
