// EPC, FPV and GUS patch files written from the format tables, loaded and
// checked field by field and sample by sample.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "loader_fixture.h"
#include "pat_reference.h"
#include "support/sample_writers.h"
#include "unit/soundset.h"

using namespace vokra;
using testsupport::Bytes;

namespace {

// Instrument used for direct parser tests; kept locked so pData stays readable.
Instrument &Fresh(int32_t nInst = 100) {
  Instrument &inst = aInstrument[nInst];
  inst.bLockOnUse = 0;
  return inst;
}

int32_t SampleAt(const Instrument &inst, int32_t nByte) {
  return int16_t(uint16_t(inst.pData[nByte] | inst.pData[nByte + 1] << 8));
}

bool SlackIsZero(const Instrument &inst) {
  for (int32_t i = 0; i < kBlockSlack; i++)
    if (inst.pData[inst.nDataSize + i] != 0)
      return false;
  return true;
}

int32_t ParseEpc(Instrument &inst, const Bytes &b) {
  return ParseEpcSample(inst, b.data(), b.size());
}
int32_t ParseFpv(Instrument &inst, const Bytes &b) {
  return ParseFpvSample(inst, b.data(), b.size());
}
int32_t ParsePat(Instrument &inst, const Bytes &b) {
  return ParsePatSample(inst, b.data(), b.size());
}

// Output samples emitted before source sample k is reached, from the exact
// ratio (the loader uses a single-precision accumulator: within one sample).
double OutputsBefore(double k, const testsupport::PatWave &w) {
  const double r = double(float(w.nSampleRate) / float(w.nRootFreq * 0.001));
  return std::ceil(k * 168.55865478515625 / r);
}

testsupport::PatWave Wave8(std::vector<uint8_t> data) {
  testsupport::PatWave w;
  w.data = std::move(data);
  return w;
}

} // namespace

class SampleFormatTest : public LoaderTest {};

TEST_F(SampleFormatTest, EpcHeaderAndDataAreTakenAsStored) {
  testsupport::EpcFields f;
  f.nTranspose = -5;
  f.nStart = 4;
  f.nLoopStart = 8;
  f.nEnd = 30;
  f.nAttackStep = 3;
  f.nDecayPeriod = 11;
  f.nDecay2Period = 12;
  f.nReleaseStep = 2;
  f.nDecayLevel = 90;
  f.nFloorLevel = 40;
  f.bLoop = 1;
  const std::vector<int16_t> samples = {0, 1, -1, 32767, -32768, 1234, -4321, 7,
                                        8, 9, 10, 11,    12,     13,   14,    15};
  Instrument &inst = Fresh();
  ASSERT_EQ(ParseEpc(inst, testsupport::MakeEpc(f, samples)), 1);
  EXPECT_EQ(inst.nType, kTypeEpc);
  EXPECT_EQ(inst.nDataSize, 32);
  EXPECT_EQ(inst.nTranspose, -5);
  EXPECT_EQ(inst.nStart, 4);
  EXPECT_EQ(inst.nLoopStart, 8);
  EXPECT_EQ(inst.nEnd, 30);
  EXPECT_EQ(inst.nAttackStep, 3);
  EXPECT_EQ(inst.nDecayPeriod, 11);
  EXPECT_EQ(inst.nDecay2Period, 12);
  EXPECT_EQ(inst.nReleaseStep, 2);
  EXPECT_EQ(inst.nDecayLevel, 90);
  EXPECT_EQ(inst.nFloorLevel, 40);
  EXPECT_EQ(inst.bLoop, 1);
  ASSERT_NE(inst.pData, nullptr);
  for (size_t i = 0; i < samples.size(); i++)
    EXPECT_EQ(SampleAt(inst, int32_t(i * 2)), samples[i]);
  EXPECT_TRUE(SlackIsZero(inst));

  // The data must end the file exactly.
  Bytes longer = testsupport::MakeEpc(f, samples);
  longer.push_back(0);
  EXPECT_EQ(ParseEpc(inst, longer), 0);
  EXPECT_EQ(inst.hData, nullptr);
  EXPECT_EQ(inst.pData, nullptr);
  Bytes shorter = testsupport::MakeEpc(f, samples);
  shorter.pop_back();
  EXPECT_EQ(ParseEpc(inst, shorter), 0);
  EXPECT_EQ(ParseEpc(inst, Bytes(longer.begin(), longer.begin() + 63)), 0);
  Bytes negative = testsupport::MakeEpc(f, samples);
  negative[7] = 0xff; // nDataSize < 0
  EXPECT_EQ(ParseEpc(inst, negative), 0);
  // A header with no data is a (silent) sample.
  EXPECT_EQ(ParseEpc(inst, testsupport::MakeEpc(f, {})), 1);
  EXPECT_EQ(inst.nDataSize, 0);
}

TEST_F(SampleFormatTest, Fpv16BitFieldsAndData) {
  testsupport::FpvFields f;
  f.nStart = 3;
  f.nEnd = 40;
  f.nLoopStart = 10;
  f.nTranspose = -12;
  f.nStartLevel = 5;
  f.nAttackRate = 60;
  f.nDecay1Rate = 50;
  f.nDecay1Depth = -3;
  f.nDecay2Rate = 40;
  f.nDecay2Depth = 20;
  f.nDecay3Rate = 30;
  f.nReleaseRate = 70;
  f.nPeakLevel = 0;
  f.nRateDivider = 11;
  const std::vector<int16_t> samples = Ramp(41, -20000, 999);
  Instrument &inst = Fresh();
  ASSERT_EQ(ParseFpv(inst, testsupport::MakeFpv(f, testsupport::Le16Bytes(samples))), 1);
  EXPECT_EQ(inst.nType, kTypeFpv);
  EXPECT_EQ(inst.nStart, 6);
  EXPECT_EQ(inst.nEnd, 78);
  EXPECT_EQ(inst.nDataSize, 82);
  EXPECT_EQ(inst.nLoopStart, 20);
  EXPECT_EQ(inst.nLoopLength, 60);
  EXPECT_EQ(inst.bLoop, 1);
  EXPECT_EQ(inst.nTranspose, -12);
  EXPECT_EQ(inst.nStartLevel, 5);
  EXPECT_EQ(inst.nAttackRate, 60);
  EXPECT_EQ(inst.nDecay1Rate, 50);
  EXPECT_EQ(inst.nDecay1Depth, -3);
  EXPECT_EQ(inst.nDecay2Rate, 40);
  EXPECT_EQ(inst.nDecay2Depth, 20);
  EXPECT_EQ(inst.nDecay3Rate, 30);
  EXPECT_EQ(inst.nReleaseRate, 70);
  EXPECT_EQ(inst.nPeakLevel, 127); // 0 reads as 127
  EXPECT_EQ(inst.nRateDivider, 0); // above 10 reads as 0
  for (size_t i = 0; i < samples.size(); i++)
    ASSERT_EQ(SampleAt(inst, int32_t(i * 2)), samples[i]);
  EXPECT_TRUE(SlackIsZero(inst)); // also when the file carries more bytes

  f.nPeakLevel = 99;
  f.nRateDivider = 10;
  // Short data: the rest of the block reads as zeros.
  ASSERT_EQ(ParseFpv(inst, testsupport::MakeFpv(f, testsupport::Le16Bytes(Ramp(5, 1000, 1)))), 1);
  EXPECT_EQ(inst.nPeakLevel, 99);
  EXPECT_EQ(inst.nRateDivider, 10);
  EXPECT_EQ(SampleAt(inst, 8), 1004);
  for (int32_t o = 10; o < inst.nDataSize; o += 2)
    ASSERT_EQ(SampleAt(inst, o), 0);
}

TEST_F(SampleFormatTest, Fpv8BitWidensIntoHighBytes) {
  testsupport::FpvFields f;
  f.b8Bit = true;
  f.nEnd = 3;
  Instrument &inst = Fresh();
  ASSERT_EQ(ParseFpv(inst, testsupport::MakeFpv(f, {0x10, 0x80, 0xff, 0x7f, 0x55})), 1);
  EXPECT_EQ(inst.nDataSize, 8);
  EXPECT_EQ(inst.nEnd, 4);
  EXPECT_EQ(SampleAt(inst, 0), 0x1000);
  EXPECT_EQ(SampleAt(inst, 2), -32768);
  EXPECT_EQ(SampleAt(inst, 4), -256);
  EXPECT_EQ(SampleAt(inst, 6), 0); // past nEnd: nothing widened there
  EXPECT_TRUE(SlackIsZero(inst));

  // The largest header with almost no data stays inside its block.
  f.nEnd = 65535;
  f.nStart = 65535;
  f.nLoopStart = 65535;
  ASSERT_EQ(ParseFpv(inst, testsupport::MakeFpv(f, {0x7f})), 1);
  EXPECT_EQ(inst.nDataSize, 131072);
  EXPECT_EQ(SampleAt(inst, 0), 0x7f00);
  EXPECT_EQ(SampleAt(inst, inst.nEnd), 0);
  EXPECT_EQ(inst.bLoop, 0);
  // No header at all: an empty 16-bit sample of one word.
  ASSERT_EQ(ParseFpv(inst, {}), 1);
  EXPECT_EQ(inst.nDataSize, 2);
  EXPECT_EQ(inst.nEnd, -2);
}

TEST_F(SampleFormatTest, FpvLoopNeedsTenBytesOfMargin) {
  testsupport::FpvFields f;
  f.nEnd = 100; // nEnd 198
  Instrument &inst = Fresh();
  const Bytes data(202, 0);
  struct {
    uint16_t nStart, nLoopStart;
    int32_t bLoop;
  } cases[] = {{0, 5, 0}, {0, 6, 1}, {0, 93, 1}, {0, 94, 0}, {20, 25, 0}, {20, 26, 1}, {0, 0, 0}};
  for (auto c : cases) {
    f.nStart = c.nStart;
    f.nLoopStart = c.nLoopStart;
    ASSERT_EQ(ParseFpv(inst, testsupport::MakeFpv(f, data)), 1);
    EXPECT_EQ(inst.bLoop, c.bLoop) << "start " << c.nStart << " loop " << c.nLoopStart;
  }
}

TEST_F(SampleFormatTest, PatchUsesTheMiddleWaveform) {
  for (int nWaves : {1, 2, 5, 6}) {
    std::vector<testsupport::PatWave> waves;
    for (int i = 0; i < nWaves; i++)
      waves.push_back(Wave8(std::vector<uint8_t>(size_t(50 + 10 * i), uint8_t(10 * (i + 1)))));
    Instrument &inst = Fresh();
    ASSERT_EQ(ParsePat(inst, testsupport::MakePat(waves)), 1) << nWaves;
    const int nChosen = nWaves / 2;
    EXPECT_EQ(inst.nType, kTypePat);
    EXPECT_EQ(inst.nDataSize, 2 * (50 + 10 * nChosen)) << nWaves; // ratio just under 1
    for (int32_t o = 0; o < inst.nDataSize; o += 2)
      ASSERT_EQ(SampleAt(inst, o), 10 * (nChosen + 1) * 256) << nWaves;
    EXPECT_TRUE(SlackIsZero(inst));
  }
}

TEST_F(SampleFormatTest, PatchSampleConversions) {
  Instrument &inst = Fresh();
  // 8-bit signed, 8-bit unsigned, 16-bit signed, 16-bit unsigned.
  testsupport::PatWave w = Wave8({0x00, 0x7f, 0x80, 0xff});
  ASSERT_EQ(ParsePat(inst, testsupport::MakePat({w})), 1);
  EXPECT_EQ(SampleAt(inst, 0), 0);
  EXPECT_EQ(SampleAt(inst, 2), 32512);
  EXPECT_EQ(SampleAt(inst, 4), -32768);
  EXPECT_EQ(SampleAt(inst, 6), -256);
  w.nMode = 2;
  ASSERT_EQ(ParsePat(inst, testsupport::MakePat({w})), 1);
  EXPECT_EQ(SampleAt(inst, 0), -32768);
  EXPECT_EQ(SampleAt(inst, 2), -256);
  EXPECT_EQ(SampleAt(inst, 4), 0);
  EXPECT_EQ(SampleAt(inst, 6), 32512);
  w.data = testsupport::Le16Bytes({1000, -1000, 32767, -32768});
  w.nMode = 1;
  ASSERT_EQ(ParsePat(inst, testsupport::MakePat({w})), 1);
  EXPECT_EQ(inst.nDataSize, 8);
  EXPECT_EQ(SampleAt(inst, 0), 1000);
  EXPECT_EQ(SampleAt(inst, 2), -1000);
  EXPECT_EQ(SampleAt(inst, 4), 32767);
  EXPECT_EQ(SampleAt(inst, 6), -32768);
  w.nMode = 3;
  ASSERT_EQ(ParsePat(inst, testsupport::MakePat({w})), 1);
  EXPECT_EQ(SampleAt(inst, 0), 1000 - 32768);
  EXPECT_EQ(SampleAt(inst, 2), 31768); // 0xfc18 - 0x8000
  EXPECT_EQ(SampleAt(inst, 4), -1);
  EXPECT_EQ(SampleAt(inst, 6), 0);
  // An odd 16-bit size: the last sample's missing high byte reads as 0.
  w.data = {0x34, 0x12, 0x78};
  ASSERT_EQ(ParsePat(inst, testsupport::MakePat({w})), 1);
  EXPECT_EQ(inst.nDataSize, 4);
  EXPECT_EQ(SampleAt(inst, 2), int16_t(0x0078 - 0x8000));
}

// Random waves of both widths and signs, loop points anywhere (odd, equal,
// at either end) and ratios both sides of one output cycle, near it too:
// the same bytes and loop points as the plain loop.
TEST_F(SampleFormatTest, PatchConversionMatchesThePlainLoop) {
  std::mt19937 rng(7);
  const auto Uniform = [&](uint32_t a, uint32_t b) {
    return std::uniform_int_distribution<uint32_t>(a, b)(rng);
  };
  Instrument &inst = Fresh();
  for (int32_t nCase = 0; nCase < 640; nCase++) {
    // The last few: a handful of source samples, each held for thousands
    // of outputs, over several of the loader's chunks. Before them, waves
    // the loader reads in several stretches, loop points at their seams.
    const bool bSlow = nCase >= 600;
    const bool bLong = nCase >= 570 && !bSlow;
    testsupport::PatWave w;
    w.data.resize(bSlow ? Uniform(1, 8) : bLong ? Uniform(65530, 200000) : Uniform(1, 3000));
    for (uint8_t &b : w.data)
      b = uint8_t(Uniform(0, 255));
    const uint32_t nSize = uint32_t(w.data.size());
    const auto LoopPoint = [&] {
      switch (Uniform(0, 4)) {
      case 0:
        return 0u;
      case 1:
        return nSize;
      default:
        return Uniform(0, nSize);
      }
    };
    w.nLoopStart = LoopPoint();
    w.nLoopEnd = Uniform(0, 3) == 0 ? w.nLoopStart : LoopPoint();
    if (bLong && nCase % 2 == 0) // next to the first seam, 64 KiB in
      w.nLoopStart = Uniform(65534, 65538);
    w.nMode = uint8_t(Uniform(0, 7));
    w.nSampleRate = uint16_t(Uniform(4000, 48000));
    if (bSlow)
      w.nRootFreq = Uniform(100000000, 4000000000);
    else if (nCase % 3 == 0) // about one cycle per output sample
      w.nRootFreq = uint32_t(w.nSampleRate / 168.55865478515625 * 1000) + Uniform(0, 4) - 2;
    else
      w.nRootFreq = Uniform(20000, 4000000);
    const Bytes b = testsupport::MakePat({w});
    testsupport::PatReference ref;
    ASSERT_TRUE(testsupport::ConvertPatReference(b.data(), b.size(), ref));
    SCOPED_TRACE(testing::Message() << "case " << nCase << ", " << nSize << " bytes, rate "
                                    << w.nSampleRate << ", root " << w.nRootFreq);
    ASSERT_EQ(ParsePat(inst, b), 1);
    ASSERT_EQ(inst.nDataSize, int32_t(ref.data.size()));
    ASSERT_EQ(std::memcmp(inst.pData, ref.data.data(), ref.data.size()), 0);
    EXPECT_EQ(inst.nLoopStart, ref.nLoopStart);
    EXPECT_EQ(inst.nEnd, ref.nEnd);
    EXPECT_TRUE(SlackIsZero(inst));
  }
}

TEST_F(SampleFormatTest, PatchEnvelopeAndLoopPoints) {
  testsupport::PatWave w = Wave8(std::vector<uint8_t>(400, 1));
  w.nSampleRate = 22050; // about two output samples per source sample
  w.nLoopStart = 100;
  w.nLoopEnd = 300;
  w.nMode = 4;
  w.abRate[0] = 0x7f; // 63 << 1
  w.abRate[1] = 0xc5; // 5 << 3
  w.abRate[2] = 0x3f; // 63
  w.abOffset[1] = 200;
  w.abOffset[2] = 21;
  Instrument &inst = Fresh();
  ASSERT_EQ(ParsePat(inst, testsupport::MakePat({w})), 1);
  EXPECT_EQ(inst.nTranspose, 0);
  EXPECT_EQ(inst.nStart, 0);
  EXPECT_EQ(inst.bLoop, 1);
  EXPECT_EQ(inst.nAttackStep, 63);
  EXPECT_EQ(inst.nDecayPeriod, 29);
  EXPECT_EQ(inst.nDecay2Period, 27);
  EXPECT_EQ(inst.nDecayLevel, 100);
  EXPECT_EQ(inst.nFloorLevel, 10);
  EXPECT_EQ(inst.nReleaseStep, 3);
  EXPECT_NEAR(inst.nDataSize, 2 * OutputsBefore(400, w), 2);
  EXPECT_NEAR(inst.nLoopStart, 2 * OutputsBefore(100, w), 2);
  EXPECT_NEAR(inst.nEnd, 2 * OutputsBefore(300, w), 2);
  EXPECT_EQ(SampleAt(inst, inst.nDataSize - 2), 256);

  // Loaded again without a loop, the old loop points do not linger.
  testsupport::PatWave plain = Wave8(std::vector<uint8_t>(40, 2));
  ASSERT_EQ(ParsePat(inst, testsupport::MakePat({plain})), 1);
  EXPECT_EQ(inst.bLoop, 0);
  EXPECT_EQ(inst.nLoopStart, 0);
  EXPECT_EQ(inst.nEnd, inst.nDataSize);

  // A loop end before the loop start: nEnd moves up to the loop start.
  w.nLoopStart = 300;
  w.nLoopEnd = 100;
  ASSERT_EQ(ParsePat(inst, testsupport::MakePat({w})), 1);
  EXPECT_EQ(inst.nEnd, inst.nLoopStart);
}

namespace {

// The data a patch converts to, and the fields read with it.
struct Converted {
  Bytes data;
  int32_t nLoopStart, nEnd, bLoop;
  bool operator==(const Converted &) const = default;
};
Converted Convert(const Bytes &patch) {
  Instrument &inst = Fresh();
  EXPECT_EQ(ParsePat(inst, patch), 1);
  if (inst.pData == nullptr)
    return {};
  return {Bytes(inst.pData, inst.pData + inst.nDataSize), inst.nLoopStart, inst.nEnd, inst.bLoop};
}

} // namespace

TEST_F(SampleFormatTest, CutPatchesLoadWithZerosForWhatIsMissing) {
  testsupport::PatWave w = Wave8(std::vector<uint8_t>(64, 3));
  w.nMode = 4; // looping
  testsupport::PatWave other = Wave8(std::vector<uint8_t>(40, 9));

  // Wave count 0: half of it picks the first wave.
  Bytes b = testsupport::MakePat({w, other, other});
  b[85] = 0;
  EXPECT_EQ(Convert(b), Convert(testsupport::MakePat({w})));

  // Wave data cut short: as if zeros followed, for 8- and 16-bit waves.
  for (const uint8_t nMode : {uint8_t{4}, uint8_t{5}}) {
    testsupport::PatWave full = w, cut = w;
    full.nMode = cut.nMode = nMode;
    full.data.resize(100, 0);
    cut.nWaveSizeField = 100;
    EXPECT_EQ(Convert(testsupport::MakePat({cut})), Convert(testsupport::MakePat({full})));
  }

  // Loop points outside the wave are never met: the end is the data's end.
  testsupport::PatWave bad = w;
  bad.nLoopStart = 65;
  bad.nLoopEnd = 0xffffffff;
  const Converted outside = Convert(testsupport::MakePat({bad}));
  EXPECT_EQ(outside.nLoopStart, 0);
  EXPECT_EQ(outside.nEnd, int32_t(outside.data.size()));

  // The chosen wave's header cut after its size: the size's worth of zeros.
  b = testsupport::MakePat({w, w, w});
  const Converted zeros = Convert(Bytes(b.begin(), b.begin() + 239 + 96 + 64 + 50));
  EXPECT_EQ(zeros.data, Bytes(2 * 64, 0));
  // Headers cut before the size, or a negative size: an empty sample, which
  // still loads.
  for (const long nCut : {238L, 0L})
    EXPECT_EQ(Convert(Bytes(b.begin(), b.begin() + nCut)).data.size(), 0u) << nCut;
  bad = w;
  bad.nWaveSizeField = 0x80000000;
  EXPECT_EQ(Convert(testsupport::MakePat({bad})).data.size(), 0u);
}

TEST_F(SampleFormatTest, PatchesThatNeverFinishConvertingFail) {
  Instrument &inst = Fresh();
  const testsupport::PatWave w = Wave8(std::vector<uint8_t>(64, 3));
  std::vector<Bytes> broken;
  testsupport::PatWave bad = w;
  bad.nSampleRate = 0;
  broken.push_back(testsupport::MakePat({bad}));
  bad = w;
  bad.nRootFreq = 0;
  broken.push_back(testsupport::MakePat({bad}));
  bad = w;
  bad.nSampleRate = 1; // 64 bytes would become about 2.8 GB
  bad.nRootFreq = 4000000000u;
  broken.push_back(testsupport::MakePat({bad}));
  for (size_t i = 0; i < broken.size(); i++) {
    EXPECT_EQ(ParsePat(inst, broken[i]), 0) << "case " << i;
    EXPECT_EQ(inst.hData, nullptr);
    EXPECT_EQ(inst.pData, nullptr);
    EXPECT_EQ(inst.nType, kTypePat);
  }
}

TEST_F(SampleFormatTest, AllFormatsThroughTheConfiguration) {
  testsupport::EpcFields ef;
  WriteSample("a.EPC", testsupport::MakeEpc(ef, Ramp(8)));
  Bytes longEpc = testsupport::MakeEpc(ef, Ramp(8));
  longEpc.push_back(0);
  WriteSample("long.epc", longEpc);
  testsupport::FpvFields ff;
  ff.nEnd = 7;
  WriteSample("sub/b.Fpv", testsupport::MakeFpv(ff, testsupport::Le16Bytes(Ramp(8))));
  WriteSample("c.PAT", testsupport::MakePat({Wave8({1, 2, 3, 4})}));
  ASSERT_EQ(LoadConfig("1: a.EPC, T1\n2: sub\\b.Fpv, T2\n3: c.PAT, P35\n4: long.epc, T4\n"), 1);
  EXPECT_EQ(list.loaded,
            (std::vector<std::string>{SetPath("a.EPC"), SetPath("sub/b.Fpv"), SetPath("c.PAT")}));
  EXPECT_EQ(list.failed, (std::vector<std::string>{SetPath("long.epc")}));
  EXPECT_EQ(aInstrument[0].nType, kTypeEpc);
  EXPECT_EQ(aInstrument[1].nType, kTypeFpv);
  EXPECT_EQ(aInstrument[2].nType, kTypePat);
  EXPECT_NE(aInstrument[2].pData, nullptr); // rhythm: stays locked
  EXPECT_EQ(aInstrument[1].pData, nullptr);
  EXPECT_EQ(aInstrument[3].hData, nullptr);
}
