// Random corruptions (fixed seeds) of test-written and real sample files and
// of configuration text: every load either succeeds with a consistent record
// or fails with no data. Run under ASan+UBSan to catch stray accesses.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "loader_fixture.h"
#include "support/sample_writers.h"
#include "unit/soundset.h"

using namespace vokra;
using testsupport::Bytes;

namespace {

using Parser = int32_t (*)(Instrument &, const uint8_t *, size_t);

Bytes Corrupt(const Bytes &base, std::mt19937 &rng) {
  Bytes b = base;
  auto pick = [&](size_t n) { return n == 0 ? size_t(0) : size_t(rng() % n); };
  switch (rng() % 5) {
  case 0: // a few random bytes
    for (int i = 1 + int(rng() % 8); i > 0 && !b.empty(); i--)
      b[pick(b.size())] = uint8_t(rng());
    break;
  case 1: // a random 32-bit value somewhere in the first 512 bytes
    if (b.size() >= 4) {
      size_t o = pick(std::min<size_t>(b.size() - 3, 512));
      uint32_t v = rng();
      for (int i = 0; i < 4; i++)
        b[o + size_t(i)] = uint8_t(v >> (8 * i));
    }
    break;
  case 2: // cut short
    b.resize(pick(b.size() + 1));
    break;
  case 3: // grown with noise
    for (int i = int(rng() % 300); i > 0; i--)
      b.push_back(uint8_t(rng()));
    break;
  default: // header byte set to an extreme
    if (!b.empty())
      b[pick(std::min<size_t>(b.size(), 256))] = (rng() & 1) ? 0xff : 0x00;
    break;
  }
  return b;
}

void CheckOutcome(const Instrument &inst, int32_t bLoaded, int32_t nType) {
  ASSERT_EQ(inst.nType, nType);
  if (!bLoaded) {
    ASSERT_EQ(inst.hData, nullptr);
    ASSERT_EQ(inst.pData, nullptr);
    return;
  }
  ASSERT_NE(inst.pData, nullptr);
  ASSERT_GE(inst.nDataSize, 0);
  // Touch the whole block, slack included: ASan checks it is all there.
  uint32_t nSum = 0;
  for (int32_t i = 0; i < inst.nDataSize; i++)
    nSum += inst.pData[i];
  for (int32_t i = 0; i < kBlockSlack; i++)
    ASSERT_EQ(inst.pData[inst.nDataSize + i], 0);
  (void)nSum;
  if (nType == kTypePat) {
    ASSERT_LE(0, inst.nLoopStart);
    ASSERT_LE(inst.nLoopStart, inst.nEnd);
    ASSERT_LE(inst.nEnd, inst.nDataSize);
  }
  if (nType == kTypeFpv) {
    ASSERT_EQ(inst.nEnd + 4, inst.nDataSize);
  }
}

void Hammer(const Bytes &base, Parser pfnParse, int32_t nType, uint32_t nSeed, int nRounds) {
  std::mt19937 rng(nSeed);
  Instrument &inst = aInstrument[200];
  inst.bLockOnUse = 0;
  for (int i = 0; i < nRounds; i++) {
    Bytes b = Corrupt(base, rng);
    if (rng() % 4 == 0) // sometimes twice
      b = Corrupt(b, rng);
    SCOPED_TRACE("seed " + std::to_string(nSeed) + " round " + std::to_string(i));
    const int32_t bLoaded = pfnParse(inst, b.data(), b.size());
    CheckOutcome(inst, bLoaded, nType);
    if (::testing::Test::HasFatalFailure())
      return;
  }
}

} // namespace

class CorruptionTest : public LoaderTest {
protected:
  // A patch loaded from disk, where only the parts the parser asks for are
  // read, must come out as the same bytes parsed in memory.
  void FileMatchesMemory(const Bytes &base, uint32_t nSeed, int nRounds) {
    std::mt19937 rng(nSeed);
    Instrument &mem = aInstrument[200];
    Instrument &file = aInstrument[201];
    mem.bLockOnUse = file.bLockOnUse = 0;
    std::snprintf(file.szPath, sizeof file.szPath, "%s", SetPath("c.pat").c_str());
    for (int i = 0; i < nRounds; i++) {
      SCOPED_TRACE("seed " + std::to_string(nSeed) + " round " + std::to_string(i));
      const Bytes b = i == 0 ? base : Corrupt(base, rng);
      WriteSample("c.pat", b);
      const int32_t bMem = ParsePatSample(mem, b.data(), b.size());
      ASSERT_EQ(LoadPatSample(201), bMem);
      CheckOutcome(file, bMem, kTypePat);
      if (!bMem)
        continue;
      ASSERT_EQ(mem.nDataSize, file.nDataSize);
      ASSERT_EQ(mem.nTranspose, file.nTranspose);
      // From nStart to bLoop: loop points and envelope.
      ASSERT_EQ(std::memcmp(&mem.nStart, &file.nStart, kEpcHeaderBytes - 24), 0);
      ASSERT_EQ(std::memcmp(mem.pData, file.pData, size_t(mem.nDataSize) + kBlockSlack), 0);
    }
  }
};

TEST_F(CorruptionTest, TestWrittenSamples) {
  testsupport::EpcFields ef;
  ef.nEnd = 60;
  Hammer(testsupport::MakeEpc(ef, Ramp(40)), ParseEpcSample, kTypeEpc, 1, 400);

  testsupport::FpvFields ff;
  ff.nEnd = 100;
  ff.nLoopStart = 20;
  Hammer(testsupport::MakeFpv(ff, testsupport::Le16Bytes(Ramp(101))), ParseFpvSample, kTypeFpv, 2,
         400);
  ff.b8Bit = true;
  Hammer(testsupport::MakeFpv(ff, Bytes(101, 0x40)), ParseFpvSample, kTypeFpv, 3, 400);

  std::vector<testsupport::PatWave> waves(5);
  for (size_t i = 0; i < waves.size(); i++) {
    waves[i].data = testsupport::Le16Bytes(Ramp(int(60 + 20 * i)));
    waves[i].nMode = uint8_t(1 | (i & 1) << 1 | 4);
    waves[i].nLoopStart = 10;
    waves[i].nLoopEnd = 100;
    waves[i].nSampleRate = uint16_t(8000 + 9000 * i);
  }
  Hammer(testsupport::MakePat(waves), ParsePatSample, kTypePat, 4, 600);
  FileMatchesMemory(testsupport::MakePat(waves), 6, 300);
  waves[2].data.push_back(0x7f); // odd 16-bit middle wave: read with zeros behind
  FileMatchesMemory(testsupport::MakePat(waves), 7, 100);
  waves.resize(1);
  waves[0].nMode = 0;
  Hammer(testsupport::MakePat(waves), ParsePatSample, kTypePat, 5, 300);
}

TEST_F(CorruptionTest, RealFreepatsPatches) {
  const char *const names[] = {"Tone_000/000_Acoustic_Grand_Piano.pat", "Tone_000/040_Violin.pat",
                               "Drum_000/038_Snare_1.pat", "Tone_000/073_Flute.pat"};
  int nFound = 0;
  for (size_t i = 0; i < std::size(names); i++) {
    Bytes b;
    if (!testsupport::ReadFileBytes(std::string("/usr/share/midi/freepats/") + names[i], b))
      continue;
    nFound++;
    Hammer(b, ParsePatSample, kTypePat, uint32_t(10 + i), 60);
    FileMatchesMemory(b, uint32_t(20 + i), 20);
  }
  if (nFound == 0)
    GTEST_SKIP() << "freepats is not installed";
}

TEST_F(CorruptionTest, ConfigurationText) {
  const std::string tokens[] = {
      "1",  "768", "769", "0", "-",     "+",           ":",    ",",    " ",
      "\t", "\n",  "\r",  "#", "A",     "k",           "T",    "b",    "P",
      "s",  "x",   "\\",  "/", "a.pat", "99999999999", "\x80", "\xff", std::string(300, 'z')};
  std::mt19937 rng(77);
  for (int i = 0; i < 2000; i++) {
    std::string text;
    for (int t = int(rng() % 40); t > 0; t--)
      text += tokens[rng() % std::size(tokens)];
    if (rng() % 8 == 0)
      text += std::string(1, '\0') + "5: b.epc, T1";
    ParseCfgText(reinterpret_cast<const uint8_t *>(text.data()), text.size());
  }
  for (int a = 0; a < kMapSize; a++)
    for (int b = 0; b < kMapSize; b++) {
      ASSERT_GE(anProgramMap[a][b], 0);
      ASSERT_LT(anProgramMap[a][b], kInstruments);
      ASSERT_GE(anDrumMap[a][b], 0);
      ASSERT_LT(anDrumMap[a][b], kInstruments);
    }
  for (const Instrument &inst : aInstrument)
    ASSERT_LT(std::strlen(inst.szPath), size_t(kInstPathBytes));
}
