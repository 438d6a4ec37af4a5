// The unit catalogue and slot table against real libraries built for the
// test: complete units, one lacking SysSig, and a file that is no library.
#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/message_box.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"

namespace fs = std::filesystem;

namespace {

class UnitHostTest : public ::testing::Test {
protected:
  void SetUp() override {
    pOldSink_ = SetMessageSink(&sink_);
    dir_ = fs::temp_directory_path() /
           ("torqa-core-units-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(Plugin());
    for (UnitSlot &s : aUnitSlots) {
      std::memset(&s, 0, sizeof s);
    }
    SetPluginDirectory(Plugin().c_str());
  }
  void TearDown() override {
    UnbindAllUnits();
    for (UnitSlot &s : aUnitSlots) {
      s.szPath[0] = 0;
    }
    SetPluginDirectory(nullptr);
    SetMessageSink(pOldSink_);
    fs::remove_all(dir_);
  }

  fs::path Plugin() const { return dir_ / "PLUGIN"; }
  static fs::path Fake(const char *pszName) { return fs::path(FAKE_UNIT_DIR) / pszName; }
  void Install(const char *pszFake, const std::string &sAs) {
    fs::copy_file(Fake(pszFake), Plugin() / sAs);
  }
  void Assign(int32_t nSlot, const fs::path &path) {
    std::snprintf(aUnitSlots[nSlot].szPath, sizeof aUnitSlots[nSlot].szPath, "%s", path.c_str());
  }
  int32_t EntryNamed(const char *pszName) const {
    for (int32_t i = 0; i < nUnitCount; ++i) {
      if (std::strcmp(aUnitEntries[i].szName, pszName) == 0) {
        return i;
      }
    }
    return -1;
  }
  // Lends the bound unit in nSlot a log buffer.
  void LendLog(int32_t nSlot, std::string &sLog) {
    sLog.assign(2048, '\0');
    auto pfnSetLog =
        reinterpret_cast<void (*)(char *, size_t)>(dlsym(aUnitSlots[nSlot].hModule, "FakeSetLog"));
    ASSERT_NE(pfnSetLog, nullptr);
    pfnSetLog(sLog.data(), sLog.size());
  }

  CaptureMessageSink sink_;
  MessageSink *pOldSink_ = nullptr;
  fs::path dir_;
};

TEST_F(UnitHostTest, CatalogueListsOnlyCompleteLoadableUnits) {
  Install("fake_unit_a.so", "a.so");
  Install("fake_unit_b.so", "b.so");
  Install("fake_unit_twelve.so", "twelve.so");
  std::ofstream(Plugin() / "x.so") << "not a library\n";
  Install("fake_unit_a.so", "a-library-without-suffix.dll");
  fs::create_directory(Plugin() / "dir.so");

  ScanUnits();

  ASSERT_EQ(nUnitCount, 2);
  const int32_t a = EntryNamed("FAKE UNIT A");
  const int32_t b = EntryNamed("FAKE UNIT B");
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(std::string(aUnitEntries[a].szPath), (Plugin() / "a.so").string());
  for (int32_t i = 0; i < nUnitCount; ++i) {
    EXPECT_EQ(aUnitEntries[i].nSlot, -1);
    EXPECT_EQ(aUnitMenu[i].nCommand, 1000 + i);
    EXPECT_EQ(aUnitMenu[i].bEnabled, 1);
  }
  EXPECT_TRUE(sink_.aShown.empty());
  EXPECT_EQ(std::string(szPluginDir), Plugin().string() + "/");
}

TEST_F(UnitHostTest, EmptyOrMissingDirectoryGivesEmptyMenuQuietly) {
  ScanUnits();
  EXPECT_EQ(nUnitCount, 0);
  fs::remove_all(Plugin());
  ScanUnits();
  EXPECT_EQ(nUnitCount, 0);
  EXPECT_TRUE(sink_.aShown.empty());
}

TEST_F(UnitHostTest, FiftyUnitsFillTheCatalogueAndWarnOnce) {
  for (int i = 0; i < 51; ++i) {
    char szName[32];
    std::snprintf(szName, sizeof szName, "u%d.so", i);
    fs::create_symlink(Fake("fake_unit_a.so"), Plugin() / szName);
  }
  ScanUnits();
  EXPECT_EQ(nUnitCount, kMaxUnits);
  ASSERT_EQ(sink_.aShown.size(), 1u);
  EXPECT_EQ(sink_.aShown[0].sText, "プラグイン数が最大量を越えました");
  EXPECT_EQ(sink_.aShown[0].sCaption, "プラグインの上限");
  EXPECT_EQ(sink_.aShown[0].icon, MsgIcon::Warning);
}

TEST_F(UnitHostTest, BindCallsTheUnitInOrderAndUnbindReleasesIt) {
  Install("fake_unit_a.so", "a.so");
  ScanUnits();
  nPCMRate = 32000;
  Assign(2, Plugin() / "a.so");
  BindUnit(2);
  UnitSlot &s = aUnitSlots[2];
  ASSERT_NE(s.hModule, nullptr);
  EXPECT_EQ(s.bActive, 1);
  EXPECT_STREQ(s.szName, "FAKE UNIT A");
  EXPECT_NE(s.pfnMake, nullptr);
  EXPECT_NE(s.pfnSysSig, nullptr);

  // The bind ran before a log could be lent: bind again to watch it.
  std::string sLog;
  LendLog(2, sLog);
  UnbindUnit(2);
  EXPECT_STREQ(sLog.c_str(), "FreeLockCFG;RemoveCFG;");
  EXPECT_EQ(s.hModule, nullptr);
  EXPECT_EQ(s.bActive, 0);
  EXPECT_EQ(std::string(s.szPath), (Plugin() / "a.so").string()); // still assigned
  UnbindUnit(2);                                                  // unbound: nothing

  // A library stays loaded while any handle is open, so a handle of our own
  // keeps the unit (and the log it was lent) across the bind.
  void *hKeep = dlopen((Plugin() / "a.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(hKeep, nullptr);
  sLog.assign(2048, '\0');
  reinterpret_cast<void (*)(char *, size_t)>(dlsym(hKeep, "FakeSetLog"))(sLog.data(), sLog.size());
  BindUnit(2);
  EXPECT_STREQ(sLog.c_str(),
               ("GetName;InitUNIT " + Plugin().string() + "/;LoadCFG;SetRate 32000;").c_str());
  UnbindUnit(2);
  dlclose(hKeep);
  nPCMRate = 22050;
}

TEST_F(UnitHostTest, TwelveEntryPointsAreNotAUnit) {
  Install("fake_unit_twelve.so", "twelve.so");
  Assign(0, Plugin() / "twelve.so");
  BindUnit(0);
  EXPECT_EQ(aUnitSlots[0].hModule, nullptr);
  EXPECT_EQ(aUnitSlots[0].bActive, 0);
  EXPECT_STREQ(aUnitSlots[0].szPath, ""); // emptied: the slot returns to empty
  EXPECT_STREQ(aUnitSlots[0].szName, "");
}

TEST_F(UnitHostTest, PathThatDoesNotLoadStaysAssigned) {
  Assign(1, Plugin() / "gone.so");
  BindUnit(1);
  EXPECT_EQ(aUnitSlots[1].hModule, nullptr);
  EXPECT_EQ(aUnitSlots[1].bActive, 0);
  EXPECT_EQ(std::string(aUnitSlots[1].szPath), (Plugin() / "gone.so").string());
}

TEST_F(UnitHostTest, ApplyMarksEntriesByExactPathAndReleaseAllFreesThem) {
  Install("fake_unit_a.so", "a.so");
  Install("fake_unit_b.so", "b.so");
  ScanUnits();
  const int32_t a = EntryNamed("FAKE UNIT A");
  const int32_t b = EntryNamed("FAKE UNIT B");
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  // Two slots with one path (possible only through the settings): the entry
  // records the last. Slot 5 names b.so by another spelling of the same file,
  // as a path differing in letter case does on Windows: it binds, but the
  // byte-wise comparison leaves b's menu item enabled.
  fs::create_directory_symlink(Plugin(), dir_ / "plugin");
  Assign(1, Plugin() / "a.so");
  Assign(3, Plugin() / "a.so");
  Assign(5, dir_ / "plugin" / "b.so");
  ApplyUnitSlots();

  EXPECT_NE(aUnitSlots[1].hModule, nullptr);
  EXPECT_NE(aUnitSlots[3].hModule, nullptr);
  EXPECT_NE(aUnitSlots[5].hModule, nullptr);
  EXPECT_EQ(aUnitSlots[5].bActive, 1);
  EXPECT_EQ(aUnitEntries[a].nSlot, 3);
  EXPECT_EQ(aUnitMenu[a].bEnabled, 0);
  EXPECT_EQ(aUnitEntries[b].nSlot, -1);
  EXPECT_EQ(aUnitMenu[b].bEnabled, 1);

  // Applying again rebinds rather than leaking the loaded libraries.
  ApplyUnitSlots();
  EXPECT_NE(aUnitSlots[1].hModule, nullptr);

  UnbindAllUnits();
  for (const UnitSlot &s : aUnitSlots) {
    EXPECT_EQ(s.hModule, nullptr);
    EXPECT_EQ(s.bActive, 0);
  }
  for (int32_t i = 0; i < nUnitCount; ++i) {
    EXPECT_EQ(aUnitEntries[i].nSlot, -1);
    EXPECT_EQ(aUnitMenu[i].bEnabled, 1);
  }
  EXPECT_EQ(dlopen((Plugin() / "a.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST_F(UnitHostTest, DefaultDirectoryIsPluginBesideTheProgram) {
  SetPluginDirectory(nullptr);
  ScanUnits();
  char szExe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", szExe, sizeof szExe - 1), 0);
  EXPECT_EQ(std::string(szPluginDir), fs::path(szExe).parent_path().string() + "/PLUGIN/");
}

} // namespace
