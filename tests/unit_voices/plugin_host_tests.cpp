// PLUGIN/vokraunit.so loaded as the player loads it: dlopen, the thirteen
// names resolved, a sound set in a temporary unit directory, and the pitch,
// release and registry behaviour checked from outside.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/unit_interface.h"
#include "platform/registry.h"
#include "sample_files.h"
#include "support/temp_dir.h"

namespace vokra_test {
namespace {

namespace fs = std::filesystem;

constexpr char kStaticsKey[] = "Software\\QUIRN-PLUGIN\\VOKRAUNIT\\Statics";
constexpr char kFreepats[] = "/usr/share/midi/freepats/Tone_000/";

// Increments of notes 108..119, and their scaling to a note and rate, as the
// unit documents them (written out again here, not taken from the unit).
constexpr int32_t kOctave9[12] = {17416, 18432, 19576, 20684, 21968, 23096,
                                  24822, 25892, 27444, 29276, 31132, 32768};
int32_t TableStep(int32_t n, int32_t nRate) {
  const int32_t o = n / 12;
  const int32_t v = o <= 9 ? kOctave9[n % 12] >> (9 - o) : kOctave9[n % 12] << (o - 9);
  return v * 11025 / nRate;
}

constexpr double kPatchCycle = 168.55865478515625; // samples of middle C at 44100 after loading
constexpr int32_t kSinePeriod = 200;               // synthetic samples per cycle

void WriteFile(const fs::path &p, const std::vector<uint8_t> &a) {
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char *>(a.data()), static_cast<std::streamsize>(a.size()));
}

double Cents(double dRatio) {
  return 1200.0 * std::log2(dRatio);
}

// Normalised autocorrelation of x over nWindow samples at lag l.
double Correlation(const std::vector<double> &x, int32_t l, int32_t nWindow) {
  double dXY = 0, dXX = 0, dYY = 0;
  for (int32_t i = 0; i < nWindow; ++i) {
    dXY += x[i] * x[i + l];
    dXX += x[i] * x[i];
    dYY += x[i + l] * x[i + l];
  }
  return dXX > 0 && dYY > 0 ? dXY / std::sqrt(dXX * dYY) : 0;
}

// Period of x in samples, starting from a guess within a few percent: the
// autocorrelation peak is found near one period, then refined near ever
// larger multiples of it (parabolic interpolation around each peak).
double MeasurePeriod(const std::vector<double> &x, double dGuess) {
  const int32_t nWindow = 8192;
  double dPeriod = dGuess;
  for (int32_t m : {1, 2, 4, 8, 16, 32, 64}) {
    const double dCentre = m * dPeriod;
    // The guess may be off by a few percent; each later estimate by far less.
    const int32_t nReach = m == 1 ? static_cast<int32_t>(dPeriod / 4) + 2
                                  : 3 + static_cast<int32_t>(0.002 * m * dPeriod);
    const int32_t nLo = static_cast<int32_t>(dCentre) - nReach;
    const int32_t nHi = static_cast<int32_t>(dCentre) + nReach;
    if (nLo < 2 || nHi + 1 + nWindow > static_cast<int32_t>(x.size()))
      break;
    int32_t nBest = nLo;
    double dBest = -2;
    for (int32_t l = nLo; l <= nHi; ++l) {
      const double r = Correlation(x, l, nWindow);
      if (r > dBest) {
        dBest = r;
        nBest = l;
      }
    }
    const double a = Correlation(x, nBest - 1, nWindow);
    const double c = Correlation(x, nBest + 1, nWindow);
    const double dDen = a - 2 * dBest + c;
    const double dShift = dDen != 0 ? 0.5 * (a - c) / dDen : 0;
    dPeriod = (nBest + dShift) / m;
  }
  return dPeriod;
}

struct UnitApi {
  PfnGetType GetType;
  PfnGetName GetName;
  PfnGetVer GetVer;
  PfnTestDLL TestDLL;
  PfnCopyright Copyright;
  PfnMake Make;
  PfnSetRate SetRate;
  PfnInitUNIT InitUNIT;
  PfnLoadCFG LoadCFG;
  PfnRemoveCFG RemoveCFG;
  PfnFreeLockCFG FreeLockCFG;
  PfnMidiIn MidiIn;
  PfnSysSig SysSig;
};

class PluginTest : public ::testing::Test {
protected:
  testsupport::TempDir tmp_{"vokra_plugin"};
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty());
    m_dir = tmp_.path();
    fs::create_directories(m_dir / "VOKRA");
    // Nothing here may touch the user's own registry file.
    setenv("TORQA_REGISTRY", (m_dir / "registry.reg").c_str(), 1);
    WriteSoundSet();
    Load();
  }

  void TearDown() override { Unload(); }

  void WriteSoundSet() {
    const std::vector<int16_t> aSine = Sine(20 * kSinePeriod, kSinePeriod, 12000);
    WriteFile(m_dir / "VOKRA" / "sine.epc", EpcFile(aSine));
    // FPV: one more sample than the loop end; the loop starts one period in.
    const std::vector<int16_t> aFpv = Sine(20 * kSinePeriod + 1, kSinePeriod, 12000);
    WriteFile(m_dir / "VOKRA" / "sine.fpv", FpvFile(aFpv, kSinePeriod));
    std::string sCfg = "# test set\n1: sine.epc, T1\n2: sine.fpv, T2\n";
    const char *apszPatches[3] = {"000_Acoustic_Grand_Piano.pat", "073_Flute.pat",
                                  "016_Hammond_Organ.pat"};
    for (int i = 0; i < 3; ++i) {
      const fs::path src = fs::path(kFreepats) / apszPatches[i];
      if (!fs::exists(src))
        continue;
      fs::create_symlink(src, m_dir / "VOKRA" / apszPatches[i]);
      sCfg += std::to_string(3 + i) + ": " + apszPatches[i] + ", T" + std::to_string(3 + i) + "\n";
      m_bHavePatches = true;
    }
    std::ofstream(m_dir / "VOKRA" / "VOKRA.cfg") << sCfg;
  }

  void Load() {
    m_hLib = dlopen(VOKRA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(m_hLib, nullptr) << dlerror();
    void *apfn[13];
    for (int i = 0; i < 13; ++i) {
      apfn[i] = dlsym(m_hLib, kUnitEntryNames[i]);
      ASSERT_NE(apfn[i], nullptr) << kUnitEntryNames[i];
    }
    m_unit.GetType = reinterpret_cast<PfnGetType>(apfn[0]);
    m_unit.GetName = reinterpret_cast<PfnGetName>(apfn[1]);
    m_unit.GetVer = reinterpret_cast<PfnGetVer>(apfn[2]);
    m_unit.TestDLL = reinterpret_cast<PfnTestDLL>(apfn[3]);
    m_unit.Copyright = reinterpret_cast<PfnCopyright>(apfn[4]);
    m_unit.Make = reinterpret_cast<PfnMake>(apfn[5]);
    m_unit.SetRate = reinterpret_cast<PfnSetRate>(apfn[6]);
    m_unit.InitUNIT = reinterpret_cast<PfnInitUNIT>(apfn[7]);
    m_unit.LoadCFG = reinterpret_cast<PfnLoadCFG>(apfn[8]);
    m_unit.RemoveCFG = reinterpret_cast<PfnRemoveCFG>(apfn[9]);
    m_unit.FreeLockCFG = reinterpret_cast<PfnFreeLockCFG>(apfn[10]);
    m_unit.MidiIn = reinterpret_cast<PfnMidiIn>(apfn[11]);
    m_unit.SysSig = reinterpret_cast<PfnSysSig>(apfn[12]);
    // As the player binds a unit.
    char szName[64];
    m_unit.GetName(szName);
    m_unit.InitUNIT(nullptr, (m_dir.string() + "/").c_str());
  }

  void Unload() {
    if (m_hLib == nullptr)
      return;
    m_unit.FreeLockCFG();
    m_unit.RemoveCFG();
    dlclose(m_hLib);
    m_hLib = nullptr;
  }

  void Send(uint8_t s, uint8_t d1, uint8_t d2) {
    const uint8_t ab[5] = {3, 0, s, d1, d2};
    m_unit.MidiIn(ab, kSourcePlayer);
  }
  void Program(int c, int p) {
    const uint8_t ab[5] = {2, 0, static_cast<uint8_t>(0xC0 | c), static_cast<uint8_t>(p), 0};
    m_unit.MidiIn(ab, 0);
  }

  // Left samples of channel c and its voice counts, n samples.
  void Render(int c, int32_t n, std::vector<double> *pLeft, std::vector<int32_t> *pVoices) {
    for (int32_t i = 0; i < n; ++i) {
      int32_t an[kAccCount] = {};
      m_unit.Make(an);
      if (pLeft)
        pLeft->push_back(an[kAccLeft + c]);
      if (pVoices)
        pVoices->push_back(an[kAccVoices + c]);
    }
  }

  // Period of note n of program p held on channel 0, after a settling time.
  double HeldPeriod(int p, int n, int32_t nRate, double dGuess) {
    m_unit.SetRate(nRate);
    Program(0, p);
    Send(0x90, static_cast<uint8_t>(n), 100);
    Render(0, nRate / 5, nullptr, nullptr);
    std::vector<double> x;
    Render(0, 8192 + static_cast<int32_t>(66 * dGuess) + 16, &x, nullptr);
    Send(0xB0, 123, 0);
    return MeasurePeriod(x, dGuess);
  }

  fs::path m_dir;
  void *m_hLib = nullptr;
  UnitApi m_unit{};
  bool m_bHavePatches = false;
};

TEST_F(PluginTest, IdentifiesItselfAndIgnoresDialogCodesForNow) {
  EXPECT_EQ(m_unit.GetType(), 0x20000);
  EXPECT_EQ(m_unit.GetVer(), 111);
  EXPECT_EQ(m_unit.TestDLL(), 0);
  EXPECT_EQ(m_unit.GetName(nullptr), 21);
  char sz[22];
  EXPECT_EQ(m_unit.GetName(sz), 21);
  EXPECT_STREQ(sz, "VOKRA SOUND GENERATOR");
  m_unit.Copyright(nullptr);
  for (int32_t nCode : {1, 2, 3, 3, 0, 99})
    EXPECT_EQ(m_unit.SysSig(nullptr, nCode), 0);
  EXPECT_EQ(m_unit.SetRate(48000), 48000);
}

TEST_F(PluginTest, FirstAttachCreatesTheKeyWithItsMarkersAndDefaults) {
  RegKey *pKey = RegOpenKey(kStaticsKey);
  ASSERT_NE(pKey, nullptr);
  uint8_t ab[64];
  uint32_t nType = 0;
  uint32_t nSize = sizeof ab;
  ASSERT_TRUE(RegQueryValue(pKey, "", &nType, ab, &nSize));
  const uint8_t abMarker[] = {0x90, 0xC3, 0x93, 0x49, 0x95, 0xDB, 0x91, 0xB6}; // Shift-JIS
  EXPECT_EQ(nType, kRegSz);
  ASSERT_EQ(nSize, 8u);
  EXPECT_EQ(std::memcmp(ab, abMarker, 8), 0);
  const auto Dword = [&](const char *pszName) {
    uint32_t nDwordType = 0, nDwordSize = 4;
    uint8_t a[4] = {};
    EXPECT_TRUE(RegQueryValue(pKey, pszName, &nDwordType, a, &nDwordSize)) << pszName;
    EXPECT_EQ(nDwordType, kRegDword);
    return uint32_t(a[0]) | uint32_t(a[1]) << 8 | uint32_t(a[2]) << 16 | uint32_t(a[3]) << 24;
  };
  EXPECT_EQ(Dword("nUseCh"), 0xFFFFu);
  EXPECT_EQ(Dword("nFinalGain"), 127u);
  EXPECT_EQ(Dword("bOverSample"), 0u);
  nSize = sizeof ab;
  ASSERT_TRUE(RegQueryValue(pKey, "CFG", &nType, ab, &nSize));
  EXPECT_EQ(std::string(reinterpret_cast<char *>(ab), nSize), "VOKRA.cfg");
  RegCloseKey(pKey);

  pKey = RegOpenKey("Software\\QUIRN-PLUGIN\\VOKRAUNIT");
  ASSERT_NE(pKey, nullptr);
  nSize = sizeof ab;
  ASSERT_TRUE(RegQueryValue(pKey, "", &nType, ab, &nSize));
  EXPECT_EQ(std::string(reinterpret_cast<char *>(ab), nSize), "Powered by Velmar");
  RegCloseKey(pKey);
}

TEST_F(PluginTest, AttachReadsTheStoredSettings) {
  // Another name and channel 3 switched off; then the library is loaded again.
  RegKey *pKey = RegOpenKey(kStaticsKey);
  ASSERT_NE(pKey, nullptr);
  const uint8_t abMask[4] = {0xFB, 0xFF, 0, 0};
  RegSetValue(pKey, "nUseCh", kRegDword, abMask, 4);
  RegSetValue(pKey, "CFG", kRegSz, reinterpret_cast<const uint8_t *>("other.cfg"), 9);
  RegCloseKey(pKey);
  Unload();
  fs::copy_file(m_dir / "VOKRA" / "VOKRA.cfg", m_dir / "VOKRA" / "other.cfg");
  fs::remove(m_dir / "VOKRA" / "VOKRA.cfg");
  Load();
  ASSERT_EQ(m_unit.LoadCFG(), 1);
  Send(0x92, 60, 100);
  Send(0x91, 60, 100);
  int32_t an[kAccCount] = {};
  m_unit.Make(an);
  EXPECT_EQ(an[kAccVoices + 2], 0);
  EXPECT_EQ(an[kAccVoices + 1], 1);
  m_unit.RemoveCFG();
  fs::remove(m_dir / "VOKRA" / "other.cfg");
  EXPECT_EQ(m_unit.LoadCFG(), 0);
}

TEST_F(PluginTest, MakeWithoutVoicesAddsNothing) {
  ASSERT_EQ(m_unit.LoadCFG(), 1);
  int32_t an[kAccCount];
  for (int32_t &n : an)
    n = -3;
  for (int i = 0; i < 100; ++i)
    m_unit.Make(an);
  for (int32_t n : an)
    EXPECT_EQ(n, -3);
}

// The synthetic instruments sound at the pitch the semitone table gives.
TEST_F(PluginTest, HeldNotesOfEpcAndFpvSoundAtTheTablePitch) {
  ASSERT_EQ(m_unit.LoadCFG(), 1);
  for (int32_t nRate : {22050, 44100, 48000}) {
    for (int p : {0, 1}) {
      for (int n : {48, 60, 69, 79}) {
        const double dExpected = kSinePeriod * 272.0 / TableStep(n, nRate);
        const double dPeriod = HeldPeriod(p, n, nRate, dExpected);
        EXPECT_NEAR(Cents(dPeriod / dExpected), 0, 2)
            << "rate " << nRate << " program " << p << " note " << n;
      }
    }
  }
}

TEST_F(PluginTest, InterpolatedVoicesKeepThePitch) {
  RegKey *pKey = RegOpenKey(kStaticsKey);
  ASSERT_NE(pKey, nullptr);
  const uint8_t abOn[4] = {1, 0, 0, 0};
  RegSetValue(pKey, "bOverSample", kRegDword, abOn, 4);
  RegCloseKey(pKey);
  Unload();
  Load();
  ASSERT_EQ(m_unit.LoadCFG(), 1);
  for (int p : {0, 1}) {
    const double dExpected = kSinePeriod * 272.0 / TableStep(67, 44100);
    EXPECT_NEAR(Cents(HeldPeriod(p, 67, 44100, dExpected) / dExpected), 0, 2) << p;
  }
}

TEST_F(PluginTest, FreepatsPatchesKeepTheirIntervalsAndRootPitch) {
  if (!m_bHavePatches)
    GTEST_SKIP() << "freepats not installed";
  ASSERT_EQ(m_unit.LoadCFG(), 1);
  for (int p : {2, 3, 4}) {
    const double dExpected60 = kPatchCycle * 272.0 / TableStep(60, 44100);
    const double dExpected67 = kPatchCycle * 272.0 / TableStep(67, 44100);
    const double d60 = HeldPeriod(p, 60, 44100, dExpected60);
    const double d67 = HeldPeriod(p, 67, 44100, dExpected67);
    EXPECT_NEAR(Cents((d60 / d67) / (double(TableStep(67, 44100)) / TableStep(60, 44100))), 0, 2)
        << "program " << p;
    EXPECT_NEAR(Cents(d60 / dExpected60), 0, 10) << "program " << p;
  }
}

TEST_F(PluginTest, NoteOffEndsTheVoiceWhenTheReleaseRunsOut) {
  ASSERT_EQ(m_unit.LoadCFG(), 1);
  Program(0, 0);
  Send(0x90, 60, 100);
  Render(0, 22050, nullptr, nullptr); // at the floor level of 100
  Send(0x80, 60, 0);
  // Release: 3 levels every 20 envelope ticks from 100, the first at once:
  // 1 + 33 x 20 ticks at 272 x 2 + 512 ticks per second.
  const double dTicks = 1 + 33 * 20;
  const double dSamples = dTicks * 44100 / (272 * 2 + 512);
  std::vector<int32_t> aVoices;
  Render(0, 44100, nullptr, &aVoices);
  int32_t nEnd = 0;
  while (nEnd < static_cast<int32_t>(aVoices.size()) && aVoices[nEnd] == 1)
    ++nEnd;
  EXPECT_NEAR(nEnd, dSamples, 2 * 44100.0 / 1056);
  for (size_t i = nEnd; i < aVoices.size(); ++i)
    ASSERT_EQ(aVoices[i], 0);
}

} // namespace
} // namespace vokra_test
