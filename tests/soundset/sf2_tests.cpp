// SoundFont import: the reader on the installed SoundFonts against an
// independent reader, pitch of converted zones against the unit's note table,
// the envelope's release, damaged files refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/sample_writers.h"
#include "tools/soundset/patch_convert.h"
#include "tools/soundset/sf2_convert.h"
#include "tools/soundset/sf2_reader.h"

namespace {

using testsupport::Sine;

namespace fs = std::filesystem;

const char *const kFonts[] = {"/usr/share/sounds/sf2/FluidR3_GM.sf2",
                              "/usr/share/sounds/sf2/TimGM6mb.sf2"};

// A one-preset, one-instrument, one-sample SoundFont written from the format's
// record layouts; aGens are the instrument zone's generators before its
// sample id. Bank 128 makes it a percussion preset.
std::vector<uint8_t> MakeSf2(const std::vector<int16_t> &aSamples, uint32_t nRate, uint8_t nPitch,
                             int8_t nCorrection, uint32_t nLoopStart, uint32_t nLoopEnd,
                             std::vector<std::pair<uint16_t, int16_t>> aGens, uint16_t nBank = 0) {
  std::vector<uint8_t> a;
  auto u16 = [](std::vector<uint8_t> &v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
  };
  auto u32 = [&](std::vector<uint8_t> &v, uint32_t x) {
    u16(v, x & 0xFFFF);
    u16(v, x >> 16);
  };
  auto name = [](std::vector<uint8_t> &v, const char *psz) {
    for (int i = 0; i < 20; ++i)
      v.push_back(static_cast<uint8_t>(*psz ? *psz++ : 0));
  };
  auto chunk = [&](std::vector<uint8_t> &v, const char *pszId, const std::vector<uint8_t> &b) {
    v.insert(v.end(), pszId, pszId + 4);
    u32(v, static_cast<uint32_t>(b.size()));
    v.insert(v.end(), b.begin(), b.end());
    if (b.size() & 1)
      v.push_back(0);
  };
  auto list = [&](const char *pszType, const std::vector<uint8_t> &b) {
    std::vector<uint8_t> v(pszType, pszType + 4);
    v.insert(v.end(), b.begin(), b.end());
    std::vector<uint8_t> out;
    chunk(out, "LIST", v);
    return out;
  };
  std::vector<uint8_t> smpl;
  for (int16_t s : aSamples)
    u16(smpl, static_cast<uint16_t>(s));
  for (int i = 0; i < 46; ++i)
    u16(smpl, 0);
  std::vector<uint8_t> sdta;
  chunk(sdta, "smpl", smpl);

  std::vector<uint8_t> phdr, pbag, pmod(10, 0), pgen, inst, ibag, imod(10, 0), igen, shdr;
  name(phdr, "test");
  u16(phdr, 0);
  u16(phdr, nBank);
  u16(phdr, 0);
  for (int i = 0; i < 3; ++i)
    u32(phdr, 0);
  name(phdr, "EOP");
  u16(phdr, 0);
  u16(phdr, 0);
  u16(phdr, 1);
  for (int i = 0; i < 3; ++i)
    u32(phdr, 0);
  for (uint32_t g : {0u, 1u}) {
    u16(pbag, g);
    u16(pbag, 0);
  }
  u16(pgen, 41); // instrument 0
  u16(pgen, 0);
  u32(pgen, 0);
  name(inst, "inst");
  u16(inst, 0);
  name(inst, "EOI");
  u16(inst, 1);
  aGens.push_back({53, 0}); // sample 0
  for (uint32_t g : {0u, static_cast<uint32_t>(aGens.size())}) {
    u16(ibag, g);
    u16(ibag, 0);
  }
  for (auto [nOper, nAmount] : aGens) {
    u16(igen, nOper);
    u16(igen, static_cast<uint16_t>(nAmount));
  }
  u32(igen, 0);
  name(shdr, "sample");
  for (uint32_t v : {0u, static_cast<uint32_t>(aSamples.size()), nLoopStart, nLoopEnd, nRate})
    u32(shdr, v);
  shdr.push_back(nPitch);
  shdr.push_back(static_cast<uint8_t>(nCorrection));
  u16(shdr, 0);
  u16(shdr, 1);
  name(shdr, "EOS");
  shdr.resize(shdr.size() + 26, 0);
  std::vector<uint8_t> pdta;
  for (auto [pszId, pB] :
       std::initializer_list<std::pair<const char *, std::vector<uint8_t> *>>{{"phdr", &phdr},
                                                                              {"pbag", &pbag},
                                                                              {"pmod", &pmod},
                                                                              {"pgen", &pgen},
                                                                              {"inst", &inst},
                                                                              {"ibag", &ibag},
                                                                              {"imod", &imod},
                                                                              {"igen", &igen},
                                                                              {"shdr", &shdr}})
    chunk(pdta, pszId, *pB);
  std::vector<uint8_t> body = {'s', 'f', 'b', 'k'};
  for (const std::vector<uint8_t> &l : {list("INFO", {}), list("sdta", sdta), list("pdta", pdta)})
    body.insert(body.end(), l.begin(), l.end());
  chunk(a, "RIFF", body);
  return a;
}

// Cycles per sample, from the first and last rising zero crossings.
double MeasuredCycles(const std::vector<int16_t> &a) {
  double dFirst = -1, dLast = -1;
  int32_t nCrossings = 0;
  for (size_t i = 0; i + 1 < a.size(); ++i)
    if (a[i] < 0 && a[i + 1] >= 0) {
      double d = i + static_cast<double>(-a[i]) / (a[i + 1] - a[i]);
      if (dFirst < 0)
        dFirst = d;
      dLast = d;
      ++nCrossings;
    }
  return (nCrossings - 1) / (dLast - dFirst);
}

// Converts the only zone of a test font as program nProgram or drum note nKey.
Conversion ConvertOnly(const std::vector<uint8_t> &aFont, int32_t bDrum, int32_t nKey) {
  Sf2File f;
  std::string sError;
  EXPECT_EQ(f.Parse(aFont.data(), aFont.size(), &sError), 1) << sError;
  std::vector<Sf2Region> aRegions;
  int32_t nUsed = -1;
  Conversion c;
  if (f.aPresets.empty())
    return c;
  const int32_t nChosen = ChooseRegion(f, f.aPresets[0], nKey, &aRegions, &nUsed);
  EXPECT_EQ(nChosen, 0);
  PatchWave w;
  EXPECT_EQ(Sf2Wave(f, aRegions, 0, bDrum, nKey, &w), 1);
  EXPECT_EQ(bDrum ? ConvertDrum(w, -1, &c) : ConvertMelodic(w, UsualLowNote(0), &c), 1);
  return c;
}

// Cents between the pitch the unit plays note n of a converted melodic
// sample at and the note table's pitch of n.
double CentsOffTable(const Conversion &c, int32_t n) {
  const double dCycles = MeasuredCycles(c.epc.aData);
  const double dHz = dCycles * TableStep44100(n + c.epc.nTranspose) / 272.0 * 44100.0;
  return 1200.0 * std::log2(dHz / TablePitchHz(n));
}

} // namespace

// Every General MIDI program has a preset in bank 0 and every drum note 35-81
// a zone in the percussion preset, in both SoundFonts Debian ships.
TEST(Sf2Reader, InstalledFontsHoldEveryProgramAndDrum) {
  for (const char *pszFont : kFonts) {
    if (!fs::exists(pszFont))
      continue;
    Sf2File f;
    std::string sError;
    ASSERT_EQ(f.ReadFile(pszFont, &sError, false), 1) << sError;
    for (int32_t p = 0; p < 128; ++p) {
      const Sf2Preset *pPreset = f.FindPreset(0, p);
      ASSERT_NE(pPreset, nullptr) << pszFont << " program " << p;
      EXPECT_FALSE(f.AllRegions(*pPreset).empty()) << pszFont << " program " << p;
    }
    const Sf2Preset *pDrums = f.FindPreset(128, 0);
    ASSERT_NE(pDrums, nullptr) << pszFont;
    for (int32_t n = 35; n <= 81; ++n)
      EXPECT_FALSE(f.Regions(*pDrums, n, 100).empty()) << pszFont << " drum " << n;
  }
}

// FluidR3 links every sample to sample 0: a drum's wave must be its own
// stereo pair (no longer than its own sample), not summed with another.
TEST(Sf2Convert, StereoPairsAreTheirOwn) {
  Sf2File f;
  std::string sError;
  if (!fs::exists(kFonts[0]))
    GTEST_SKIP() << "FluidR3 is not installed";
  ASSERT_EQ(f.ReadFile(kFonts[0], &sError), 1) << sError;
  const Sf2Preset *pDrums = f.FindPreset(128, 0);
  ASSERT_NE(pDrums, nullptr);
  for (int32_t n = 35; n <= 81; ++n) {
    std::vector<Sf2Region> aRegions;
    int32_t nKey = -1;
    const int32_t nChosen = ChooseRegion(f, *pDrums, n, &aRegions, &nKey);
    ASSERT_GE(nChosen, 0);
    const Sf2SampleHeader &s = f.aSamples[static_cast<size_t>(aRegions[nChosen].nSample)];
    PatchWave w;
    ASSERT_EQ(Sf2Wave(f, aRegions, static_cast<size_t>(nChosen), 1, n, &w), 1);
    EXPECT_LE(w.aSamples.size(), (s.nEnd - s.nStart) * 11 / 10) << "drum " << n;
  }
}

// The zones the reader finds agree with an independent reader's: sample,
// root key, tuning, attenuation, loop mode and key range.
TEST(Sf2Reader, ZonesAgreeWithAnIndependentReader) {
  struct Case {
    int32_t nBank, nProgram, nKey;
  };
  const Case aCases[] = {{0, 0, 60},  {0, 33, 40},  {0, 48, 55},
                         {0, 73, 72}, {128, 0, 38}, {128, 0, 42}};
  for (const char *pszFont : kFonts) {
    if (!fs::exists(pszFont))
      continue;
    Sf2File f;
    std::string sError;
    ASSERT_EQ(f.ReadFile(pszFont, &sError, false), 1) << sError;
    std::string sCommand = "/usr/bin/python3 " SF2_FACTS_PY " " + std::string(pszFont);
    std::string sMine;
    for (const Case &k : aCases) {
      char szCase[48];
      std::snprintf(szCase, sizeof szCase, " %d:%d:%d:100", k.nBank, k.nProgram, k.nKey);
      sCommand += szCase;
      const Sf2Preset *pPreset = f.FindPreset(k.nBank, k.nProgram);
      ASSERT_NE(pPreset, nullptr);
      std::vector<std::string> aMine;
      for (const Sf2Region &r : f.Regions(*pPreset, k.nKey, 100)) {
        const Sf2SampleHeader &s = f.aSamples[static_cast<size_t>(r.nSample)];
        const int32_t *g = r.anGen;
        const int32_t nRoot = g[kSf2OverridingRootKey] >= 0 && g[kSf2OverridingRootKey] <= 127
                                  ? g[kSf2OverridingRootKey]
                                  : s.nOriginalPitch;
        char sz[128];
        std::snprintf(sz, sizeof sz, "%s|%d|%d|%d|%d|%d|%d-%d\n", s.sName.c_str(), nRoot,
                      g[kSf2CoarseTune], g[kSf2FineTune], g[kSf2InitialAttenuation],
                      g[kSf2SampleModes] & 3, r.nKeyLo, r.nKeyHi);
        aMine.push_back(sz);
      }
      EXPECT_FALSE(aMine.empty()) << k.nBank << ":" << k.nProgram << ":" << k.nKey;
      std::sort(aMine.begin(), aMine.end());
      for (const std::string &s : aMine)
        sMine += s;
      sMine += "--\n";
    }
    FILE *p = popen(sCommand.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string sTheirs;
    char ab[4096];
    for (size_t n; (n = std::fread(ab, 1, sizeof ab, p)) > 0;)
      sTheirs.append(ab, n);
    ASSERT_EQ(pclose(p), 0) << sCommand;
    EXPECT_EQ(sMine, sTheirs) << sCommand;
  }
}

// A zone's root key, coarse and fine tune and the sample's pitch correction
// all move the pitch: the converted sample plays the note table's pitch.
TEST(Sf2Convert, MelodicPitchFollowsTheZonesTuning) {
  // A sine at the pitch of note 57.3 recorded at 32000 Hz; the zone says so
  // with root key 69 (overriding the header's 40), coarse tune +12, fine
  // tune -20 and the header's correction -10 cents.
  const double dHz = 220.0 * std::exp2(30.0 / 1200.0);
  std::vector<int16_t> a = Sine(dHz / 32000.0, 32000);
  Conversion c =
      ConvertOnly(MakeSf2(a, 32000, 40, -10, 0, 0, {{58, 69}, {51, 12}, {52, -20}}), 0, 60);
  ASSERT_FALSE(c.epc.aData.empty());
  EXPECT_LT(std::abs(CentsOffTable(c, 57)), 1.0);
}

// A drum zone with scale tuning 50 sounds key 72 half an octave above its
// root key 60: the converted drum plays at that pitch at its key shift.
TEST(Sf2Convert, DrumPitchFollowsScaleTuning) {
  std::vector<int16_t> a = Sine(440.0 / 44100.0, 22050);
  Conversion c = ConvertOnly(MakeSf2(a, 44100, 60, 0, 0, 0, {{56, 50}}, 128), 1, 72);
  ASSERT_FALSE(c.epc.aData.empty());
  const double dHz =
      MeasuredCycles(c.epc.aData) * TableStep44100(60 + c.nKeyShift) / 272.0 * 44100.0;
  EXPECT_NEAR(1200.0 * std::log2(dHz / 440.0), 600.0, 1.0);
}

// A zone's low-pass filter is baked into a looping wave without a step at
// the seam: the loop repeats the settled, filtered period.
TEST(Sf2Convert, BakedFilterKeepsTheLoopSeamless) {
  // Eight periods of 20 samples looped; a 2 kHz cutoff at 22050 Hz.
  std::vector<int16_t> a = Sine(1.0 / 20, 400);
  for (size_t i = 0; i < a.size(); i += 2)
    a[i] = static_cast<int16_t>(a[i] / 2); // harmonics for the filter to take
  const std::vector<uint8_t> aFont =
      MakeSf2(a, 22050, 60, 0, 20, 180, {{8, 9000}, {54, 1}, {58, 60}});
  Sf2File f;
  std::string sError;
  ASSERT_EQ(f.Parse(aFont.data(), aFont.size(), &sError), 1) << sError;
  std::vector<Sf2Region> aRegions = f.Regions(f.aPresets[0], 60, 100);
  ASSERT_EQ(aRegions.size(), 1u);
  PatchWave w;
  ASSERT_EQ(Sf2Wave(f, aRegions, 0, 0, 60, &w), 1);
  ASSERT_EQ(w.nModes & 4, 4);
  ASSERT_EQ(w.nLoopEnd - w.nLoopStart, 160);
  const std::vector<float> &x = w.aSamples;
  float fMaxStep = 0, fMaxDiff = 0;
  for (int32_t i = w.nLoopStart; i + 1 < w.nLoopEnd; ++i)
    fMaxStep =
        std::max(fMaxStep, std::abs(x[static_cast<size_t>(i + 1)] - x[static_cast<size_t>(i)]));
  // One period before the loop's end equals the loop's first period.
  for (int32_t i = 0; i < 20; ++i)
    fMaxDiff = std::max(fMaxDiff, std::abs(x[static_cast<size_t>(w.nLoopStart + i)] -
                                           x[static_cast<size_t>(w.nLoopEnd - 20 + i)]));
  EXPECT_LT(fMaxDiff, 1.0f);
  EXPECT_LE(std::abs(x[static_cast<size_t>(w.nLoopStart)] - x[static_cast<size_t>(w.nLoopEnd - 1)]),
            fMaxStep * 1.01f);
}

// The zone's release (timecents for 96 dB) and the unit's linear release
// reach -40 dB within a tick of each other.
TEST(Sf2Convert, ReleaseReachesMinus40DbWithTheZones) {
  int32_t anGen[kSf2GenCount];
  Sf2Defaults(anGen);
  anGen[kSf2ReleaseVolEnv] = 0; // one second for 96 dB
  const double dTicks = 1000.0;
  EpcImage e;
  MapSf2Envelope(anGen, 60, dTicks, &e);
  // The unit's release from full level: nReleaseStep every 20 ticks.
  int32_t nLevel = 127, nTicks = 0;
  while (nLevel > 127 / 100) {
    nLevel -= e.nReleaseStep;
    nTicks += 20;
  }
  EXPECT_NEAR(nTicks / dTicks, 40.0 / 96.0, 20.0 / dTicks + 0.02);
}

// Truncated files, broken chunk sizes and indices out of order are refused
// with a message; a zone whose sample lies outside the pool does not convert.
TEST(Sf2Reader, DamagedFilesAreRefused) {
  const std::vector<uint8_t> aGood = MakeSf2(Sine(0.01, 1000), 44100, 60, 0, 0, 0, {});
  Sf2File f;
  std::string sError;
  ASSERT_EQ(f.Parse(aGood.data(), aGood.size(), &sError), 1) << sError;
  for (size_t n : {size_t{0}, size_t{11}, size_t{100}, aGood.size() - 200, aGood.size() - 1}) {
    sError.clear();
    EXPECT_EQ(f.Parse(aGood.data(), n, &sError), 0) << n;
    EXPECT_FALSE(sError.empty()) << n;
  }
  // The instrument's first bag points past its generator list.
  std::vector<uint8_t> aBad = aGood;
  const std::string sAll(aBad.begin(), aBad.end());
  const size_t nIbag = sAll.find("ibag");
  ASSERT_NE(nIbag, std::string::npos);
  aBad[nIbag + 8] = 0x7F;
  EXPECT_EQ(f.Parse(aBad.data(), aBad.size(), &sError), 0);
  EXPECT_NE(sError.find("out of"), std::string::npos) << sError;
  // The sample header's end past the pool.
  aBad = aGood;
  const size_t nShdr = sAll.find("shdr");
  aBad[nShdr + 8 + 24 + 3] = 0x10;
  ASSERT_EQ(f.Parse(aBad.data(), aBad.size(), &sError), 1);
  std::vector<Sf2Region> aRegions = f.Regions(f.aPresets[0], 60, 100);
  ASSERT_EQ(aRegions.size(), 1u);
  PatchWave w;
  EXPECT_EQ(Sf2Wave(f, aRegions, 0, 0, 60, &w), 0);
}
