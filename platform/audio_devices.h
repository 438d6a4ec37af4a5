// The output device list (the waveOutGetNumDevs / waveOutGetDevCapsA
// stand-in). The table is plain data the engine and the settings store read
// without the audio library; FillDeviceList (torqa_platform_sdl) refills it.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int32_t kMaxDevices = 20;     // room in DevCapsTable; later devices are not listed
constexpr size_t kDeviceNameBytes = 32; // szPname, NUL included

// One output device, laid out as WAVEOUTCAPSA (52 bytes).
struct WaveOutCaps {
  uint16_t wMid;                  // low half of the FNV-1a hash of the full device name
  uint16_t wPid;                  // high half of that hash
  uint32_t vDriverVersion;        // audio library version, major << 8 | minor
  char szPname[kDeviceNameBytes]; // device name cut to 31 bytes
  uint32_t dwFormats;             // WAVE_FORMAT_* bits the device can take (all PCM formats)
  uint16_t wChannels;             // output channels, 1 or 2
  uint16_t wReserved1;
  uint32_t dwSupport; // WAVECAPS_* bits; 0
};
static_assert(sizeof(WaveOutCaps) == 52, "WAVEOUTCAPSA layout");

extern WaveOutCaps
    DevCapsTable[kMaxDevices]; // devices in the audio library's order; FillDeviceList
extern int32_t nDevCount;      // entries in use, 0..20; FillDeviceList

// Fills one record for a device name: the name cut to 31 bytes and the hashed ids.
void MakeDeviceCaps(const char *pszName, uint16_t wChannels, WaveOutCaps *pCaps);
// The full name of device nIndex as the audio library reported it ("" when out
// of range); the wave output opens the device by this name.
const char *DeviceFullName(int32_t nIndex);
// Test twin of FillDeviceList: lists the given names (at most 20) as stereo devices.
void SetDeviceList(const char *const *apszNames, int32_t nCount);

// For the fillers: empty the list, then append devices in order (beyond 20 ignored).
void ClearDeviceList();
void AddDevice(const char *pszName, uint16_t wChannels, uint32_t vDriverVersion);

// Lists the audio library's output devices into DevCapsTable (torqa_platform_sdl).
// With no audio device, or no audio library, the list is empty.
void FillDeviceList();
