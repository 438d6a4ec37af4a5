#include "platform/audio_devices.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

TEST(DeviceList, RecordIsNameCutAndHashedIds) {
  WaveOutCaps caps;
  // FNV-1a 32 of "a" is 0xe40c292c (the published test vector).
  MakeDeviceCaps("a", 2, &caps);
  EXPECT_EQ(caps.wMid, 0x292c);
  EXPECT_EQ(caps.wPid, 0xe40c);
  EXPECT_STREQ(caps.szPname, "a");
  EXPECT_EQ(caps.wChannels, 2);
  // The empty name hashes to the offset basis 0x811c9dc5.
  MakeDeviceCaps("", 2, &caps);
  EXPECT_EQ(caps.wMid, 0x9dc5);
  EXPECT_EQ(caps.wPid, 0x811c);

  // Long names are cut to 31 bytes, but the ids still tell them apart.
  const std::string sLong(40, 'x');
  WaveOutCaps other;
  MakeDeviceCaps((sLong + "1").c_str(), 2, &caps);
  MakeDeviceCaps((sLong + "2").c_str(), 2, &other);
  EXPECT_EQ(std::strlen(caps.szPname), 31u);
  EXPECT_STREQ(caps.szPname, other.szPname);
  EXPECT_TRUE(caps.wMid != other.wMid || caps.wPid != other.wPid);
}

TEST(DeviceList, TestTwinKeepsOrderAndStopsAtTwenty) {
  std::string asNames[25];
  const char *apsz[25];
  for (int i = 0; i < 25; i++) {
    asNames[i] = "Device " + std::to_string(i);
    apsz[i] = asNames[i].c_str();
  }
  SetDeviceList(apsz, 25);
  ASSERT_EQ(nDevCount, kMaxDevices);
  EXPECT_STREQ(DevCapsTable[0].szPname, "Device 0");
  EXPECT_STREQ(DevCapsTable[19].szPname, "Device 19");
  EXPECT_STREQ(DeviceFullName(19), "Device 19");
  EXPECT_STREQ(DeviceFullName(20), "");
  EXPECT_STREQ(DeviceFullName(-1), "");
  SetDeviceList(apsz, 0);
  EXPECT_EQ(nDevCount, 0);
  EXPECT_EQ(DevCapsTable[0].szPname[0], 0);
}

TEST(DeviceList, FilledFromTheAudioLibrary) {
  // The disk driver has exactly one output device and needs no hardware.
  setenv("SDL_AUDIODRIVER", "disk", 1);
  FillDeviceList();
  ASSERT_EQ(nDevCount, 1);
  EXPECT_NE(DevCapsTable[0].szPname[0], 0);
  WaveOutCaps expect;
  MakeDeviceCaps(DeviceFullName(0), DevCapsTable[0].wChannels, &expect);
  EXPECT_EQ(DevCapsTable[0].wMid, expect.wMid);
  EXPECT_EQ(DevCapsTable[0].wPid, expect.wPid);
  EXPECT_NE(DevCapsTable[0].vDriverVersion, 0u);
}
