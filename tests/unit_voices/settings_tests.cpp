// The unit's registry settings, on a registry file of the test's own.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/registry.h"
#include "support/temp_dir.h"
#include "unit/channels.h"
#include "unit/soundset.h"
#include "unit/unit_dialogs.h"
#include "unit/unit_entry.h"
#include "unit/unit_settings.h"
#include "unit/unit_state.h"
#include "unit/voices.h"

namespace vokra_test {
namespace {

namespace fs = std::filesystem;

constexpr char kStaticsKey[] = "Software\\QUIRN-PLUGIN\\VOKRAUNIT\\Statics";

class SettingsTest : public ::testing::Test {
protected:
  testsupport::TempDir tmp_{"vokra_settings"};
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty());
    m_dir = tmp_.path();
    setenv("TORQA_REGISTRY", (m_dir / "registry.reg").c_str(), 1);
    for (vokra::UnitChannel &r : vokra::aUnitChannel)
      r.bReceive = 1;
  }
  void TearDown() override {
    for (vokra::UnitChannel &r : vokra::aUnitChannel)
      r.bReceive = 1;
    vokra::nFinalGain = 127;
    vokra::bOverSample = 0;
    std::strcpy(vokra::szCfgName, "VOKRA.cfg");
  }

  static uint32_t ReadDword(const char *pszName) {
    RegKey *pKey = RegOpenKey(kStaticsKey);
    EXPECT_NE(pKey, nullptr);
    if (pKey == nullptr)
      return 0;
    uint8_t a[4] = {};
    uint32_t nType = 0, nSize = 4;
    EXPECT_TRUE(RegQueryValue(pKey, pszName, &nType, a, &nSize));
    RegCloseKey(pKey);
    return uint32_t(a[0]) | uint32_t(a[1]) << 8 | uint32_t(a[2]) << 16 | uint32_t(a[3]) << 24;
  }
  static void WriteValue(const char *pszName, uint32_t nType, const void *p, uint32_t nSize) {
    RegKey *pKey = RegOpenKey(kStaticsKey);
    ASSERT_NE(pKey, nullptr);
    RegSetValue(pKey, pszName, nType, static_cast<const uint8_t *>(p), nSize);
    RegCloseKey(pKey);
  }

  fs::path m_dir;
};

TEST_F(SettingsTest, FirstStartCreatesDefaultsAndUncheckingChannel10ClearsBit9) {
  vokra::nFinalGain = 5;
  vokra::bOverSample = 1;
  std::strcpy(vokra::szCfgName, "old.cfg");
  vokra::aUnitChannel[3].bReceive = 0;
  vokra::LoadUnitSettings();
  EXPECT_EQ(vokra::nFinalGain, 127);
  EXPECT_EQ(vokra::bOverSample, 0);
  EXPECT_STREQ(vokra::szCfgName, "VOKRA.cfg");
  for (const vokra::UnitChannel &r : vokra::aUnitChannel)
    EXPECT_EQ(r.bReceive, 1);

  vokra::aUnitChannel[9].bReceive = 0;
  vokra::nFinalGain = 0;
  vokra::SaveUnitSettings();
  EXPECT_EQ(ReadDword("nUseCh"), 0xFFFFu & ~(1u << 9));
  EXPECT_EQ(ReadDword("nFinalGain"), 0u);
  vokra::aUnitChannel[9].bReceive = 1;
  vokra::nFinalGain = 127;
  vokra::LoadUnitSettings();
  EXPECT_EQ(vokra::aUnitChannel[9].bReceive, 0);
  EXPECT_EQ(vokra::nFinalGain, 0);
}

TEST_F(SettingsTest, MissingValuesKeepMemoryExceptTheMaskWhichOpensAllChannels) {
  RegKey *pKey = RegCreateKey(kStaticsKey); // the key exists, empty
  ASSERT_NE(pKey, nullptr);
  RegCloseKey(pKey);
  vokra::nFinalGain = 33;
  vokra::aUnitChannel[0].bReceive = 0;
  std::strcpy(vokra::szCfgName, "mine.cfg");
  vokra::LoadUnitSettings();
  EXPECT_EQ(vokra::nFinalGain, 33);
  EXPECT_EQ(vokra::aUnitChannel[0].bReceive, 1);
  EXPECT_STREQ(vokra::szCfgName, "mine.cfg");

  // A name without room for its NUL keeps the old one; a fitting one is cut at its size.
  const std::string sLong(vokra::kCfgNameBytes, 'a');
  WriteValue("CFG", kRegSz, sLong.data(), static_cast<uint32_t>(sLong.size()));
  vokra::LoadUnitSettings();
  EXPECT_STREQ(vokra::szCfgName, "mine.cfg");
  WriteValue("CFG", kRegSz, "GM.CFG", 6);
  vokra::LoadUnitSettings();
  EXPECT_STREQ(vokra::szCfgName, "GM.CFG");
}

TEST_F(SettingsTest, FourByteValuesAreReadWhateverTheirTypeTag) {
  vokra::LoadUnitSettings(); // creates the key
  const uint8_t abGain[4] = {77, 0, 0, 0};
  WriteValue("nFinalGain", kRegBinary, abGain, 4);
  WriteValue("bOverSample", kRegBinary, abGain, 2); // not 4 bytes: kept as it was
  vokra::bOverSample = 0;
  vokra::LoadUnitSettings();
  EXPECT_EQ(vokra::nFinalGain, 77);
  EXPECT_EQ(vokra::bOverSample, 0);
}

// Dialogs that answer as a user would, and count what they were asked.
class ScriptedDialogs : public vokra::UnitDialogs {
public:
  int32_t RunMidi(void *) override {
    vokra::aUnitChannel[9].bReceive = 0;
    vokra::SetFinalGain(50);
    return bConfirm;
  }
  int32_t RunSetup(void *) override {
    std::strcpy(vokra::szCfgName, "other.cfg");
    return bConfirm;
  }
  void *OpenEntry(void *) override {
    nEntries++;
    return &nEntries;
  }
  void CloseEntry(void *) override {}
  int32_t bConfirm = 1;
  int nEntries = 0;
};

class SysSigTest : public SettingsTest {
protected:
  void SetUp() override {
    SettingsTest::SetUp();
    vokra::InstallUnitDialogs(&dialogs);
    vokra::LoadUnitSettings();
  }
  void TearDown() override {
    vokra::InstallUnitDialogs(nullptr);
    vokra::RemoveCFG();
    SettingsTest::TearDown();
  }
  ScriptedDialogs dialogs;
};

TEST_F(SysSigTest, ConfirmedMidiDialogSavesCancelledOneDoesNot) {
  dialogs.bConfirm = 0;
  EXPECT_EQ(vokra::RunSysSig(nullptr, 1), 0);
  EXPECT_EQ(ReadDword("nUseCh"), 0xFFFFu);
  EXPECT_EQ(vokra::nFinalGain, 50); // heard at once, not saved
  EXPECT_EQ(ReadDword("nFinalGain"), 127u);
  dialogs.bConfirm = 1;
  EXPECT_NE(vokra::RunSysSig(nullptr, 1), 0);
  EXPECT_EQ(ReadDword("nUseCh"), 0xFFFFu & ~(1u << 9));
  EXPECT_EQ(ReadDword("nFinalGain"), 50u);
}

TEST_F(SysSigTest, ConfirmedSetupSavesStopsVoicesAndReloadsTheSet) {
  fs::create_directories(m_dir / "VOKRA");
  std::FILE *pFile = std::fopen((m_dir / "VOKRA" / "other.cfg").c_str(), "w");
  ASSERT_NE(pFile, nullptr);
  std::fputs("#\n", pFile);
  std::fclose(pFile);
  vokra::InitUNIT(nullptr, (m_dir.string() + "/").c_str());
  std::strcpy(vokra::aInstrument[5].szPath, "left/from/before.epc");
  vokra::aVoice[3].bActive = 1;
  vokra::nVoiceTop = 4;
  EXPECT_EQ(vokra::RunSysSig(nullptr, 2), 1); // LoadCFG's result
  EXPECT_EQ(vokra::aVoice[3].bActive, 0);
  EXPECT_EQ(vokra::nVoiceTop, 0);
  EXPECT_STREQ(vokra::aInstrument[5].szPath, ""); // removed before the load
  RegKey *pKey = RegOpenKey(kStaticsKey);
  ASSERT_NE(pKey, nullptr);
  char szName[16] = {};
  uint32_t nType = 0, nSize = sizeof szName - 1;
  EXPECT_TRUE(RegQueryValue(pKey, "CFG", &nType, reinterpret_cast<uint8_t *>(szName), &nSize));
  RegCloseKey(pKey);
  EXPECT_STREQ(szName, "other.cfg");
}

TEST_F(SysSigTest, EntryWindowOpensOnce) {
  const intptr_t h = vokra::RunSysSig(nullptr, 3);
  EXPECT_NE(h, 0);
  EXPECT_EQ(vokra::RunSysSig(nullptr, 3), h);
  EXPECT_EQ(dialogs.nEntries, 1);
  vokra::ForgetEntryWindow();
  vokra::RunSysSig(nullptr, 3);
  EXPECT_EQ(dialogs.nEntries, 2);
  vokra::CloseEntryWindow();
}

} // namespace
} // namespace vokra_test
