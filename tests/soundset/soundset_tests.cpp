// The default sound set and the TiMidity configuration reader behind it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "support/temp_dir.h"
#include "tools/soundset/timidity_cfg.h"
#ifdef TORQA_HAVE_VOKRA_LOADER
#include <cstring>

#include "unit/soundset.h"
#include "unit/unit_state.h"
#endif

namespace fs = std::filesystem;

namespace {

// A line of the unit's .cfg as the unit reads it: instrument, name, options.
struct CfgLine {
  int nInstrument;
  std::string sName;
  int nT = 0, nB = 0, nP = 0, nA = 64, nK = 0;
};

// A small reader written from the line syntax, independent of the writer.
std::vector<CfgLine> ReadCfgLines(const std::string &sText) {
  std::vector<CfgLine> aLines;
  std::istringstream in(sText);
  std::string sLine;
  while (std::getline(in, sLine)) {
    if (sLine.empty() || sLine[0] < '0' || sLine[0] > '9')
      continue;
    CfgLine line{};
    line.nA = 64;
    size_t i = 0;
    line.nInstrument = std::atoi(sLine.c_str());
    while (i < sLine.size() && sLine[i] >= '0' && sLine[i] <= '9')
      ++i;
    EXPECT_EQ(sLine[i], ':') << sLine;
    i += 2;
    size_t j = sLine.find(',', i);
    line.sName = sLine.substr(i, j - i);
    std::istringstream opts(j == std::string::npos ? "" : sLine.substr(j + 1));
    std::string sOpt;
    while (opts >> sOpt) {
      int n = std::atoi(sOpt.c_str() + 1);
      switch (sOpt[0]) {
      case 'T':
        line.nT = n;
        break;
      case 'B':
        line.nB = n;
        break;
      case 'P':
        line.nP = n;
        break;
      case 'A':
        line.nA = n;
        break;
      case 'K':
        line.nK = n;
        break;
      case 'S':
        break;
      default:
        ADD_FAILURE() << "unexpected option in " << sLine;
      }
    }
    aLines.push_back(line);
  }
  return aLines;
}

std::string ReadText(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

using testsupport::TempDir;

bool HasWarning(const TimidityReader &r, const std::string &sPart) {
  for (const std::string &s : r.aWarnings)
    if (s.find(sPart) != std::string::npos)
      return true;
  return false;
}

} // namespace

#ifdef TORQA_HAVE_DEFAULT_SOUNDSET
// The built set gives every General MIDI program and drum note a sample of
// its own (no relatives filling gaps), and every sample it names exists.
TEST(DefaultSoundSet, CoversGeneralMidiAndNamesExistingFiles) {
  fs::path dir = fs::path(TORQA_PLUGIN_DIR) / "VOKRA";
  std::string sText = ReadText(dir / "VOKRA.cfg");
  ASSERT_FALSE(sText.empty());
  std::vector<CfgLine> aLines = ReadCfgLines(sText);
  bool abProgram[128] = {}, abDrum[128] = {};
  std::set<std::string> aNames;
  for (const CfgLine &l : aLines) {
    const bool bGm = (l.nP >= 35 && l.nP <= 81) || (l.nP == 0 && l.nT >= 1);
    if (l.nB <= 1 && bGm) {
      EXPECT_TRUE(aNames.insert(l.sName).second) << l.sName << " plays twice";
    }
    EXPECT_GE(l.nInstrument, 2);
    EXPECT_LE(l.nInstrument, 768);
    EXPECT_TRUE(fs::is_regular_file(dir / l.sName)) << l.sName;
    if (l.nB > 1)
      continue;
    if (l.nP > 0)
      abDrum[l.nP] = true;
    else if (l.nT >= 1 && l.nT <= 128)
      abProgram[l.nT - 1] = true;
  }
  for (int p = 0; p < 128; ++p)
    EXPECT_TRUE(abProgram[p]) << "program " << p;
  for (int n = 35; n <= 81; ++n)
    EXPECT_TRUE(abDrum[n]) << "drum note " << n;
}

// The freepats configuration gives the piano amp=120: 120 % of the unit gain 64
// where the set names the patches themselves.
TEST(DefaultSoundSet, CarriesAmplification) {
  TimidityReader r;
  r.AddLink("freepats", "/usr/share/midi/freepats");
  ASSERT_EQ(r.ReadFile("/etc/timidity/freepats.cfg"), 1);
  std::string sText;
  std::vector<std::string> aFilled;
  ASSERT_EQ(WriteVokraCfg(r.aPatches, "freepats.cfg", &sText, &aFilled), 1);
  int nPianos = 0;
  for (const CfgLine &l : ReadCfgLines(sText))
    if (l.nT == 1 && l.nP == 0) {
      EXPECT_EQ(l.nA, 77);
      ++nPianos;
    }
  EXPECT_GT(nPianos, 0) << "no line gives program 1";
}

#ifdef TORQA_HAVE_VOKRA_LOADER
// The unit itself loads the set: every sample reads, and every program and
// drum note of the default bank and kit names an instrument with data.
TEST(DefaultSoundSet, LoadsInTheUnit) {
  std::snprintf(vokra::szUnitDir, sizeof vokra::szUnitDir, "%s", TORQA_PLUGIN_DIR);
  std::snprintf(vokra::szCfgName, sizeof vokra::szCfgName, "VOKRA.cfg");
  vokra::ClearInstruments();
  ASSERT_EQ(vokra::LoadCFG(), 1);
  for (int i = 0; i < vokra::kInstruments; ++i) {
    const vokra::Instrument &inst = vokra::aInstrument[i];
    if (inst.szPath[0]) {
      EXPECT_NE(inst.hData, nullptr) << inst.szPath;
      EXPECT_GT(inst.nDataSize, 0) << inst.szPath;
    }
  }
  for (int p = 0; p < 128; ++p)
    for (int bank : {0, 8, 127})
      EXPECT_NE(vokra::aInstrument[vokra::anProgramMap[p][bank]].hData, nullptr) << p;
  for (int n = 35; n <= 81; ++n)
    EXPECT_NE(vokra::aInstrument[vokra::anDrumMap[n][0]].hData, nullptr) << n;
  vokra::FreeLockCFG();
  vokra::RemoveCFG();
}
#endif
#endif

TEST(TimidityReader, SectionsSourcesAndOptions) {
  TempDir t;
  t.Write("pats/Tone/piano.pat", "x");
  t.Write("pats/Tone/organ.pat", "x");
  t.Write("pats/Drum/kick.pat", "x");
  t.Write("pats/Drum/snare.pat", "x");
  t.Write("drums.cfg", "drumset 0\n 36 Drum/kick amp=50 pan=left\n 38 Drum/snare.pat\n");
  t.Write("main.cfg", "# comment\n"
                      "dir " +
                          (t.path() / "pats").string() +
                          "\n"
                          "bank 0\n"
                          "  0 Tone/piano.pat amp=100 pan=center\n"
                          "  16 Tone/organ.pat keep=env\n"
                          "  17 Tone/missing.pat\n"
                          "bank 8\n"
                          "  0 Tone/organ.pat\n"
                          "source drums.cfg\n"
                          "  1 Tone/piano.pat\n"
                          "soundfont x.sf2\n");
  TimidityReader r;
  r.AddLink("lnk", (t.path() / "pats").string());
  ASSERT_EQ(r.ReadFile((t.path() / "main.cfg").string()), 1);
  ASSERT_EQ(r.aPatches.size(), 6u);
  EXPECT_EQ(r.aPatches[0].sName, "lnk/Tone/piano.pat");
  EXPECT_EQ(r.aPatches[0].nGain, 64);
  EXPECT_EQ(r.aPatches[0].nPan, 65);
  EXPECT_EQ(r.aPatches[2].nBank, 8);
  // The sourced file's drumset ends with it: program 1 is back in bank 8.
  EXPECT_EQ(r.aPatches[3].bDrum, 1);
  EXPECT_EQ(r.aPatches[3].sName, "lnk/Drum/kick.pat"); // ".pat" added as TiMidity does
  EXPECT_EQ(r.aPatches[3].nGain, 32);
  EXPECT_EQ(r.aPatches[3].nPan, 1);
  EXPECT_EQ(r.aPatches[5].bDrum, 0);
  EXPECT_EQ(r.aPatches[5].nBank, 8);
  EXPECT_TRUE(HasWarning(r, "keep=env"));
  EXPECT_TRUE(HasWarning(r, "missing.pat not found"));
  EXPECT_TRUE(HasWarning(r, "\"soundfont\" is not supported"));
}

TEST(TimidityReader, RejectsWhatTheUnitCannotRead) {
  TempDir t;
  t.Write("in/a b.pat", "x");
  t.Write("in/ok.pat", "x");
  t.Write("in/wave.wav", "x");
  t.Write("out/far.pat", "x");
  t.Write("x.cfg", "dir " + t.path().string() +
                       "\nbank 0\n0 in/a\\ b.pat\n1 in/wave.wav\n2 out/far.pat\n"
                       "200 in/ok.pat\n3 in/ok.pat note=60\nbank 300\n4 in/ok.pat\n"
                       "drumset 0\n0 in/ok.pat\n");
  TimidityReader r;
  r.AddLink("in", (t.path() / "in").string());
  r.ReadFile((t.path() / "x.cfg").string());
  ASSERT_EQ(r.aPatches.size(), 1u); // only program 3, without its note=
  EXPECT_EQ(r.aPatches[0].nKey, 3);
  EXPECT_TRUE(HasWarning(r, "not a .pat"));
  EXPECT_TRUE(HasWarning(r, "outside the linked directories"));
  EXPECT_TRUE(HasWarning(r, "200 is outside"));
  EXPECT_TRUE(HasWarning(r, "note=60"));
  EXPECT_TRUE(HasWarning(r, "bank 300"));
  EXPECT_TRUE(HasWarning(r, "drum note 0"));
}

// A later line for the same program replaces the earlier one, as in TiMidity;
// the unit's default fill would keep the first, so only one line may remain.
TEST(TimidityReader, LaterLineReplaces) {
  TempDir t;
  t.Write("a.pat", "x");
  t.Write("b.pat", "x");
  TimidityReader r;
  r.AddLink("s", t.path().string());
  r.ParseText("dir " + t.path().string() + "\nbank 0\n5 a.pat\n5 b.pat amp=200\n", "text",
              t.path().string());
  ASSERT_EQ(r.aPatches.size(), 1u);
  EXPECT_EQ(r.aPatches[0].sName, "s/b.pat");
  EXPECT_EQ(r.aPatches[0].nGain, 128);
}

TEST(WriteVokraCfg, FillsFromFamilyThenNeighbour) {
  std::vector<SoundSetPatch> aPatches = {
      {0, 0, 2, "p2.pat", 64, 0, 0},     {0, 0, 5, "p5.pat", 80, 0, 0},
      {0, 0, 40, "p40.pat", 64, 0, 0},   {1, 0, 36, "kick.pat", 64, 0, 0},
      {1, 0, 38, "snare.pat", 64, 0, 0}, {0, 3, 2, "b3.pat", 64, 0, 0},
      {1, 2, 36, "k2.pat", 64, 0, 0},
  };
  std::string sText;
  std::vector<std::string> aFilled;
  ASSERT_EQ(WriteVokraCfg(aPatches, "test", &sText, &aFilled), 1);
  std::vector<CfgLine> aLines = ReadCfgLines(sText);
  std::map<int, std::string> mProgram, mDrum;
  std::map<std::string, int> mInstrument;
  for (const CfgLine &l : aLines) {
    // One sample with the same options is one instrument, whatever it fills.
    auto [it, bNew] = mInstrument.emplace(l.sName, l.nInstrument);
    EXPECT_EQ(it->second, l.nInstrument) << l.sName;
    if (l.nB > 1) {
      EXPECT_TRUE((l.nB == 4 && l.sName == "b3.pat" && l.nT == 3) ||
                  (l.nB == 3 && l.sName == "k2.pat" && l.nP == 36))
          << l.sName;
      continue;
    }
    (l.nP ? mDrum[l.nP] : mProgram[l.nT - 1]) = l.sName;
    if (l.sName == "p5.pat") {
      EXPECT_EQ(l.nA, 80);
    }
  }
  EXPECT_EQ(mProgram.size(), 128u);
  EXPECT_EQ(mProgram[0], "p2.pat");
  EXPECT_EQ(mProgram[3], "p2.pat"); // 2 and 5 are both near, 3 is nearer to 2
  EXPECT_EQ(mProgram[4], "p5.pat");
  EXPECT_EQ(mProgram[7], "p5.pat");
  EXPECT_EQ(mProgram[47], "p40.pat");
  EXPECT_EQ(mProgram[8], "p5.pat"); // empty family: the nearest program anywhere
  EXPECT_EQ(mProgram[127], "p40.pat");
  EXPECT_EQ(mDrum[35], "kick.pat");
  EXPECT_EQ(mDrum[37], "kick.pat"); // tie between 36 and 38: the lower
  EXPECT_EQ(mDrum[81], "snare.pat");
  EXPECT_EQ(mDrum.size(), 81u - 35u + 1u);
  EXPECT_EQ(aFilled.size(), 125u + 45u);
}

TEST(WriteVokraCfg, RefusesAnEmptySet) {
  std::string sText;
  std::vector<std::string> aFilled;
  EXPECT_EQ(WriteVokraCfg({{1, 0, 36, "kick.pat", 64, 0, 0}}, "t", &sText, &aFilled), 0);
  EXPECT_EQ(WriteVokraCfg({{0, 0, 0, "p.pat", 64, 0, 0}}, "t", &sText, &aFilled), 0);
}

// Root pitch of the middle waveform: of 3 waveforms the unit plays number 1.
TEST(PatchRootNote, ReadsTheMiddleWaveform) {
  std::vector<uint8_t> a(239 + 3 * 96 + 30, 0);
  a[85] = 3;
  auto put32 = [&](size_t o, uint32_t v) {
    for (int i = 0; i < 4; ++i)
      a[o + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(239 + 8, 10); // first waveform: 10 data bytes
  put32(239 + 30, 261626);
  put32(239 + 96 + 10 + 30, 440000);
  EXPECT_NEAR(PatchRootNote(a.data(), a.size()), 69.0, 1e-6);
  EXPECT_EQ(PatchRootNote(a.data(), 200), -1);
  a[85] = 200; // waveforms announced beyond the data
  EXPECT_EQ(PatchRootNote(a.data(), a.size()), -1);
}

// A drum's note= becomes the key shift that makes the sample sound at that note.
TEST(TimidityReader, DrumNoteBecomesKeyShift) {
  TempDir t;
  std::vector<char> a(239 + 96 + 4, 0);
  a[85] = 1;
  uint32_t nRoot = 130813; // C3 in 1/1000 Hz: note 48
  for (int i = 0; i < 4; ++i)
    a[239 + 30 + i] = static_cast<char>(nRoot >> (8 * i));
  t.Write("d.pat", std::string(a.begin(), a.end()));
  TimidityReader r;
  r.AddLink("s", t.path().string());
  r.ParseText("dir " + t.path().string() + "\ndrumset 0\n40 d.pat note=50\n", "text",
              t.path().string());
  ASSERT_EQ(r.aPatches.size(), 1u);
  EXPECT_EQ(r.aPatches[0].nKeyShift, 50 - 60);
}
