// Every GUS patch of Debian's freepats (files nobody here wrote) loads
// through one configuration; sizes and loop points are checked against
// figures computed here from each file's own header.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "loader_fixture.h"
#include "pat_reference.h"
#include "support/sample_writers.h"
#include "unit/byte_source.h"
#include "unit/sample_loaders.h"
#include "unit/soundset.h"

using namespace vokra;

namespace {

const char *const kFreepatsDir = "/usr/share/midi/freepats";

std::vector<std::string> FreepatsFiles() { // relative to kFreepatsDir, sorted
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(kFreepatsDir, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().extension() == ".pat")
      files.push_back(std::filesystem::relative(it->path(), kFreepatsDir).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

uint32_t Le(const testsupport::Bytes &b, size_t o, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; i--)
    v = v << 8 | b[o + size_t(i)];
  return v;
}

// What a GF1 patch's middle waveform should become at 44100 Hz output with
// its root frequency at middle C: samples out = samples in x R / r.
struct Expected {
  double fOutSamples;
  double fLoopStartOut; // output samples before the loop start, 0 when it is never met
  double fLoopEndOut;
  int16_t nFirstSample;
  bool bLoop;
};

Expected ExpectFromHeader(const testsupport::Bytes &b) {
  const uint32_t nWaves = b[85];
  size_t o = 239;
  for (uint32_t k = 0; k < nWaves / 2; k++)
    o += 96 + Le(b, o + 8, 4);
  const uint32_t nSize = Le(b, o + 8, 4);
  const double fRate = Le(b, o + 20, 2);
  const double fRootHz = Le(b, o + 30, 4) / 1000.0;
  const uint8_t nMode = b[o + 55];
  const bool b16 = nMode & 1;
  const double fSrcSamples = std::ceil(double(nSize) / (b16 ? 2 : 1));
  const double fCycle = 44100.0 / 261.63; // middle C (as 261.63 Hz) at 44100 Hz
  const double fRatio = fCycle / (fRate / fRootHz);
  const uint32_t nLoopStart = Le(b, o + 12, 4);
  const uint32_t nLoopEnd = Le(b, o + 16, 4);
  const uint32_t p = b16 ? 2 : 1;
  Expected e;
  e.fOutSamples = std::ceil(fSrcSamples * fRatio);
  e.fLoopStartOut = nLoopStart % p == 0 ? std::ceil(nLoopStart / p * fRatio) : 0;
  e.fLoopEndOut = nLoopEnd % p == 0 ? std::ceil(nLoopEnd / p * fRatio) : 0;
  int32_t v = b16 ? int32_t(Le(b, o + 96, 2)) : int32_t(b[o + 96]) * 256;
  if (nMode & 2)
    v -= 0x8000;
  e.nFirstSample = int16_t(uint16_t(v));
  e.bLoop = nMode & 4;
  return e;
}

} // namespace

class FreepatsTest : public LoaderTest {};

TEST_F(FreepatsTest, EveryPatchLoadsWithItsOwnRatio) {
  const std::vector<std::string> files = FreepatsFiles();
  if (files.empty())
    GTEST_SKIP() << "freepats is not installed";
  ASSERT_LE(files.size(), size_t(kInstruments));
  ASSERT_EQ(symlink(kFreepatsDir, SetPath("freepats").c_str()), 0);
  std::string cfg = "# every freepats patch, no options\n";
  for (size_t i = 0; i < files.size(); i++)
    cfg += std::to_string(i + 1) + ": freepats/" + files[i] + "\n";

  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(LoadConfig(cfg), 1);
  const double fMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::cout << "[ measure  ] loading " << files.size() << " freepats patches took " << fMs
            << " ms\n";
  RecordProperty("freepats_load_ms", std::to_string(int(fMs)));

  EXPECT_EQ(list.loaded.size(), files.size());
  EXPECT_TRUE(list.failed.empty());
  for (size_t i = 0; i < files.size(); i++) {
    SCOPED_TRACE(files[i]);
    testsupport::Bytes bytes;
    ASSERT_TRUE(testsupport::ReadFileBytes(std::string(kFreepatsDir) + "/" + files[i], bytes));
    const Expected e = ExpectFromHeader(bytes);
    const Instrument &inst = aInstrument[i];
    EXPECT_EQ(inst.nType, kTypePat);
    EXPECT_NE(inst.hData, nullptr);
    EXPECT_LE(0, inst.nLoopStart);
    EXPECT_LE(inst.nLoopStart, inst.nEnd);
    EXPECT_LE(inst.nEnd, inst.nDataSize);
    EXPECT_EQ(inst.bLoop, e.bLoop ? 1 : 0);
    EXPECT_NEAR(inst.nDataSize / 2, e.fOutSamples, 1.0);
    EXPECT_NEAR(inst.nLoopStart / 2, e.fLoopStartOut, 1.0);
    if (e.fLoopEndOut == 0) // never met: the end of the data
      EXPECT_EQ(inst.nEnd, inst.nDataSize);
    else if (e.fLoopEndOut < e.fLoopStartOut)
      EXPECT_EQ(inst.nEnd, inst.nLoopStart);
    else
      EXPECT_NEAR(inst.nEnd / 2, e.fLoopEndOut, 1.0);
    ASSERT_EQ(LockInstrument(int32_t(i)), 1);
    EXPECT_EQ(int16_t(uint16_t(inst.pData[0] | inst.pData[1] << 8)), e.nFirstSample);
    // The size the loader expects from the headers alone.
    MemorySource src(bytes.data(), bytes.size());
    EXPECT_NEAR(double(PatSampleBytes(src)), double(inst.nDataSize), 4.0);
    // And exactly what the plain loop makes.
    testsupport::PatReference ref;
    ASSERT_TRUE(testsupport::ConvertPatReference(bytes.data(), bytes.size(), ref));
    ASSERT_EQ(inst.nDataSize, int32_t(ref.data.size()));
    EXPECT_EQ(std::memcmp(inst.pData, ref.data.data(), ref.data.size()), 0);
    EXPECT_EQ(inst.nLoopStart, ref.nLoopStart);
    EXPECT_EQ(inst.nEnd, ref.nEnd);
  }
}
