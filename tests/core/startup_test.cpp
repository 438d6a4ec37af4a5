// The shared start-up and the slot commands against fake units and a private
// registry file: the first-run slot, what is saved, what a later start binds.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "player/app/settings_store.h"
#include "player/app/startup.h"
#include "player/app/unit_commands.h"
#include "player/units/unit_host.h"

namespace fs = std::filesystem;

namespace {

class StartupTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("torqa-startup-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "PLUGIN");
    fs::copy_file(fs::path(FAKE_UNIT_DIR) / "fake_unit_a.so", dir_ / "PLUGIN" / "a.so");
    const char *pszOld = std::getenv("TORQA_REGISTRY");
    sOldRegistry_ = pszOld ? pszOld : "";
    setenv("TORQA_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
  }
  void TearDown() override {
    UnbindAllUnits();
    ClearUnitSlots();
    SetPluginDirectory(nullptr);
    setenv("TORQA_REGISTRY", sOldRegistry_.c_str(), 1);
    fs::remove_all(dir_);
  }
  // The start-up up to the bound units, as both programs run it.
  int32_t Start() {
    UnbindAllUnits();
    SetStartValues();
    pfnListDevices = nullptr; // no sound library here
    EXPECT_EQ(SetProgramDirectories((dir_ / "PLUGIN").c_str()), 1);
    ClearUnitSlots();
    LoadSettings();
    return BindSavedUnits();
  }
  std::string SavedSlot(const char *pszName) {
    char sz[kPathBytes] = {};
    RegKey *pKey = RegOpenKey(kSettingsKey);
    uint32_t nType, nSize = sizeof sz - 1;
    RegQueryValue(pKey, pszName, &nType, reinterpret_cast<uint8_t *>(sz), &nSize);
    RegCloseKey(pKey);
    return sz;
  }
  fs::path dir_;
  std::string sOldRegistry_;
};

TEST_F(StartupTest, FirstRunGivesSlotZeroTheFirstUnitAndSavesIt) {
  ASSERT_EQ(Start(), 1);
  EXPECT_STREQ(aUnitSlots[0].szPath, aUnitEntries[0].szPath);
  EXPECT_EQ(aUnitEntries[0].nSlot, 0);
  EXPECT_EQ(aUnitMenu[0].bEnabled, 0);
  EXPECT_EQ(SavedSlot("P0"), aUnitEntries[0].szPath);
  EXPECT_EQ(Start(), 1) << "the next start binds the saved slot";
}

TEST_F(StartupTest, SlotsEmptiedAfterTheFirstRunStayEmpty) {
  ASSERT_EQ(Start(), 1);
  ClearUnitSlot(0);
  EXPECT_EQ(aUnitSlots[0].hModule, nullptr);
  EXPECT_EQ(aUnitEntries[0].nSlot, -1);
  EXPECT_EQ(aUnitMenu[0].bEnabled, 1);
  EXPECT_EQ(SavedSlot("P0"), "");
  EXPECT_EQ(Start(), 0);
  EXPECT_STREQ(aUnitSlots[0].szPath, "");
}

TEST_F(StartupTest, AssignRefusesAnEntryInUseOrAFullSlot) {
  ASSERT_EQ(Start(), 1);
  EXPECT_EQ(AssignUnitSlot(3, 0), 0) << "entry 0 is in slot 0";
  EXPECT_EQ(AssignUnitSlot(0, 0), 0) << "slot 0 holds a library";
  EXPECT_EQ(AssignUnitSlot(3, nUnitCount), 0);
  ClearUnitSlot(0);
  ASSERT_EQ(AssignUnitSlot(3, 0), 1);
  EXPECT_NE(aUnitSlots[3].hModule, nullptr);
  EXPECT_EQ(SavedSlot("P3"), aUnitEntries[0].szPath);
}

// A directory that does not fit is refused, not cut to another one.
TEST_F(StartupTest, PluginDirectoryTooLongIsRefused) {
  const std::string sLong = (dir_ / std::string(kPathBytes, 'd')).string();
  EXPECT_EQ(SetProgramDirectories(sLong.c_str()), 0);
  ScanUnits();
  EXPECT_EQ(nUnitCount, 0);
  EXPECT_STREQ(szPluginDir, "");
}

} // namespace
