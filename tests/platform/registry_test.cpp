// The registry file: values come back byte for byte, the file reads as a
// regedit export, bad files are kept aside, and writes from two processes merge.
#include "platform/registry.h"
#include "platform/registry_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string &s) {
  return Bytes(s.begin(), s.end());
}

std::string ReadFile(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const fs::path &p, const std::string &s) {
  std::ofstream out(p, std::ios::binary);
  out << s;
}

// Files in a directory other than the writers' lock file.
int CountFiles(const fs::path &dir) {
  int n = 0;
  for (auto &entry : fs::directory_iterator(dir))
    n += entry.path().extension() != ".lock";
  return n;
}

// Runs pfn in a child process as an ordinary user (root may write anywhere);
// returns its exit code, 128 + signal when it was killed.
template <typename F> int AsOrdinaryUser(F pfn) {
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
      _exit(100);
    _exit(pfn());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// "静的保存" in Shift-JIS.
const Bytes kShiftJis = {0x90, 0xC3, 0x93, 0x49, 0x95, 0xDB, 0x91, 0xB6};

class RegistryFile : public ::testing::Test {
protected:
  testsupport::TempDir tmp_{"torqa-registry"};
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty());
    dir = tmp_.path();
    file = dir / "sub" / "registry.reg";
    setenv("TORQA_REGISTRY", file.c_str(), 1);
  }
  void TearDown() override {
    chmod(dir.c_str(), 0755);
    if (fs::exists(dir / "sub"))
      chmod((dir / "sub").c_str(), 0755);
    unsetenv("TORQA_REGISTRY");
  }

  static int32_t Set(const char *pszKey, const char *pszName, uint32_t nType, const Bytes &data) {
    RegKey *pKey = RegCreateKey(pszKey);
    if (!pKey)
      return 0;
    RegSetValue(pKey, pszName, nType, data.data(), static_cast<uint32_t>(data.size()));
    return RegCloseKey(pKey);
  }

  // Reads a value through a fresh open; type 0 and empty when missing.
  static std::pair<uint32_t, Bytes> Get(const char *pszKey, const char *pszName) {
    RegKey *pKey = RegOpenKey(pszKey);
    if (!pKey)
      return {0, {}};
    uint32_t nType = 0, nSize = 0;
    if (!RegQueryValue(pKey, pszName, &nType, nullptr, &nSize)) {
      RegCloseKey(pKey);
      return {0, {}};
    }
    Bytes data(nSize);
    EXPECT_EQ(RegQueryValue(pKey, pszName, &nType, data.data(), &nSize), 1);
    RegCloseKey(pKey);
    return {nType, data};
  }

  fs::path dir;
  fs::path file;
};

TEST_F(RegistryFile, EveryValueTypeRoundTripsExactly) {
  Bytes allBytes(256);
  for (int i = 0; i < 256; i++)
    allBytes[i] = static_cast<uint8_t>(i);
  const Bytes dword = {0x44, 0xAC, 0x00, 0x00}; // 44100
  const Bytes quoted = ToBytes("C:\\x\\\"q\" ;=[]@");
  const Bytes multiSz = {'a', 0, 'b', 0, 0};

  RegKey *pKey = RegCreateKey("Software\\Brenlow\\TORQA\\Statics");
  ASSERT_NE(pKey, nullptr);
  EXPECT_EQ(RegSetValue(pKey, "", kRegSz, kShiftJis.data(), 8), 1);
  EXPECT_EQ(RegSetValue(pKey, "nPCMRate", kRegDword, dword.data(), 4), 1);
  EXPECT_EQ(RegSetValue(pKey, "Bin", kRegBinary, allBytes.data(), 256), 1);
  EXPECT_EQ(RegSetValue(pKey, "Quoted \"name\" \\", kRegSz, quoted.data(),
                        static_cast<uint32_t>(quoted.size())),
            1);
  EXPECT_EQ(RegSetValue(pKey, "EmptySz", kRegSz, nullptr, 0), 1);
  EXPECT_EQ(RegSetValue(pKey, "EmptyBin", kRegBinary, nullptr, 0), 1);
  EXPECT_EQ(RegSetValue(pKey, "SzWithNul", kRegSz, reinterpret_cast<const uint8_t *>("ab\0"), 3),
            1);
  EXPECT_EQ(RegSetValue(pKey, "ShortDword", kRegDword, dword.data(), 2), 1);
  EXPECT_EQ(RegSetValue(pKey, "Multi", 7, multiSz.data(), 5), 1);
  EXPECT_EQ(RegCloseKey(pKey), 1);
  EXPECT_EQ(Set("Software\\Brenlow\\TORQA", "", kRegSz, ToBytes("Powered by Velmar")), 1);

  const char *k = "Software\\Brenlow\\TORQA\\Statics";
  EXPECT_EQ(Get(k, ""), std::make_pair(uint32_t(kRegSz), kShiftJis));
  EXPECT_EQ(Get(k, "nPCMRate"), std::make_pair(uint32_t(kRegDword), dword));
  EXPECT_EQ(Get(k, "Bin"), std::make_pair(uint32_t(kRegBinary), allBytes));
  EXPECT_EQ(Get(k, "Quoted \"name\" \\"), std::make_pair(uint32_t(kRegSz), quoted));
  EXPECT_EQ(Get(k, "EmptySz"), std::make_pair(uint32_t(kRegSz), Bytes()));
  EXPECT_EQ(Get(k, "EmptyBin"), std::make_pair(uint32_t(kRegBinary), Bytes()));
  EXPECT_EQ(Get(k, "SzWithNul"), std::make_pair(uint32_t(kRegSz), Bytes{'a', 'b', 0}));
  EXPECT_EQ(Get(k, "ShortDword"), std::make_pair(uint32_t(kRegDword), Bytes{0x44, 0xAC}));
  EXPECT_EQ(Get(k, "Multi"), std::make_pair(7u, multiSz));
  EXPECT_EQ(Get("Software\\Brenlow\\TORQA", ""),
            std::make_pair(uint32_t(kRegSz), ToBytes("Powered by Velmar")));

  // The file is a regedit export a person can read.
  std::string text = ReadFile(file);
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Brenlow\\TORQA\\Statics]\n"),
            std::string::npos);
  EXPECT_NE(text.find("\n\"nPCMRate\"=dword:0000ac44\n"), std::string::npos);
  EXPECT_NE(text.find("\n@=hex(1):90,c3,93,49,95,db,91,b6\n"), std::string::npos);
  EXPECT_NE(text.find("\n@=\"Powered by Velmar\"\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"EmptySz\"=\"\"\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"EmptyBin\"=hex:\n"), std::string::npos);
  EXPECT_NE(text.find("\n\"ShortDword\"=hex(4):44,ac\n"), std::string::npos);
  // Long hex data wraps like regedit's, and every line stays short.
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    EXPECT_LE(line.size(), 80u) << line;

  // Formatting what was parsed gives the same file again.
  RegTextFile parsed;
  ASSERT_EQ(ParseRegText(reinterpret_cast<const uint8_t *>(text.data()), text.size(), parsed), 1);
  EXPECT_EQ(FormatRegText(parsed), text);
}

TEST_F(RegistryFile, KeysAndNamesIgnoreLetterCaseAndParentsExist) {
  ASSERT_EQ(Set("Software\\A\\B\\C", "Value", kRegDword, {1, 0, 0, 0}), 1);
  EXPECT_EQ(Get("SOFTWARE\\a\\b\\c", "VALUE").second, (Bytes{1, 0, 0, 0}));
  RegKey *pParent = RegOpenKey("Software\\A");
  EXPECT_NE(pParent, nullptr);
  EXPECT_EQ(RegCloseKey(pParent), 1);
  EXPECT_EQ(RegOpenKey("Software\\A\\B\\C\\D"), nullptr);
  EXPECT_EQ(RegOpenKey("Software\\A\\B\\"), nullptr);
  EXPECT_EQ(RegOpenKey("Software\\A\\\\B"), nullptr);
  EXPECT_EQ(RegOpenKey(""), nullptr);
  EXPECT_EQ(RegOpenKey("Software\\AB"), nullptr) << "a prefix of a name is not a parent";

  // A second write of the same value in another spelling replaces it.
  ASSERT_EQ(Set("software\\a\\b\\c", "value", kRegDword, {2, 0, 0, 0}), 1);
  RegTextFile parsed;
  std::string text = ReadFile(file);
  ASSERT_EQ(ParseRegText(reinterpret_cast<const uint8_t *>(text.data()), text.size(), parsed), 1);
  ASSERT_EQ(parsed.aKeys.size(), 1u);
  ASSERT_EQ(parsed.aKeys[0].aValues.size(), 1u);
  EXPECT_EQ(parsed.aKeys[0].aValues[0].aData, (Bytes{2, 0, 0, 0}));
}

TEST_F(RegistryFile, QueryReportsSizeAndRefusesSmallBuffers) {
  ASSERT_EQ(Set("Software\\Q", "v", kRegBinary, {1, 2, 3, 4, 5}), 1);
  RegKey *pKey = RegOpenKey("Software\\Q");
  ASSERT_NE(pKey, nullptr);
  uint8_t buf[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  uint32_t nType = 0, nSize = 4;
  EXPECT_EQ(RegQueryValue(pKey, "v", &nType, buf, &nSize), 0);
  EXPECT_EQ(nSize, 5u);
  EXPECT_EQ(buf[0], 9) << "a value that does not fit leaves the buffer alone";
  nSize = 8;
  EXPECT_EQ(RegQueryValue(pKey, "v", &nType, buf, &nSize), 1);
  EXPECT_EQ(nType, uint32_t(kRegBinary));
  EXPECT_EQ(nSize, 5u);
  EXPECT_EQ(buf[4], 5);
  EXPECT_EQ(buf[5], 9);
  EXPECT_EQ(RegQueryValue(pKey, "missing", &nType, buf, &nSize), 0);
  // A handle sees its own writes before they reach the file.
  EXPECT_EQ(RegSetValue(pKey, "new", kRegSz, reinterpret_cast<const uint8_t *>("x"), 1), 1);
  nSize = 8;
  EXPECT_EQ(RegQueryValue(pKey, "new", &nType, buf, &nSize), 1);
  EXPECT_EQ(ReadFile(file).find("\"new\""), std::string::npos);
  EXPECT_EQ(RegSetValue(pKey, "bad\nname", kRegSz, buf, 1), 0);
  EXPECT_EQ(RegCloseKey(pKey), 1);
  EXPECT_NE(ReadFile(file).find("\"new\"=\"x\""), std::string::npos);
}

TEST(RegistryText, ReadsRegeditStyleExports) {
  const std::string text = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
                           "\r\n"
                           "; a comment\r\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n"
                           "@=\"def\"\r\n"
                           "\"Long\"=hex:01,02,\\\r\n"
                           "  03,04\r\n"
                           "\"Gone\"=dword:00000001\r\n"
                           "\"Gone\"=-\r\n"
                           "\"Upper\"=dword:DEADBEEF\r\n"
                           "\r\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\T\\Sub]\r\n"
                           "\"x\"=hex(2):41,00\r\n"
                           "[HKEY_CURRENT_USER\\Other]\r\n"
                           "\"y\"=\"z\"\r\n"
                           "[-HKEY_LOCAL_MACHINE\\Software\\T\\Sub]\r\n";
  RegTextFile f;
  ASSERT_EQ(ParseRegText(reinterpret_cast<const uint8_t *>(text.data()), text.size(), f), 1);
  ASSERT_EQ(f.aKeys.size(), 2u);
  RegTextKey &t = f.aKeys[0];
  ASSERT_EQ(t.aValues.size(), 3u);
  EXPECT_EQ(t.aValues[0].sName, "");
  EXPECT_EQ(t.aValues[0].aData, ToBytes("def"));
  EXPECT_EQ(t.aValues[1].aData, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(t.aValues[2].sName, "Upper");
  EXPECT_EQ(t.aValues[2].aData, (Bytes{0xEF, 0xBE, 0xAD, 0xDE}));
  EXPECT_EQ(f.aKeys[1].sPath, "HKEY_CURRENT_USER\\Other");

  const std::string v4 = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"b\"";
  EXPECT_EQ(ParseRegText(reinterpret_cast<const uint8_t *>(v4.data()), v4.size(), f), 1);
}

TEST(RegistryText, RejectsMalformedAndTruncatedFiles) {
  const std::string good = "Windows Registry Editor Version 5.00\n\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\T]\n"
                           "\"n\"=dword:0000ac44\n"
                           "\"b\"=hex:00,ff,\\\n  10\n"
                           "\"s\"=\"text\"\n";
  RegTextFile f;
  ASSERT_EQ(ParseRegText(reinterpret_cast<const uint8_t *>(good.data()), good.size(), f), 1);
  // Files cut short inside a line. (A cut at a line end, or right after a hex
  // byte, leaves a shorter well-formed file and cannot be told apart.)
  for (const char *pszCutAfter :
       {"Windows Reg", "[HKEY_LOCAL_MACHINE\\Soft", "dword:0000a", "hex:00,f", "hex:00,ff,",
        "hex:00,ff,\\", "\"s\"=\"te", "\"s\"="}) {
    size_t n = good.find(pszCutAfter);
    ASSERT_NE(n, std::string::npos) << pszCutAfter;
    n += std::strlen(pszCutAfter);
    RegTextFile cut;
    EXPECT_EQ(ParseRegText(reinterpret_cast<const uint8_t *>(good.data()), n, cut), 0)
        << good.substr(0, n);
    EXPECT_TRUE(cut.aKeys.empty());
  }
  const std::string asBad[] = {
      "",
      "garbage",
      "Windows Registry Editor Version 4.00\n",
      "Windows Registry Editor Version 5.00\n\"a\"=\"b\"\n",   // value before any key
      "Windows Registry Editor Version 5.00\n[Software\\T]\n", // no hive
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\T\\]\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\T]\n\"a\"=dword:xyz00000\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\T]\n\"a\"=hex:1,2\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\T]\n\"a\"=hex(zz):01\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\T]\n\"a\"=\"b\\q\"\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\T]\n\"a\"=\"b\" x\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\T]\nname=\"b\"\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\T]\n\"a\"=str:\"b\"\n",
      std::string("\xFF\xFEW\0i\0n\0", 8), // UTF-16 export
  };
  for (const std::string &s : asBad)
    EXPECT_EQ(ParseRegText(reinterpret_cast<const uint8_t *>(s.data()), s.size(), f), 0) << s;
}

// Random keys, names and values of every type survive formatting and parsing
// unchanged, whatever bytes they hold.
TEST(RegistryText, RandomContentSurvivesFormatAndParse) {
  std::mt19937 rng(20261207);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  auto text = [&](int nMax, bool bControl) {
    std::string s;
    int n = pick(nMax + 1);
    for (int i = 0; i < n; i++) {
      int c = pick(4) == 0 ? pick(256) : 0x20 + pick(0x5F);
      if (!bControl && c < 0x20)
        c = '\\';
      s.push_back(static_cast<char>(c));
    }
    return s;
  };
  for (int nRound = 0; nRound < 200; nRound++) {
    RegTextFile file;
    int nKeys = pick(4);
    for (int k = 0; k < nKeys; k++) {
      std::string sPath = "HKEY_LOCAL_MACHINE\\K";
      sPath += std::to_string(k);
      for (int d = pick(3); d > 0; d--) {
        std::string sPart = text(12, false);
        while (!sPart.empty() && sPart.back() == '\\')
          sPart.pop_back();
        if (sPart.empty() || sPart.find("\\\\") != std::string::npos || sPart[0] == '\\')
          sPart.assign(1, 'x');
        sPath += '\\';
        sPath += sPart;
      }
      if (FindRegKey(file, sPath))
        continue;
      RegTextKey key{sPath, {}};
      for (int v = pick(6); v > 0; v--) {
        std::string sName = text(10, false);
        static const uint32_t anTypes[] = {kRegSz, kRegSz, kRegBinary, kRegDword, 2, 7, 11, 0};
        uint32_t nType = anTypes[pick(8)];
        std::string sData = text(nType == kRegDword && pick(2) ? 4 : 120, true);
        if (nType == kRegDword && pick(2))
          sData.resize(4, 'd');
        if (!FindRegValue(key, sName))
          key.aValues.push_back(RegTextValue{sName, nType, ToBytes(sData)});
      }
      file.aKeys.push_back(key);
    }
    std::string sText = FormatRegText(file);
    RegTextFile back;
    ASSERT_EQ(ParseRegText(reinterpret_cast<const uint8_t *>(sText.data()), sText.size(), back), 1)
        << sText;
    ASSERT_EQ(back.aKeys.size(), file.aKeys.size()) << sText;
    for (size_t k = 0; k < file.aKeys.size(); k++) {
      EXPECT_EQ(back.aKeys[k].sPath, file.aKeys[k].sPath);
      ASSERT_EQ(back.aKeys[k].aValues.size(), file.aKeys[k].aValues.size()) << sText;
      for (size_t v = 0; v < file.aKeys[k].aValues.size(); v++) {
        EXPECT_EQ(back.aKeys[k].aValues[v].sName, file.aKeys[k].aValues[v].sName);
        EXPECT_EQ(back.aKeys[k].aValues[v].nType, file.aKeys[k].aValues[v].nType);
        EXPECT_EQ(back.aKeys[k].aValues[v].aData, file.aKeys[k].aValues[v].aData);
      }
    }
    EXPECT_EQ(FormatRegText(back), sText);
  }
}

TEST_F(RegistryFile, MalformedFileReadsAsEmptyAndIsKeptAsBak) {
  fs::create_directories(file.parent_path());
  const std::string garbage = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\Software"
                              "\\Brenlow]\n\"n\"=dword:0000";
  WriteFile(file, garbage);
  EXPECT_EQ(RegOpenKey("Software\\Brenlow"), nullptr);
  EXPECT_EQ(ReadFile(file), garbage) << "reading never rewrites the file";

  ASSERT_EQ(Set("Software\\New", "v", kRegDword, {1, 0, 0, 0}), 1);
  EXPECT_EQ(ReadFile(dir / "sub" / "registry.reg.bak"), garbage);
  EXPECT_EQ(Get("Software\\New", "v").second, (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(RegOpenKey("Software\\Brenlow"), nullptr);
  // Only the file and its backup are left in the directory.
  EXPECT_EQ(CountFiles(file.parent_path()), 2);
}

TEST_F(RegistryFile, EachResetOfADamagedFileKeepsABackupOfItsOwnAndSaysSo) {
  fs::create_directories(file.parent_path());
  WriteFile(file, "first damage");
  testing::internal::CaptureStderr();
  ASSERT_EQ(Set("Software\\New", "v", kRegDword, {1, 0, 0, 0}), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("registry.reg.bak"), std::string::npos);
  WriteFile(file, "second damage");
  testing::internal::CaptureStderr();
  ASSERT_EQ(Set("Software\\New", "v", kRegDword, {2, 0, 0, 0}), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("registry.reg.bak.1"), std::string::npos);
  EXPECT_EQ(ReadFile(dir / "sub" / "registry.reg.bak"), "first damage");
  EXPECT_EQ(ReadFile(dir / "sub" / "registry.reg.bak.1"), "second damage");
}

TEST_F(RegistryFile, ReadOnlyFileIsLeftAsItIs) {
  ASSERT_EQ(Set("Software\\Keep", "v", kRegDword, {7, 0, 0, 0}), 1);
  const std::string before = ReadFile(file);
  ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
  chmod(file.c_str(), 0444);
  chmod(file.parent_path().c_str(), 0777);
  chmod(dir.c_str(), 0755);
  EXPECT_EQ(AsOrdinaryUser([] {
              if (Get("Software\\Keep", "v").second != Bytes{7, 0, 0, 0})
                return 1; // still read
              return Set("Software\\Keep", "v", kRegDword, {8, 0, 0, 0}) == 0 ? 0 : 2;
            }),
            0);
  EXPECT_EQ(ReadFile(file), before);
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
}

TEST_F(RegistryFile, FifoInTheFilesPlaceDoesNotBlock) {
  fs::create_directories(file.parent_path());
  ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    alarm(10); // a blocked open ends the child here
    if (RegOpenKey("Software\\Keep") != nullptr)
      _exit(1);
    _exit(RegCreateKey("Software\\Keep") == nullptr ? 0 : 2);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  struct stat st;
  ASSERT_EQ(lstat(file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A writer that cannot list its directory (mode 0333) still waits for the
// lock another process holds, instead of merging unlocked.
TEST_F(RegistryFile, WriterInAnUnreadableDirectoryWaitsForTheLock) {
  ASSERT_EQ(Set("Software\\Race", "v", kRegDword, {1, 0, 0, 0}), 1);
  ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
  chmod(file.parent_path().c_str(), 0333);
  chmod(dir.c_str(), 0755);
  const std::string before = ReadFile(file);
  const int fdLock = open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fdLock, 0);
  ASSERT_EQ(flock(fdLock, LOCK_EX), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
      _exit(100);
    _exit(Set("Software\\Race", "w", kRegDword, {2, 0, 0, 0}) == 1 ? 0 : 1);
  }
  usleep(300 * 1000);
  EXPECT_EQ(ReadFile(file), before) << "written while another process held the lock";
  flock(fdLock, LOCK_UN);
  close(fdLock);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Get("Software\\Race", "w").second, (Bytes{2, 0, 0, 0}));
}

TEST_F(RegistryFile, SecondProcessWritesBetweenOpenAndCloseSurvive) {
  ASSERT_EQ(Set("Software\\Shared", "first", kRegDword, {1, 0, 0, 0}), 1);
  RegKey *pKey = RegOpenKey("Software\\Shared");
  ASSERT_NE(pKey, nullptr);

  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int32_t ok = Set("Software\\Shared", "child", kRegDword, {2, 0, 0, 0}) &
                 Set("Software\\ChildKey", "", kRegSz, ToBytes("c"));
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  const Bytes three = {3, 0, 0, 0};
  EXPECT_EQ(RegSetValue(pKey, "parent", kRegDword, three.data(), 4), 1);
  EXPECT_EQ(RegCloseKey(pKey), 1);
  EXPECT_EQ(Get("Software\\Shared", "first").second, (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(Get("Software\\Shared", "child").second, (Bytes{2, 0, 0, 0}));
  EXPECT_EQ(Get("Software\\Shared", "parent").second, three);
  EXPECT_EQ(Get("Software\\ChildKey", "").second, ToBytes("c"));
}

std::string RaceName(int p, int v) {
  char sz[16];
  std::snprintf(sz, sizeof sz, "p%dv%d", p, v);
  return sz;
}

TEST_F(RegistryFile, ConcurrentWritersLoseNothing) {
  constexpr int kProcesses = 4;
  constexpr int kValues = 15;
  pid_t apid[kProcesses];
  for (int p = 0; p < kProcesses; p++) {
    apid[p] = fork();
    ASSERT_GE(apid[p], 0);
    if (apid[p] == 0) {
      int32_t ok = 1;
      for (int v = 0; v < kValues; v++) {
        std::string name = RaceName(p, v);
        ok &= Set("Software\\Race", name.c_str(), kRegDword, {uint8_t(p), uint8_t(v), 0, 0});
      }
      _exit(ok ? 0 : 1);
    }
  }
  for (pid_t pid : apid) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int p = 0; p < kProcesses; p++)
    for (int v = 0; v < kValues; v++) {
      std::string name = RaceName(p, v);
      EXPECT_EQ(Get("Software\\Race", name.c_str()).second, (Bytes{uint8_t(p), uint8_t(v), 0, 0}))
          << name;
    }
}

TEST_F(RegistryFile, UnwritableDirectoryFailsAndKeepsTheFile) {
  ASSERT_EQ(Set("Software\\Keep", "v", kRegDword, {7, 0, 0, 0}), 1);
  const std::string before = ReadFile(file);
  chmod(file.c_str(), 0644);
  chmod(file.parent_path().c_str(), 0555);
  chmod(dir.c_str(), 0755);

  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Root may write anywhere: become an ordinary user first.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
      _exit(3);
    RegKey *pKey = RegOpenKey("Software\\Keep");
    if (!pKey)
      _exit(4);
    const uint8_t eight[4] = {8, 0, 0, 0};
    RegSetValue(pKey, "v", kRegDword, eight, 4);
    if (RegCloseKey(pKey) != 0)
      _exit(5);
    if (RegCreateKey("Software\\Other") != nullptr)
      _exit(6);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(file), before);
  EXPECT_EQ(CountFiles(file.parent_path()), 1) << "no temporary file is left behind";

  // A directory in the file's place is neither read nor moved aside.
  fs::create_directories(dir / "isdir");
  setenv("TORQA_REGISTRY", (dir / "isdir").c_str(), 1);
  EXPECT_EQ(RegCreateKey("Software\\Keep"), nullptr);
  EXPECT_TRUE(fs::is_directory(dir / "isdir"));
  EXPECT_FALSE(fs::exists(dir / "isdir.bak"));

  // A registry path below a plain file cannot be created at all.
  setenv("TORQA_REGISTRY", "/dev/null/registry.reg", 1);
  EXPECT_EQ(RegCreateKey("Software\\Keep"), nullptr);
  EXPECT_EQ(RegOpenKey("Software\\Keep"), nullptr);
}

TEST_F(RegistryFile, UnreadableFileIsMovedAsideOnWrite) {
  ASSERT_EQ(Set("Software\\Old", "v", kRegDword, {7, 0, 0, 0}), 1);
  const std::string before = ReadFile(file);
  ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0); // the user's own file, writable only
  chmod(file.c_str(), 0200);
  chmod(file.parent_path().c_str(), 0777);
  chmod(dir.c_str(), 0755);

  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
      _exit(3);
    if (RegOpenKey("Software\\Old") != nullptr)
      _exit(4); // unreadable reads as missing keys
    RegKey *pKey = RegCreateKey("Software\\New");
    if (!pKey)
      _exit(5);
    RegCloseKey(pKey);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  chmod((dir / "sub" / "registry.reg.bak").c_str(), 0644);
  EXPECT_EQ(ReadFile(dir / "sub" / "registry.reg.bak"), before);
  RegKey *pKey = RegOpenKey("Software\\New");
  EXPECT_NE(pKey, nullptr);
  RegCloseKey(pKey);
}

TEST_F(RegistryFile, DefaultLocationFollowsXdgConfigHome) {
  unsetenv("TORQA_REGISTRY");
  const char *pszOldXdg = std::getenv("XDG_CONFIG_HOME");
  std::string sOldXdg = pszOldXdg ? pszOldXdg : "";
  setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  EXPECT_EQ(Set("Software\\X", "v", kRegDword, {1, 0, 0, 0}), 1);
  EXPECT_TRUE(fs::exists(dir / "config" / "torqa" / "registry.reg"));
  if (pszOldXdg)
    setenv("XDG_CONFIG_HOME", sOldXdg.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}

} // namespace
