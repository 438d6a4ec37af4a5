#include "loader_fixture.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "unit/unit_state.h"

void LoaderTest::SetUp() {
  ASSERT_FALSE(tmp.path().empty());
  dir = tmp.path().string() + "/";
  ASSERT_EQ(mkdir((dir + "VOKRA").c_str(), 0755), 0);
  std::snprintf(vokra::szUnitDir, sizeof vokra::szUnitDir, "%s", dir.c_str());
  std::snprintf(vokra::szCfgName, sizeof vokra::szCfgName, "VOKRA.cfg");
  vokra::ClearInstruments();
  vokra::hwndHost = &list; // any non-null host window selects the installed list
  vokra::InstallLoadingList(&list);
}

void LoaderTest::TearDown() {
  vokra::FreeLockCFG();
  vokra::RemoveCFG();
  vokra::InstallLoadingList(nullptr);
  vokra::hwndHost = nullptr;
}

void LoaderTest::WriteSample(const std::string &name, const testsupport::Bytes &bytes) {
  std::filesystem::create_directories(std::filesystem::path(SetPath(name)).parent_path());
  ASSERT_TRUE(testsupport::WriteFileBytes(SetPath(name), bytes));
}

int32_t LoaderTest::LoadConfig(const std::string &text) {
  testsupport::Bytes bytes(text.begin(), text.end());
  EXPECT_TRUE(testsupport::WriteFileBytes(SetPath("VOKRA.cfg"), bytes));
  return vokra::LoadCFG();
}

std::vector<int16_t> Ramp(int n, int16_t first, int16_t step) {
  std::vector<int16_t> v(static_cast<size_t>(n));
  for (int i = 0; i < n; i++)
    v[size_t(i)] = int16_t(first + step * i);
  return v;
}
