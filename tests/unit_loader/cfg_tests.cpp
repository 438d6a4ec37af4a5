// The configuration text: syntax, options, map filling and lock-on-use.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "loader_fixture.h"
#include "unit/soundset.h"
#include "unit/unit_state.h"

using namespace vokra;

namespace {

int32_t CfgInt(const char *psz, int32_t nStart, int32_t *pEnd) {
  int32_t i = nStart;
  int32_t v = ParseCfgInt(psz, i);
  *pEnd = i;
  return v;
}

void Parse(const std::string &text) {
  ParseCfgText(reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

// Every bank of program t holds nInst except bank nExceptBank (-1: none).
void ExpectProgramRow(int t, int32_t nInst, int nExceptBank = -1, int32_t nExceptInst = 0) {
  for (int k = 0; k < kMapSize; k++)
    EXPECT_EQ(anProgramMap[t][k], k == nExceptBank ? nExceptInst : nInst)
        << "program " << t << " bank " << k;
}

bool MapsHold(int32_t nInst) {
  for (int a = 0; a < kMapSize; a++)
    for (int b = 0; b < kMapSize; b++)
      if (anProgramMap[a][b] == nInst || anDrumMap[a][b] == nInst)
        return true;
  return false;
}

} // namespace

TEST(ParseCfgInt, SignsDigitsAndIndex) {
  int32_t nEnd = 0;
  EXPECT_EQ(CfgInt("-12x", 0, &nEnd), -12);
  EXPECT_EQ(nEnd, 3);
  EXPECT_EQ(CfgInt("a+7,", 1, &nEnd), 7);
  EXPECT_EQ(nEnd, 3);
  EXPECT_EQ(CfgInt("-+5", 0, &nEnd), -5);
  EXPECT_EQ(nEnd, 3);
  EXPECT_EQ(CfgInt("+-5", 0, &nEnd), 0); // "-" only counts before "+"
  EXPECT_EQ(nEnd, 1);
  EXPECT_EQ(CfgInt("abc", 0, &nEnd), 0);
  EXPECT_EQ(nEnd, 0);
  EXPECT_EQ(CfgInt("-", 0, &nEnd), 0);
  EXPECT_EQ(nEnd, 1);
  // Wraps at 32 bits rather than overflowing.
  EXPECT_EQ(CfgInt("4294967297", 0, &nEnd), 1);
  EXPECT_EQ(CfgInt("-2147483648", 0, &nEnd), INT32_MIN);
}

class CfgTest : public LoaderTest {};

TEST_F(CfgTest, ExampleLinesFillMapsAndGains) {
  Parse("12: piano.epc, T1 A80\n"
        "40: piano2.epc, T1 B9\n"
        "9: kick.pat, P36\n"
        "5: pad.fpv\n");
  EXPECT_EQ(aInstrument[11].nInstGain, 80);
  EXPECT_EQ(aInstrument[11].nKeyShift, 0);
  ExpectProgramRow(0, 11, 8, 39);
  for (int k = 0; k < kMapSize; k++)
    EXPECT_EQ(anDrumMap[36][k], 8);
  EXPECT_EQ(aInstrument[8].bLockOnUse, 0);
  EXPECT_EQ(aInstrument[39].bLockOnUse, 1);
  EXPECT_EQ(std::string(aInstrument[4].szPath), SetPath("pad.fpv"));
  EXPECT_EQ(aInstrument[4].nInstGain, 64);
  EXPECT_FALSE(MapsHold(4));
}

TEST_F(CfgTest, DefaultFillOnlyFillsEmptyEntries) {
  // Instrument 1 is entry value 0, so a later default line fills over it.
  Parse("1: a.epc, T1\n2: b.epc, T1\n");
  ExpectProgramRow(0, 1);
  RemoveCFG();
  // An explicit bank before a default line keeps its bank...
  Parse("3: c.epc, T1 B2\n4: d.epc, T1\n");
  ExpectProgramRow(0, 3, 1, 2);
  RemoveCFG();
  // ...and after one, overwrites it.
  Parse("4: d.epc, T1\n3: c.epc, T1 B2\n");
  ExpectProgramRow(0, 3, 1, 2);
  RemoveCFG();
  // The first default line wins over a later one; B0, B1 and negative B fill too.
  Parse("7: g.epc, T3 B1\n8: h.epc, T3 B0\n9: i.epc, T3 B-4\n");
  ExpectProgramRow(2, 6);
  // Drum kits fill the same way.
  Parse("20: k1.pat, P40 B3\n21: k2.pat, P40\n");
  for (int k = 0; k < kMapSize; k++)
    EXPECT_EQ(anDrumMap[40][k], k == 2 ? 19 : 20);
}

TEST_F(CfgTest, DefaultProgramAndOptionSyntax) {
  // No T: program (N - 1) mod 128. Letters of either case; junk before digits.
  Parse("130: x.epc, a70 k-3 s100\n"
        "131: y.epc,,, T=+5 Bank:9 K+2\n");
  EXPECT_EQ(anProgramMap[1][0], 129);
  EXPECT_EQ(aInstrument[129].nInstGain, 70);
  EXPECT_EQ(aInstrument[129].nKeyShift, -3);
  EXPECT_EQ(aInstrument[129].nInstPan, 99);
  EXPECT_EQ(aInstrument[129].nInstPanR, 63);
  EXPECT_EQ(aInstrument[129].nInstPanL, 28);
  EXPECT_EQ(anProgramMap[4][8], 130);
  EXPECT_EQ(anProgramMap[4][0], 0);
  EXPECT_EQ(aInstrument[130].nKeyShift, 2);
  EXPECT_EQ(aInstrument[130].nInstPan, 64); // S absent
  // Once options began, "#" is just skipped: T3 still counts; a letter
  // without digits reads 0 (the "a" of "gain" sets A0, "n" is no option).
  Parse("50: z.epc, A90 # T3 gain\n");
  EXPECT_EQ(anProgramMap[2][0], 49);
  EXPECT_EQ(aInstrument[49].nInstGain, 0);
}

TEST_F(CfgTest, LinesThatAreSkippedOrHalfRead) {
  Parse("# 1: a.epc, T1\n"
        "x2: b.epc, T1\n"
        "0: c.epc, T1\n"
        "769: d.epc, T1\n"
        "  \t 6 : f.epc  ,  T7\r\n"
        "7: g.epc # T8\n"
        "8: h.epc,\n");
  EXPECT_EQ(aInstrument[0].szPath[0], '\0');
  EXPECT_EQ(aInstrument[1].szPath[0], '\0');
  EXPECT_EQ(anProgramMap[6][0], 5);
  EXPECT_EQ(std::string(aInstrument[5].szPath), SetPath("f.epc"));
  EXPECT_EQ(std::string(aInstrument[6].szPath), SetPath("g.epc"));
  EXPECT_FALSE(MapsHold(6));
  EXPECT_FALSE(MapsHold(7));
  EXPECT_EQ(std::string(aInstrument[7].szPath), SetPath("h.epc"));

  // A valid number without ":" still resets gain and key shift.
  Parse("10: j.epc, A20 K5 T100\n10 k.epc, T101\n");
  EXPECT_EQ(aInstrument[9].nInstGain, 64);
  EXPECT_EQ(aInstrument[9].nKeyShift, 0);
  EXPECT_EQ(std::string(aInstrument[9].szPath), SetPath("j.epc"));
  EXPECT_EQ(anProgramMap[100][0], 0);

  // The text ends at its first NUL.
  Parse(std::string("11: l.epc, T20\n\0"
                    "12: m.epc, T21\n",
                    31));
  EXPECT_EQ(anProgramMap[19][0], 10);
  EXPECT_EQ(aInstrument[11].szPath[0], '\0');
}

TEST_F(CfgTest, OutOfRangeValuesDropTheMapEntryOnly) {
  Parse("2: a.epc, T0\n"
        "3: b.epc, T129\n"
        "4: c.epc, T-1\n"
        "5: d.epc, T1 B129\n"
        "6: e.epc, P128\n"
        "7: f.epc, P-1\n"
        "8: g.epc, T999999999 P999999999 B-999999999\n");
  for (int a = 0; a < kMapSize; a++)
    for (int b = 0; b < kMapSize; b++) {
      ASSERT_EQ(anProgramMap[a][b], 0);
      ASSERT_EQ(anDrumMap[a][b], 0);
    }
  for (int n = 1; n <= 7; n++) {
    EXPECT_NE(aInstrument[n].szPath[0], '\0');
    EXPECT_EQ(aInstrument[n].bLockOnUse, 1); // a rejected P does not pin the sample
  }
  // Edges that are in range: T128, B128, P127, S out of range clamped.
  Parse("20: h.epc, T128 B128\n21: i.epc, P127 B128\n22: j.epc, S0\n23: k.epc, S500\n");
  EXPECT_EQ(anProgramMap[127][127], 19);
  EXPECT_EQ(anDrumMap[127][127], 20);
  EXPECT_EQ(aInstrument[21].nInstPan, 0);
  EXPECT_EQ(aInstrument[21].nInstPanL, 63);
  EXPECT_EQ(aInstrument[21].nInstPanR, 0);
  EXPECT_EQ(aInstrument[22].nInstPan, 127);
}

TEST_F(CfgTest, LongLinesAndPaths) {
  // Options past character 259 are cut off with the rest of the line.
  std::string line = "6: f.epc, A1";
  line += std::string(259 - line.size(), ' ');
  line += "T3 A99\n7: g.epc, T9\n";
  Parse(line);
  EXPECT_EQ(anProgramMap[5][0], 5); // default program: T3 was cut
  EXPECT_EQ(aInstrument[5].nInstGain, 1);
  EXPECT_EQ(anProgramMap[8][0], 6); // the next line is still read

  // Backslashes become "/" and subfolders are kept.
  Parse("9: sub\\dir/x.EPC, T10\n");
  EXPECT_EQ(std::string(aInstrument[8].szPath), SetPath("sub/dir/x.EPC"));

  // A path that does not fit in 511 bytes is kept cut and marked to fail.
  // Only a long unit directory gets there, since lines stop at 259.
  std::string longDir = "/" + std::string(250, 'd') + "/";
  std::snprintf(szUnitDir, sizeof szUnitDir, "%s", longDir.c_str());
  std::string name(511 - longDir.size() - 6 + 1, 'n'); // one byte too many
  Parse("10: " + name + "\n");
  EXPECT_EQ(std::strlen(aInstrument[9].szPath), 511u);
  EXPECT_EQ(aInstrument[9].bPathCut, 1);
  name.pop_back();
  Parse("11: " + name + "\n");
  EXPECT_EQ(std::strlen(aInstrument[10].szPath), 511u);
  EXPECT_EQ(aInstrument[10].bPathCut, 0);
  // Through LoadAllSamples the cut path is listed as not loaded.
  LoadAllSamples();
  ASSERT_EQ(list.failed.size(), 5u); // none of the files exist
  EXPECT_EQ(list.failed[3].size(), 511u);
  std::snprintf(szUnitDir, sizeof szUnitDir, "%s", dir.c_str());
}

// Through LoadCFG: files, the loading list and lock-on-use.
TEST_F(CfgTest, LoadLocksOnlyRhythmAndProgramZero) {
  testsupport::EpcFields f;
  f.nEnd = 20;
  auto epc = testsupport::MakeEpc(f, Ramp(16));
  WriteSample("piano.epc", epc);
  WriteSample("piano2.epc", epc);
  WriteSample("kick.EPC", epc);
  WriteSample("pad.epc", epc);
  ASSERT_EQ(LoadConfig("12: piano.epc, T1 A80\n"
                       "40: piano2.epc, T1 B9\n"
                       "9: kick.EPC, P36\n"
                       "5: pad.epc\n"
                       "6: missing.epc, T7\n"
                       "7: notes.txt, T8\n"),
            1);
  EXPECT_EQ(list.nBegin, 1);
  EXPECT_EQ(list.nEnd, 1);
  EXPECT_EQ(list.bLastAnyFailed, 1);
  EXPECT_EQ(list.loaded, (std::vector<std::string>{SetPath("pad.epc"), SetPath("kick.EPC"),
                                                   SetPath("piano.epc"), SetPath("piano2.epc")}));
  EXPECT_EQ(list.failed, (std::vector<std::string>{SetPath("missing.epc"), SetPath("notes.txt")}));

  EXPECT_NE(aInstrument[11].pData, nullptr); // program 0 bank 0
  EXPECT_NE(aInstrument[8].pData, nullptr);  // rhythm
  EXPECT_EQ(aInstrument[39].pData, nullptr); // lock on use
  EXPECT_EQ(aInstrument[4].pData, nullptr);
  EXPECT_NE(aInstrument[39].hData, nullptr);
  EXPECT_EQ(aInstrument[5].hData, nullptr); // failed: no data
  EXPECT_EQ(aInstrument[6].hData, nullptr);

  EXPECT_EQ(LockInstrument(39), 1);
  const uint8_t *p = aInstrument[39].pData;
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(LockInstrument(39), 1); // already locked: same pointer, no second lock
  EXPECT_EQ(aInstrument[39].pData, p);
  EXPECT_EQ(p[0], 100);
  EXPECT_EQ(LockInstrument(5), 0); // failed instrument stays without data

  FreeLockCFG();
  EXPECT_EQ(aInstrument[39].pData, nullptr);
  EXPECT_NE(aInstrument[11].pData, nullptr);
  EXPECT_NE(aInstrument[8].pData, nullptr);

  RemoveCFG();
  for (const Instrument &inst : aInstrument) {
    ASSERT_EQ(inst.hData, nullptr);
    ASSERT_EQ(inst.pData, nullptr);
    ASSERT_EQ(inst.nDataSize, 0);
    ASSERT_EQ(inst.szPath[0], '\0');
    ASSERT_EQ(inst.bLockOnUse, 1);
  }
  EXPECT_EQ(anProgramMap[0][8], 0);
  EXPECT_EQ(anDrumMap[36][0], 0);
}

// Samples load on more than one thread; the list still hears of them in
// instrument order, on the caller's thread (a window list needs that).
TEST_F(CfgTest, ManySamplesAreReportedInOrderOnTheCallersThread) {
  std::string cfg;
  std::vector<std::string> expected;
  for (int i = 0; i < 300; i++) {
    const std::string name = std::to_string(i) + (i % 3 == 0 ? ".fpv" : ".epc");
    if (i % 7 != 3) { // the rest are missing
      if (i % 3 == 0) {
        testsupport::FpvFields f;
        f.nEnd = uint16_t(i);
        WriteSample(name, testsupport::MakeFpv(f, testsupport::Le16Bytes(Ramp(i + 1))));
      } else {
        WriteSample(name, testsupport::MakeEpc({}, Ramp(i + 1, int16_t(i))));
      }
    }
    cfg += std::to_string(i + 1) + ": " + name + "\n";
    std::string entry(1, i % 7 != 3 ? '+' : '-');
    expected.push_back(entry.append(SetPath(name)));
  }
  ASSERT_EQ(LoadConfig(cfg), 1);
  EXPECT_EQ(list.order, expected);
  for (const std::thread::id &id : list.reportThreads)
    ASSERT_EQ(id, std::this_thread::get_id());
  for (int i = 0; i < 300; i++) {
    const Instrument &inst = aInstrument[i];
    ASSERT_EQ(inst.hData != nullptr, i % 7 != 3) << i;
    if (i % 7 != 3 && i % 3 != 0) {
      ASSERT_EQ(inst.nDataSize, 2 * (i + 1)) << i;
    }
  }
}

TEST_F(CfgTest, AllLoadedClosesTheListAndOptionlessSetPlaysNowhere) {
  WriteSample("a.epc", testsupport::MakeEpc({}, Ramp(4)));
  WriteSample("b.epc", testsupport::MakeEpc({}, Ramp(4)));
  ASSERT_EQ(LoadConfig("3: a.epc\n4: b.epc\n"), 1);
  EXPECT_EQ(list.loaded.size(), 2u);
  EXPECT_TRUE(list.failed.empty());
  EXPECT_EQ(list.bLastAnyFailed, 0);
  for (int a = 0; a < kMapSize; a++)
    for (int b = 0; b < kMapSize; b++)
      ASSERT_EQ(anProgramMap[a][b], 0);
  // Program 0 bank 0 is "instrument 1" then: the empty record is pinned, not 3 or 4.
  EXPECT_EQ(aInstrument[0].bLockOnUse, 0);
  EXPECT_EQ(aInstrument[2].pData, nullptr);
}

TEST_F(CfgTest, MissingOrUnreadableConfigReturnsZeroWithoutList) {
  std::snprintf(szCfgName, sizeof szCfgName, "nothere.cfg");
  EXPECT_EQ(LoadCFG(), 0);
  std::snprintf(szCfgName, sizeof szCfgName, "."); // a directory is not a configuration
  EXPECT_EQ(LoadCFG(), 0);
  EXPECT_EQ(list.nBegin, 0);
  EXPECT_EQ(list.nEnd, 0);
}

TEST_F(CfgTest, HeadlessListWritesFailuresToStderr) {
  hwndHost = nullptr;
  WriteSample("ok.epc", testsupport::MakeEpc({}, Ramp(4)));
  testing::internal::CaptureStderr();
  ASSERT_EQ(LoadConfig("1: ok.epc\n2: gone.fpv\n3: sub\\gone.pat\n"), 1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "vokraunit: could not load: " + SetPath("gone.fpv") + "\n" +
                     "vokraunit: could not load: " + SetPath("sub/gone.pat") + "\n");
  EXPECT_EQ(list.nBegin, 0);
}

// The set-up dialog's reload: FreeLockCFG, RemoveCFG, LoadCFG gives the same
// set again; LoadCFG over a loaded set replaces every block (LeakSanitizer
// checks that the old ones are freed).
TEST_F(CfgTest, ReloadGivesTheSameSet) {
  WriteSample("a.epc", testsupport::MakeEpc({}, Ramp(6)));
  testsupport::FpvFields f;
  f.nEnd = 5;
  WriteSample("b.fpv", testsupport::MakeFpv(f, testsupport::Le16Bytes(Ramp(6, -5, -3))));
  const std::string cfg = "1: a.epc, T1\n2: b.fpv, T2 B3\n3: b.fpv, P40\n";
  ASSERT_EQ(LoadConfig(cfg), 1);
  ASSERT_EQ(LoadConfig(cfg), 1); // over the loaded set
  FreeLockCFG();
  RemoveCFG();
  ASSERT_EQ(LoadConfig(cfg), 1);
  EXPECT_EQ(list.nBegin, 3);
  EXPECT_EQ(list.loaded.size(), 9u);
  EXPECT_TRUE(list.failed.empty());
  EXPECT_EQ(anProgramMap[0][5], 0);
  EXPECT_EQ(anProgramMap[1][2], 1);
  EXPECT_EQ(anDrumMap[40][9], 2);
  ASSERT_EQ(LockInstrument(1), 1);
  EXPECT_EQ(aInstrument[1].nDataSize, 12);
  EXPECT_EQ(aInstrument[1].pData[0], uint8_t(-5));
  EXPECT_NE(aInstrument[2].pData, nullptr);
}
