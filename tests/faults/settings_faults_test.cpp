// A settings file that is cut short, full of garbage or in a directory the
// program may not write: the program keeps running on its start values (or
// on what it could read) and the user's file is never lost.
#include "player/app/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/audio_devices.h"
#include "platform/registry_text.h"
#include "player/render/effects.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

bool Parses(const Bytes &bytes) {
  RegTextFile file;
  return ParseRegText(bytes.data(), bytes.size(), file) == 1;
}

// The fields the store keeps, as start-up sets them and as a user saved them.
struct Fields {
  int32_t nPCMRate, n3DLength, n3DENGIN, bPowerSave1, bDispEnable, bUseEff1, bUseEff3, bLPF;
  const char *pszSlot0;
};
constexpr Fields kStart = {22050, 0, 0, 0, 1, 1, 1, 0, ""};
constexpr Fields kSaved = {44100, 700, 2, 1, 0, 0, 0, 1, "/opt/torqa/PLUGIN/unit.so"};

void SetFields(const Fields &f) {
  nPCMRate = f.nPCMRate;
  n3DLength = f.n3DLength;
  n3DENGIN = f.n3DENGIN;
  bPowerSave1 = f.bPowerSave1;
  bDispEnable = f.bDispEnable;
  bUseEff1 = f.bUseEff1;
  bUseEff3 = f.bUseEff3;
  bLPF = f.bLPF;
  dwProcessPriority = 0x20; // normal: a test must not change its own priority
  bSizeGeometry = 1;
  nSelDevice = 0;
  pfn3DEngine = nullptr;
  std::memset(aUnitSlots, 0, sizeof aUnitSlots);
  std::snprintf(aUnitSlots[0].szPath, sizeof aUnitSlots[0].szPath, "%s", f.pszSlot0);
}

// Every field holds either its start value or its saved value: nothing from a
// damaged file leaks in as a third value.
::testing::AssertionResult StartOrSaved() {
  auto either = [](int32_t n, int32_t a, int32_t b) { return n == a || n == b; };
  if (!either(nPCMRate, kStart.nPCMRate, kSaved.nPCMRate) ||
      !either(n3DLength, kStart.n3DLength, kSaved.n3DLength) ||
      !either(n3DENGIN, kStart.n3DENGIN, kSaved.n3DENGIN) ||
      !either(bPowerSave1, kStart.bPowerSave1, kSaved.bPowerSave1) ||
      !either(bDispEnable, kStart.bDispEnable, kSaved.bDispEnable) ||
      !either(bUseEff1, kStart.bUseEff1, kSaved.bUseEff1) ||
      !either(bUseEff3, kStart.bUseEff3, kSaved.bUseEff3) ||
      !either(bLPF, kStart.bLPF, kSaved.bLPF) || dwProcessPriority != 0x20 ||
      pfn3DEngine == nullptr)
    return ::testing::AssertionFailure() << "rate " << nPCMRate << " 3D " << n3DLength << "/"
                                         << n3DENGIN << " priority " << dwProcessPriority;
  const std::string sSlot = aUnitSlots[0].szPath;
  if (sSlot != kStart.pszSlot0 && sSlot != kSaved.pszSlot0)
    return ::testing::AssertionFailure() << "slot 0 " << sSlot;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult AllStart() {
  if (nPCMRate != kStart.nPCMRate || n3DLength != kStart.n3DLength ||
      bDispEnable != kStart.bDispEnable || bUseEff1 != kStart.bUseEff1 || bLPF != kStart.bLPF ||
      aUnitSlots[0].szPath[0] != '\0' || pfn3DEngine != &Engine3DLight)
    return ::testing::AssertionFailure() << "rate " << nPCMRate << " 3D " << n3DLength;
  return ::testing::AssertionSuccess();
}

class SettingsFaults : public ::testing::Test {
protected:
  testsupport::TempDir tmp_{"torqa-faults"};
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty());
    dir_ = tmp_.path();
    file_ = dir_ / "registry.reg";
    bak_ = dir_ / "registry.reg.bak";
    setenv("TORQA_REGISTRY", file_.c_str(), 1);
    const char *apszDevices[] = {"Built-in Audio Analog Stereo"};
    SetDeviceList(apszDevices, 1);
  }
  void TearDown() override {
    chmod(dir_.c_str(), 0755);
    unsetenv("TORQA_REGISTRY");
    SetDeviceList(nullptr, 0);
  }
  // A settings file as the program leaves it after the user saved kSaved.
  Bytes SavedFile() {
    SetFields(kSaved);
    LoadSettings(); // first run: stores the fields as they are
    SaveSettings();
    return ReadBytes(file_);
  }
  // The user's bytes are still on disk: in the file itself, or set aside
  // beside it when the program had to write a fresh one.
  ::testing::AssertionResult Kept(const Bytes &user) {
    if (ReadBytes(file_) == user || (fs::exists(bak_) && ReadBytes(bak_) == user))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the user's " << user.size() << " bytes are gone";
  }
  fs::path dir_, file_, bak_;
};

TEST_F(SettingsFaults, FileCutShortAnywhereGivesStartOrSavedValuesAndIsKept) {
  const Bytes saved = SavedFile();
  ASSERT_GT(saved.size(), 200u);
  ASSERT_TRUE(Parses(saved));
  int32_t nDamaged = 0;
  for (size_t n = 0; n < saved.size(); n += 5) {
    const Bytes cut(saved.begin(), saved.begin() + std::ptrdiff_t(n));
    fs::remove(bak_);
    WriteBytes(file_, cut);
    SetFields(kStart);
    LoadSettings();
    ASSERT_TRUE(StartOrSaved()) << "cut at " << n;
    SaveSettings();
    WindowPoint point = {10, 20};
    WriteWindowPlacement(&point);
    ASSERT_TRUE(Parses(ReadBytes(file_))) << "cut at " << n;
    if (!Parses(cut)) {
      ++nDamaged;
      ASSERT_TRUE(AllStart()) << "cut at " << n << ": nothing of a damaged file is used";
      ASSERT_TRUE(Kept(cut)) << "cut at " << n;
    }
  }
  EXPECT_GT(nDamaged, 40); // most cuts fall inside a line
}

TEST_F(SettingsFaults, GarbageRunsOnStartValuesAndIsKept) {
  const Bytes saved = SavedFile();
  std::mt19937 random(20261207);
  Bytes noise(4096);
  for (uint8_t &b : noise)
    b = uint8_t(random());
  Bytes flipped = saved; // a saved file with a few bytes damaged in place
  for (size_t i = 40; i < flipped.size(); i += 97)
    flipped[i] = uint8_t(flipped[i] ^ 0x80);
  const std::string sHeader = "Windows Registry Editor Version 5.00\r\n\r\n";
  std::string sLongLine = sHeader + "[HKEY_LOCAL_MACHINE\\Software\\Brenlow\\TORQA\\Statics]\r\n\"";
  sLongLine.append(1 << 20, 'x');
  Bytes utf16 = {0xFF, 0xFE}; // the same file as regedit's UTF-16 export
  for (uint8_t b : saved) {
    utf16.push_back(b);
    utf16.push_back(0);
  }
  const std::vector<Bytes> garbage = {
      noise, Bytes(1000, 0), flipped, Bytes(sLongLine.begin(), sLongLine.end()), utf16,
  };
  for (size_t g = 0; g < garbage.size(); ++g) {
    ASSERT_FALSE(Parses(garbage[g])) << g;
    fs::remove(bak_);
    WriteBytes(file_, garbage[g]);
    SetFields(kStart);
    LoadSettings();
    EXPECT_TRUE(AllStart()) << g;
    WindowPoint point = {1, 2};
    ReadWindowPlacement(&point);
    EXPECT_EQ(point.x, 0) << g; // the first-run placement, not a value from the garbage
    EXPECT_EQ(point.y, 0) << g;
    SaveSettings();
    EXPECT_TRUE(Parses(ReadBytes(file_))) << g;
    EXPECT_TRUE(Kept(garbage[g])) << g;
  }
}

// In a directory the program may not write, the settings it can read are
// used, saving fails and the file stays as it was.
TEST_F(SettingsFaults, ReadOnlyDirectoryKeepsTheFileAndTheReadValues) {
  const Bytes saved = SavedFile();
  chmod(file_.c_str(), 0644);
  chmod(dir_.c_str(), 0555);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Root may write anywhere: become an ordinary user first.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
      _exit(10);
    SetFields(kStart);
    LoadSettings();
    if (nPCMRate != kSaved.nPCMRate || n3DLength != kSaved.n3DLength || bLPF != kSaved.bLPF ||
        std::strcmp(aUnitSlots[0].szPath, kSaved.pszSlot0) != 0)
      _exit(11);
    nPCMRate = 11025;
    SaveSettings();
    WindowPoint point = {5, 6};
    WriteWindowPlacement(&point);
    SetFields(kStart);
    LoadSettings();
    _exit(nPCMRate == kSaved.nPCMRate ? 0 : 12);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadBytes(file_), saved);
  int32_t nFiles = 0;
  for (const auto &entry : fs::directory_iterator(dir_))
    nFiles += entry.path().extension() != ".lock"; // the writers' lock file may stay
  EXPECT_EQ(nFiles, 1) << "nothing else is left in the directory";
}

} // namespace
