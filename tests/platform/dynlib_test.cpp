#include "platform/dynlib.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include <unistd.h>

TEST(DynLib, OpensLooksUpAndCloses) {
  void *hLib = LibOpen(TORQA_TEST_LIBRARY);
  ASSERT_NE(hLib, nullptr) << LibLastError();
  auto pfn = reinterpret_cast<int (*)()>(LibSymbol(hLib, "TorqaTestAnswer"));
  ASSERT_NE(pfn, nullptr);
  EXPECT_EQ(pfn(), 42);
  EXPECT_EQ(LibSymbol(hLib, "NoSuchEntry"), nullptr);
  EXPECT_NE(std::strstr(LibLastError(), "NoSuchEntry"), nullptr) << LibLastError();
  LibClose(hLib);
  LibClose(nullptr);
}

TEST(DynLib, MissingOrNonLibraryFilesFail) {
  EXPECT_EQ(LibOpen("/nonexistent/unit.so"), nullptr);
  EXPECT_STRNE(LibLastError(), "");
  EXPECT_EQ(LibOpen(""), nullptr);
  EXPECT_EQ(LibOpen(nullptr), nullptr);
  // A file that is not a library (this test's source directory holds text files).
  EXPECT_EQ(LibOpen(TORQA_TEST_SOURCE_DIR "/CMakeLists.txt"), nullptr);
  EXPECT_EQ(LibSymbol(nullptr, "TorqaTestAnswer"), nullptr);
}

TEST(DynLib, ProgramDirectoryIsTheTestBinarysDirectory) {
  char szDir[PATH_MAX];
  ASSERT_EQ(ProgramDirectory(szDir, sizeof szDir), 1);
  std::string sDir = szDir;
  ASSERT_FALSE(sDir.empty());
  EXPECT_NE(sDir.back(), '/');
  char szExe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", szExe, sizeof szExe - 1);
  ASSERT_GT(n, 0);
  szExe[n] = 0;
  EXPECT_EQ(sDir + "/" + std::string(std::strrchr(szExe, '/') + 1), std::string(szExe));

  char szSmall[4];
  EXPECT_EQ(ProgramDirectory(szSmall, sizeof szSmall), 0);
  EXPECT_EQ(szSmall[0], 0);
}
