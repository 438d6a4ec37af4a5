// Patches converted into the unit's EPC form: pitch against the unit's note
// table, loop seams, envelope release, drum key shifts, damaged patches.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/sample_writers.h"
#include "support/temp_dir.h"
#include "tools/soundset/patch_convert.h"
#include "tools/soundset/timidity_cfg.h"

namespace {

using testsupport::Sine;

// A one-wave 16-bit GUS patch holding aSamples, written from the format's
// field offsets.
std::vector<uint8_t> MakePatch(const std::vector<int16_t> &aSamples, int32_t nRate, double dRootHz,
                               int32_t nLoopStart, int32_t nLoopEnd, int32_t nModes,
                               int32_t nScaleFactor = 1024, uint8_t bReleaseRate = 63) {
  std::vector<uint8_t> a(239 + 96 + 2 * aSamples.size(), 0);
  auto put = [&a](size_t o, uint32_t v, int n) {
    for (int i = 0; i < n; ++i)
      a[o + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  a[85] = 1;
  const size_t h = 239;
  put(h + 8, static_cast<uint32_t>(2 * aSamples.size()), 4);
  put(h + 12, static_cast<uint32_t>(2 * nLoopStart), 4);
  put(h + 16, static_cast<uint32_t>(2 * nLoopEnd), 4);
  put(h + 20, static_cast<uint32_t>(nRate), 2);
  put(h + 30, static_cast<uint32_t>(std::lround(dRootHz * 1000)), 4);
  const uint8_t abRates[6] = {63, 63, 63, bReleaseRate, 63, 63};
  const uint8_t abOffsets[6] = {255, 255, 255, 0, 0, 0};
  for (int i = 0; i < 6; ++i) {
    a[h + 37 + i] = abRates[i];
    a[h + 43 + i] = abOffsets[i];
  }
  a[h + 55] = static_cast<uint8_t>(nModes | 1);
  put(h + 58, static_cast<uint32_t>(nScaleFactor), 2);
  for (size_t i = 0; i < aSamples.size(); ++i)
    put(h + 96 + 2 * i, static_cast<uint16_t>(aSamples[i]), 2);
  return a;
}

// Cycles per sample, from the first and last rising zero crossings.
double MeasuredCycles(const std::vector<int16_t> &a, size_t nFrom, size_t nTo) {
  double dFirst = -1, dLast = -1;
  int32_t nCrossings = 0;
  for (size_t i = nFrom; i + 1 < nTo; ++i)
    if (a[i] < 0 && a[i + 1] >= 0) {
      double d = i + static_cast<double>(-a[i]) / (a[i + 1] - a[i]);
      if (dFirst < 0)
        dFirst = d;
      dLast = d;
      ++nCrossings;
    }
  return (nCrossings - 1) / (dLast - dFirst);
}

// The unit's note table as its documentation gives it: increments of notes
// 108-119, shifted per octave, scaled from 11025 Hz to 44100 Hz.
const int32_t kTable[12] = {17416, 18432, 19576, 20684, 21968, 23096,
                            24822, 25892, 27444, 29276, 31132, 32768};
int32_t Step44100(int32_t n) {
  int32_t o = n / 12;
  int64_t v = o <= 9 ? kTable[n % 12] >> (9 - o) : int64_t{kTable[n % 12]} << (o - 9);
  return static_cast<int32_t>(v * 11025 / 44100);
}

} // namespace

// A sine 30 cents above A4, converted for an instrument played from C3 up:
// at note 69 the unit's step makes it sound the note table's A4 (middle C,
// 44100 / 168.55865478515625 Hz, times 29276 / 17416) within a cent.
TEST(PatchConvert, PitchLandsOnTheNoteTable) {
  const double dRootHz = 440.0 * std::exp2(0.3 / 12);
  std::vector<uint8_t> a = MakePatch(Sine(dRootHz / 32000, 32000), 32000, dRootHz, 0, 0, 0);
  PatchWave w;
  ASSERT_EQ(ParsePatch(a.data(), a.size(), &w), 1);
  Conversion c;
  ASSERT_EQ(ConvertMelodic(w, 48, &c), 1);
  const double dCycles = MeasuredCycles(c.epc.aData, 1000, c.epc.aData.size() - 1000);
  const double dHeard = dCycles * Step44100(69 + c.epc.nTranspose) / 272.0 * 44100.0;
  const double dTable = 44100.0 / 168.55865478515625 * 29276.0 / 17416.0;
  EXPECT_NEAR(1200 * std::log2(dHeard / dTable), 0.0, 1.0);
  // The lowest usual note steps one stored sample per output sample.
  EXPECT_EQ(Step44100(48 + c.epc.nTranspose), 272);
}

// A loop of one 10-sample cycle (as in the freepats ocarina) becomes a loop of
// whole cycles whose seam steps no further than the wave does elsewhere.
TEST(PatchConvert, LoopSeamIsSmooth) {
  std::vector<uint8_t> a = MakePatch(Sine(0.1, 400), 44100, 4410, 300, 310, 4);
  PatchWave w;
  ASSERT_EQ(ParsePatch(a.data(), a.size(), &w), 1);
  Conversion c;
  ASSERT_EQ(ConvertMelodic(w, 60, &c), 1);
  const EpcImage &e = c.epc;
  ASSERT_EQ(e.bLoop, 1);
  ASSERT_EQ(e.nEnd, static_cast<int32_t>(2 * (e.aData.size() - 1)));
  const size_t nStart = static_cast<size_t>(e.nLoopStart / 2), nEnd = e.aData.size() - 1;
  int32_t nLargest = 0;
  for (size_t i = nStart; i < nEnd; ++i)
    nLargest = std::max(nLargest, std::abs(e.aData[i + 1] - e.aData[i]));
  EXPECT_LE(std::abs(e.aData[nStart] - e.aData[nEnd]), nLargest + 2);
  // Whole cycles: the loop's length times the frequency is an integer.
  const double dCycles = MeasuredCycles(e.aData, nStart, nEnd + 1) * (nEnd + 1 - nStart);
  EXPECT_NEAR(dCycles, std::round(dCycles), 0.02);
}

// A faster release rate in the patch gives a larger release step.
TEST(PatchConvert, ReleaseFollowsThePatch) {
  std::vector<int16_t> s = Sine(0.01, 4000);
  int32_t anStep[2];
  const uint8_t abRate[2] = {0x80 | 10, 0x40 | 40}; // slow, then eight times four faster
  for (int i = 0; i < 2; ++i) {
    std::vector<uint8_t> a = MakePatch(s, 44100, 441, 1000, 3000, 4 | 32 | 64, 1024, abRate[i]);
    PatchWave w;
    Conversion c;
    ASSERT_EQ(ParsePatch(a.data(), a.size(), &w), 1);
    ASSERT_EQ(ConvertMelodic(w, 48, &c), 1);
    anStep[i] = c.epc.nReleaseStep;
  }
  EXPECT_GT(anStep[1], anStep[0]);
}

// A patch cut short or announcing more data than it holds is refused.
TEST(PatchConvert, RefusesDamagedPatches) {
  std::vector<uint8_t> a = MakePatch(Sine(0.01, 100), 44100, 441, 0, 0, 0);
  PatchWave w;
  EXPECT_EQ(ParsePatch(a.data(), a.size() - 1, &w), 0);
  EXPECT_EQ(ParsePatch(a.data(), 300, &w), 0);
  a[85] = 9; // waveforms beyond the file
  EXPECT_EQ(ParsePatch(a.data(), a.size(), &w), 0);
}

// Rebuilding a set while a player has its samples mapped: the mapping keeps
// the old bytes (a file truncated in place would fault on the next read).
TEST(PatchConvert, ReplacedFileLeavesItsMappingWhole) {
  testsupport::TempDir tmp("torqa-replace");
  const std::string sPath = (tmp / "bank000-000.epc").string();
  const std::vector<uint8_t> aOld(10000, 0x5A);
  ASSERT_TRUE(ReplaceFile(sPath, aOld.data(), aOld.size()));
  const int fd = open(sPath.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  void *p = mmap(nullptr, aOld.size(), PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  ASSERT_NE(p, MAP_FAILED);
  ASSERT_TRUE(ReplaceFile(sPath, "new", 3));
  EXPECT_EQ(static_cast<const uint8_t *>(p)[aOld.size() - 1], 0x5A);
  EXPECT_EQ(std::filesystem::file_size(sPath), 3u);
  munmap(p, aOld.size());
}

// A drum sounds at its key's pitch: K = key - 60; with scale factor 0 at its
// recorded pitch: K = root - 60.
TEST(TimidityReader, DrumKeyShiftFollowsKeyOrRecordedPitch) {
  testsupport::TempDir tmp("torqa-drums");
  ASSERT_FALSE(tmp.path().empty());
  const std::filesystem::path &dir = tmp.path();
  auto write = [&](const char *pszName, const std::vector<uint8_t> &a) {
    std::ofstream(dir / pszName, std::ios::binary)
        .write(reinterpret_cast<const char *>(a.data()), static_cast<std::streamsize>(a.size()));
  };
  write("a.pat", MakePatch(Sine(0.01, 100), 44100, 440, 0, 0, 0, 1024));
  write("b.pat", MakePatch(Sine(0.01, 100), 44100, 440, 0, 0, 0, 0));
  TimidityReader r;
  r.AddLink("s", dir.string());
  r.ParseText("dir " + dir.string() + "\ndrumset 0\n38 a.pat\n40 b.pat\n", "text", dir.string());
  std::filesystem::remove_all(dir);
  ASSERT_EQ(r.aPatches.size(), 2u);
  EXPECT_EQ(r.aPatches[0].nKeyShift, 38 - 60);
  EXPECT_EQ(r.aPatches[1].nKeyShift, 69 - 60);
}
