// The settings store against a private registry file: what the first run
// writes, what a load makes of stored values, and what a save writes back.
#include "player/app/settings_store.h"

#include "platform/audio_devices.h"
#include "platform/registry.h"
#include "player/render/effects.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string &s) {
  return Bytes(s.begin(), s.end());
}

Bytes Dword(uint32_t n) {
  return {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
}

// The marker text converted by the C library, independently of the store.
Bytes ShiftJis(const char *pszUtf8) {
  iconv_t cd = iconv_open("SHIFT_JIS", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1)));
  char szOut[64];
  char *pIn = const_cast<char *>(pszUtf8), *pOut = szOut;
  size_t nIn = std::strlen(pszUtf8), nOut = sizeof szOut;
  EXPECT_NE(iconv(cd, &pIn, &nIn, &pOut, &nOut), static_cast<size_t>(-1));
  iconv_close(cd);
  return Bytes(szOut, pOut);
}

struct Value {
  bool bFound = false;
  uint32_t nType = 0;
  Bytes data;
};

Value Get(const char *pszKey, const char *pszName) {
  Value v;
  RegKey *pKey = RegOpenKey(pszKey);
  if (!pKey)
    return v;
  uint32_t nSize = 0;
  if (RegQueryValue(pKey, pszName, &v.nType, nullptr, &nSize)) {
    v.data.resize(nSize);
    v.bFound = RegQueryValue(pKey, pszName, &v.nType, v.data.data(), &nSize) == 1;
  }
  RegCloseKey(pKey);
  return v;
}

Value Get(const char *pszName) {
  return Get(kSettingsKey, pszName);
}

void Put(const char *pszName, uint32_t nType, const Bytes &data) {
  RegKey *pKey = RegCreateKey(kSettingsKey);
  ASSERT_NE(pKey, nullptr);
  RegSetValue(pKey, pszName, nType, data.data(), static_cast<uint32_t>(data.size()));
  ASSERT_EQ(RegCloseKey(pKey), 1);
}

// The start values the program sets before it loads the settings.
void ResetFields() {
  nPCMRate = 22050;
  n3DLength = 0;
  n3DENGIN = 0;
  dwProcessPriority = 0x20;
  bPowerSave1 = 0;
  bDispEnable = 1;
  bUseEff1 = 1;
  bUseEff3 = 1;
  bLPF = 0;
  bSizeGeometry = 1;
  nSelDevice = 0;
  pfn3DEngine = nullptr;
  std::memset(aUnitSlots, 0, sizeof aUnitSlots);
}

class SettingsStore : public ::testing::Test {
protected:
  testsupport::TempDir tmp_{"torqa-settings"};
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty());
    dir = tmp_.path();
    file = dir / "registry.reg";
    setenv("TORQA_REGISTRY", file.c_str(), 1);
    ResetFields();
    const char *apszDevices[] = {"Built-in Audio Analog Stereo", "USB Headset"};
    SetDeviceList(apszDevices, 2);
  }
  void TearDown() override {
    unsetenv("TORQA_REGISTRY");
    SetDeviceList(nullptr, 0);
  }
  std::string FileText() {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  fs::path dir;
  fs::path file;
};

TEST_F(SettingsStore, FirstRunCreatesBothKeysWithMarkersAndDefaults) {
  LoadSettings();

  Value product = Get(kProductKey, "");
  EXPECT_EQ(product.nType, uint32_t(kRegSz));
  EXPECT_EQ(product.data, ToBytes("Powered by Velmar"));
  EXPECT_EQ(product.data.size(), 17u);
  Value statics = Get("");
  EXPECT_EQ(statics.nType, uint32_t(kRegSz));
  EXPECT_EQ(statics.data, ShiftJis("静的保存"));
  EXPECT_EQ(statics.data.size(), 8u);

  struct {
    const char *pszName;
    uint32_t n;
  } const aDwords[] = {
      {"nPCMRate", 22050}, {"n3DLength", 0},   {"n3DENGIN", 0}, {"dwProcessPriority", 0x20},
      {"bPowerSave1", 0},  {"bDispEnable", 1}, {"bUseEff1", 1}, {"bUseEff3", 1},
      {"bLPF", 0},         {"nPosX", 0},       {"nPosY", 0}};
  for (const auto &d : aDwords) {
    Value v = Get(d.pszName);
    EXPECT_TRUE(v.bFound) << d.pszName;
    EXPECT_EQ(v.nType, uint32_t(kRegDword)) << d.pszName;
    EXPECT_EQ(v.data, Dword(d.n)) << d.pszName;
  }
  for (int s = 0; s < 8; s++) {
    char name[4];
    std::snprintf(name, sizeof name, "P%d", s);
    Value v = Get(name);
    EXPECT_TRUE(v.bFound) << name;
    EXPECT_EQ(v.nType, uint32_t(kRegSz));
    EXPECT_TRUE(v.data.empty());
  }
  Value mid = Get("DevMid"), pid = Get("DevPid"), pname = Get("DevPname");
  EXPECT_EQ(mid.nType, uint32_t(kRegBinary));
  EXPECT_EQ(mid.data, (Bytes{uint8_t(DevCapsTable[0].wMid), uint8_t(DevCapsTable[0].wMid >> 8)}));
  EXPECT_EQ(pid.data, (Bytes{uint8_t(DevCapsTable[0].wPid), uint8_t(DevCapsTable[0].wPid >> 8)}));
  EXPECT_EQ(pname.nType, uint32_t(kRegSz));
  EXPECT_EQ(pname.data, ToBytes("Built-in Audio Analog Stereo"));
  Value geometry = Get("bSizeGeometry");
  EXPECT_EQ(geometry.nType, uint32_t(kRegBinary));
  EXPECT_EQ(geometry.data, Dword(1));

  // In the file: the size mode as 4 binary bytes, the empty slot paths as "".
  std::string text = FileText();
  EXPECT_NE(text.find("\n\"bSizeGeometry\"=hex:01,00,00,00\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n\"P7\"=\"\"\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"nPCMRate\"=dword:00005622\n"), std::string::npos);

  EXPECT_EQ(nPCMRate, 22050);
  EXPECT_EQ(nSelDevice, 0);
  EXPECT_EQ(pfn3DEngine, &Engine3DLight);
  EXPECT_EQ(bDispEnable, 1);
}

TEST_F(SettingsStore, FirstRunWithoutDevicesStoresEmptyIdentity) {
  SetDeviceList(nullptr, 0);
  LoadSettings();
  EXPECT_EQ(Get("DevMid").data, (Bytes{0, 0}));
  EXPECT_EQ(Get("DevPid").data, (Bytes{0, 0}));
  Value pname = Get("DevPname");
  EXPECT_TRUE(pname.bFound);
  EXPECT_TRUE(pname.data.empty());
  EXPECT_EQ(nSelDevice, 0);
}

// A program that has not listed the devices (a render) still stores the
// first device's identity on a first run, and only then lists them.
TEST_F(SettingsStore, FirstRunListsTheDevicesBeforeStoringTheFirst) {
  SetDeviceList(nullptr, 0);
  pfnListDevices = [] {
    const char *apszDevices[] = {"USB Headset"};
    SetDeviceList(apszDevices, 1);
  };
  LoadSettings();
  EXPECT_EQ(bSettingsCreated, 1);
  EXPECT_EQ(Get("DevPname").data, ToBytes("USB Headset"));
  SetDeviceList(nullptr, 0);
  LoadSettings();
  pfnListDevices = nullptr;
  EXPECT_EQ(bSettingsCreated, 0);
  EXPECT_EQ(nDevCount, 0) << "an existing key lists nothing";
}

TEST_F(SettingsStore, SavedSettingsComeBack) {
  LoadSettings();
  nPCMRate = 12345; // a user rate: not validated
  n3DLength = 1600;
  n3DENGIN = 2;
  bPowerSave1 = 1;
  bDispEnable = 0;
  bUseEff1 = 0;
  bUseEff3 = 0;
  bLPF = 1;
  nSelDevice = 1;
  const std::string sLongPath = "/" + std::string(kPathBytes - 2, 'p'); // the longest path
  std::strcpy(aUnitSlots[0].szPath, "/opt/torqa/PLUGIN/vokraunit.so");
  std::strcpy(aUnitSlots[7].szPath, sLongPath.c_str());
  SaveSettings();
  EXPECT_EQ(pfn3DEngine, &Engine3DHeavy);

  ResetFields();
  LoadSettings();
  EXPECT_EQ(nPCMRate, 12345);
  EXPECT_EQ(n3DLength, 1600);
  EXPECT_EQ(n3DENGIN, 2);
  EXPECT_EQ(pfn3DEngine, &Engine3DHeavy);
  EXPECT_EQ(bPowerSave1, 1);
  EXPECT_EQ(bDispEnable, 0);
  EXPECT_EQ(bUseEff1, 0);
  EXPECT_EQ(bUseEff3, 0);
  EXPECT_EQ(bLPF, 1);
  EXPECT_EQ(nSelDevice, 1);
  EXPECT_STREQ(aUnitSlots[0].szPath, "/opt/torqa/PLUGIN/vokraunit.so");
  EXPECT_STREQ(aUnitSlots[1].szPath, "");
  EXPECT_STREQ(aUnitSlots[7].szPath, sLongPath.c_str());
  EXPECT_EQ(Get("P0").data.size(), std::strlen("/opt/torqa/PLUGIN/vokraunit.so"));
  EXPECT_EQ(Get("P7").data.size(), static_cast<size_t>(kPathBytes - 1));
  EXPECT_EQ(Get("DevPname").data, ToBytes("USB Headset"));
}

TEST_F(SettingsStore, WindowPlacementIsSeparateFromTheOtherSettings) {
  LoadSettings();
  bSizeGeometry = 9;
  WindowPoint point = {-120, 340};
  WriteWindowPlacement(&point);
  Value geometry = Get("bSizeGeometry");
  EXPECT_EQ(geometry.nType, uint32_t(kRegBinary));
  EXPECT_EQ(geometry.data, Dword(9));
  EXPECT_EQ(Get("nPosX").data, Dword(uint32_t(-120)));

  // SaveSettings leaves the placement alone.
  bSizeGeometry = 2;
  SaveSettings();
  EXPECT_EQ(Get("bSizeGeometry").data, Dword(9));

  WindowPoint back = {0, 0};
  bSizeGeometry = 1;
  ReadWindowPlacement(&back);
  EXPECT_EQ(back.x, -120);
  EXPECT_EQ(back.y, 340);
  EXPECT_EQ(bSizeGeometry, 9);
}

TEST_F(SettingsStore, PriorityOutsideTheFourClassesBecomesNormal) {
  LoadSettings();
  for (uint32_t dwStored : {0x1234u, 0u, 0x4000u}) {
    Put("dwProcessPriority", kRegDword, Dword(dwStored));
    ResetFields();
    dwProcessPriority = 0x80;
    LoadSettings();
    EXPECT_EQ(dwProcessPriority, 0x20u) << dwStored;
    SaveSettings();
    EXPECT_EQ(Get("dwProcessPriority").data, Dword(0x20)) << dwStored;
  }
}

TEST_F(SettingsStore, TheLastDeviceWithTheStoredIdsWins) {
  const char *apszDevices[] = {"Speakers", "Twin", "Headphones", "Twin", "HDMI"};
  SetDeviceList(apszDevices, 5);
  LoadSettings();
  EXPECT_EQ(nSelDevice, 0);

  nSelDevice = 1;
  SaveSettings();
  ResetFields();
  LoadSettings();
  EXPECT_EQ(nSelDevice, 3) << "devices 1 and 3 share their ids";

  // The ids decide, not the name.
  Put("DevPname", kRegSz, ToBytes("Something else"));
  nSelDevice = 0;
  LoadSettings();
  EXPECT_EQ(nSelDevice, 3);

  // A device that is gone: the first device.
  Put("DevMid", kRegBinary, {0x12, 0x34});
  LoadSettings();
  EXPECT_EQ(nSelDevice, 0);
}

TEST_F(SettingsStore, EngineTypeOutOfRangeSelectsLightAndIsKept) {
  LoadSettings();
  Put("n3DENGIN", kRegDword, Dword(5));
  LoadSettings();
  EXPECT_EQ(n3DENGIN, 5);
  EXPECT_EQ(pfn3DEngine, &Engine3DLight);
  n3DENGIN = 1;
  SaveSettings();
  EXPECT_EQ(pfn3DEngine, &Engine3DMedium);
}

TEST_F(SettingsStore, FlagsAreStoredAndLoadedAsZeroOrOne) {
  LoadSettings();
  bPowerSave1 = 7;
  bLPF = -1;
  bUseEff1 = 0;
  SaveSettings();
  EXPECT_EQ(Get("bPowerSave1").data, Dword(1));
  EXPECT_EQ(Get("bLPF").data, Dword(1));
  EXPECT_EQ(Get("bUseEff1").data, Dword(0));

  Put("bUseEff3", kRegDword, Dword(7));
  Put("bDispEnable", kRegDword, Dword(0x80000000u));
  ResetFields();
  LoadSettings();
  EXPECT_EQ(bUseEff3, 1);
  EXPECT_EQ(bDispEnable, 1);
  EXPECT_EQ(bPowerSave1, 1);
}

TEST_F(SettingsStore, MissingValuesKeepTheirDefaults) {
  // A key that holds only its marker and one value.
  {
    RegKey *pKey = RegCreateKey(kSettingsKey);
    ASSERT_NE(pKey, nullptr);
    RegSetValue(pKey, "nPCMRate", kRegDword, Dword(44100).data(), 4);
    ASSERT_EQ(RegCloseKey(pKey), 1);
  }
  nPCMRate = 22050;
  n3DLength = 800;
  bUseEff1 = 1;
  bLPF = 0;
  LoadSettings();
  EXPECT_EQ(nPCMRate, 44100);
  EXPECT_EQ(n3DLength, 800);
  EXPECT_EQ(bUseEff1, 1);
  EXPECT_EQ(bLPF, 0);
  EXPECT_EQ(nSelDevice, 0);
  EXPECT_EQ(dwProcessPriority, 0x20u);
  EXPECT_FALSE(Get(kProductKey, "").bFound) << "an existing key is not re-marked";
  WindowPoint point = {5, 6};
  bSizeGeometry = 3;
  ReadWindowPlacement(&point);
  EXPECT_EQ(point.x, 5);
  EXPECT_EQ(bSizeGeometry, 3);
}

TEST_F(SettingsStore, OverlongOrWronglySizedValuesAreSafe) {
  LoadSettings();
  // A path of kPathBytes would leave the slot's text without its end.
  Put("P2", kRegSz, Bytes(kPathBytes, 'q'));
  // A value longer than its field is not read; a shorter one fills the low bytes.
  Put("nPCMRate", kRegBinary, Bytes(8, 0xFF));
  Put("n3DLength", kRegBinary, {0x10, 0x02});
  ResetFields();
  n3DLength = 0;
  LoadSettings();
  EXPECT_EQ(aUnitSlots[2].szPath[0], 0);
  EXPECT_EQ(aUnitSlots[2].szPath[kPathBytes - 1], 0);
  EXPECT_EQ(nPCMRate, 22050);
  EXPECT_EQ(n3DLength, 0x210);
}

TEST_F(SettingsStore, NoWritableRegistryRunsOnDefaults) {
  setenv("TORQA_REGISTRY", "/dev/null/registry.reg", 1);
  nPCMRate = 22050;
  LoadSettings();
  EXPECT_EQ(nPCMRate, 22050);
  EXPECT_EQ(nSelDevice, 0);
  EXPECT_EQ(dwProcessPriority, 0x20u);
  EXPECT_EQ(pfn3DEngine, &Engine3DLight);
  SaveSettings();
  WindowPoint point = {1, 2};
  WriteWindowPlacement(&point);
  ReadWindowPlacement(&point);
  EXPECT_EQ(point.x, 1);
}

} // namespace
