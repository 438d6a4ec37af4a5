// Real songs nobody here wrote (Debian's openttd-openmsx) checked against an
// independent reader (midicsv): every channel and system-exclusive event arrives
// in file order per track at the tick midicsv gives, and every track ends. Then
// damaged copies of the same songs: they load or are refused, and the walk stays
// inside the image and ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "capture_unit.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "support/midicsv.h"

using smfw::Bytes;

namespace {

constexpr int kOpenMsxSongs = 31;

std::string FindOpenMsxDir() {
  if (const char *psz = std::getenv("TORQA_OPENMSX_DIR"))
    return psz;
  for (const char *psz : {"/usr/share/games/openttd/baseset/openmsx",
                          "/usr/share/openttd/baseset/openmsx", "/usr/share/games/openmsx"}) {
    struct stat st;
    if (stat(psz, &st) == 0 && S_ISDIR(st.st_mode))
      return psz;
  }
  return "";
}

std::vector<std::string> OpenMsxSongs() {
  std::vector<std::string> as;
  const std::string sDir = FindOpenMsxDir();
  if (sDir.empty())
    return as;
  if (DIR *pDir = opendir(sDir.c_str())) {
    while (const dirent *pEntry = readdir(pDir)) {
      const std::string sName = pEntry->d_name;
      if (sName.size() > 4 && sName.compare(sName.size() - 4, 4, ".mid") == 0)
        as.push_back(sDir + "/" + sName);
    }
    closedir(pDir);
  }
  std::sort(as.begin(), as.end());
  return as;
}

struct ExpectedEvent {
  int64_t nTick;
  std::vector<uint8_t> ab; // as the units receive it
};

struct CsvSong {
  int nFormat = -1, nTracks = -1, nDivision = -1;
  std::vector<std::vector<ExpectedEvent>> aTracks; // index = track number from 0
  std::vector<std::string> asNames;
  std::vector<int> abEnded;
};

bool ReadMidiCsv(const std::string &sMidiCsv, const std::string &sSong, CsvSong &song) {
  std::vector<testsupport::MidiCsvRecord> aRecords;
  const bool bRead = testsupport::MidiCsvRecords(sSong, aRecords, sMidiCsv);
  auto eventFor = [&song](int nTrack) -> std::vector<ExpectedEvent> & {
    return song.aTracks[nTrack];
  };
  for (const testsupport::MidiCsvRecord &as : aRecords) {
    if (as.size() < 3)
      continue;
    const int nTrack = std::stoi(as[0]) - 1;
    const int64_t nTick = std::stoll(as[1]);
    const std::string &sType = as[2];
    auto num = [&as](size_t i) { return std::stoi(as.at(i)); };
    if (sType == "Header") {
      song.nFormat = num(3);
      song.nTracks = num(4);
      song.nDivision = num(5);
      song.aTracks.resize(song.nTracks);
      song.asNames.resize(song.nTracks);
      song.abEnded.resize(song.nTracks);
      continue;
    }
    if (nTrack < 0 || nTrack >= song.nTracks)
      continue;
    auto channel = [&](int nStatus, std::initializer_list<int> anData) {
      std::vector<uint8_t> ab = {static_cast<uint8_t>(1 + anData.size()), 0,
                                 static_cast<uint8_t>(nStatus | num(3))};
      for (int n : anData)
        ab.push_back(static_cast<uint8_t>(n));
      eventFor(nTrack).push_back({nTick, ab});
    };
    if (sType == "Note_on_c")
      channel(0x90, {num(4), num(5)});
    else if (sType == "Note_off_c")
      channel(0x80, {num(4), num(5)});
    else if (sType == "Poly_aftertouch_c")
      channel(0xA0, {num(4), num(5)});
    else if (sType == "Control_c")
      channel(0xB0, {num(4), num(5)});
    else if (sType == "Program_c")
      channel(0xC0, {num(4)});
    else if (sType == "Channel_aftertouch_c")
      channel(0xD0, {num(4)});
    else if (sType == "Pitch_bend_c")
      channel(0xE0, {num(4) & 0x7F, num(4) >> 7});
    else if (sType == "System_exclusive") {
      const int nLength = num(3);
      std::vector<uint8_t> ab = {static_cast<uint8_t>(nLength), static_cast<uint8_t>(nLength >> 8),
                                 0xF0};
      for (int i = 0; i < nLength; ++i)
        ab.push_back(static_cast<uint8_t>(num(4 + i)));
      ab.push_back(0);
      eventFor(nTrack).push_back({nTick, ab});
    } else if (sType == "Title_t")
      song.asNames[nTrack] = as.at(3).substr(0, 255);
    else if (sType == "End_track")
      song.abEnded[nTrack] = 1;
  }
  return bRead;
}

int32_t abSawEndOfTrack[kMaxTracks];

void NoteEndOfTrack(int32_t nTrack, int32_t nStatus, int32_t nData1, int32_t) {
  if (nStatus == 0xFF && nData1 == 0x2F)
    abSawEndOfTrack[nTrack] = 1;
}

class OpenMsxTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetSongTestState();
    asSongs_ = OpenMsxSongs();
    ASSERT_EQ(asSongs_.size(), static_cast<size_t>(kOpenMsxSongs))
        << "the openttd-openmsx songs were not found (install the Debian package "
           "openttd-openmsx, as ./test.sh does, or set TORQA_OPENMSX_DIR)";
  }
  void TearDown() override {
    pfnSequencerObserver = nullptr;
    UnlockSong();
    FreeSong();
  }
  std::vector<std::string> asSongs_;
};

TEST_F(OpenMsxTest, EveryEventArrivesAtTheTickMidicsvGives) {
  const std::string sMidiCsv = testsupport::FindMidiCsv();
  ASSERT_FALSE(sMidiCsv.empty()) << "midicsv not found (install the Debian package midicsv, as "
                                    "./test.sh does)";
  for (const std::string &sSong : asSongs_) {
    SCOPED_TRACE(sSong);
    CsvSong csv;
    ASSERT_TRUE(ReadMidiCsv(sMidiCsv, sSong, csv));
    ResetSongTestState();
    InstallCaptureUnit(0, 1);
    ASSERT_EQ(LoadSmf(sSong.c_str()), 1);
    EXPECT_EQ(nSmfFormat, csv.nFormat);
    ASSERT_EQ(nTracks, csv.nTracks);
    EXPECT_EQ(nDivision, csv.nDivision);
    for (int t = 0; t < nTracks; ++t)
      EXPECT_EQ(aTrackInfo[t].szName, csv.asNames[t]) << "track " << t;

    std::fill(std::begin(abSawEndOfTrack), std::end(abSawEndOfTrack), 0);
    pfnSequencerObserver = NoteEndOfTrack;
    StartLoadedSong(44100);
    WalkSong(int64_t{44100} * 60 * 30);
    pfnSequencerObserver = nullptr;
    EXPECT_EQ(ActiveTrackCount(), 0);

    std::vector<std::vector<const CapturedMessage *>> aGot(nTracks);
    for (const CapturedMessage &message : gCaptured) {
      ASSERT_GE(message.nSource, 0);
      ASSERT_LT(message.nSource, nTracks);
      aGot[message.nSource].push_back(&message);
    }
    size_t nEvents = 0;
    for (int t = 0; t < nTracks; ++t) {
      EXPECT_TRUE(csv.abEnded[t] && abSawEndOfTrack[t]) << "track " << t << " did not end";
      const auto &expected = csv.aTracks[t];
      ASSERT_EQ(aGot[t].size(), expected.size()) << "track " << t;
      for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(Hex(aGot[t][i]->ab), Hex(expected[i].ab)) << "track " << t << " event " << i;
        ASSERT_EQ(aGot[t][i]->nSongTick, std::max<int64_t>(expected[i].nTick, 1))
            << "track " << t << " event " << i;
      }
      nEvents += expected.size();
    }
    EXPECT_GT(nEvents, 100u);
    UnlockSong();
  }
}

Bytes ReadBytes(const std::string &sPath) {
  std::ifstream in(sPath, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Damaged copies of one song: cut at several points, bytes overwritten at random
// (in the headers and anywhere), chunk lengths made huge.
std::vector<Bytes> DamagedCopies(const Bytes &ab, uint32_t nSeed) {
  std::vector<Bytes> aCopies;
  const size_t n = ab.size();
  for (size_t nCut : {size_t{0}, size_t{4}, size_t{13}, size_t{14}, size_t{21}, size_t{22},
                      size_t{23}, size_t{30}, n / 4, n / 2, 3 * n / 4, n - 3, n - 1})
    aCopies.emplace_back(ab.begin(), ab.begin() + static_cast<std::ptrdiff_t>(std::min(nCut, n)));
  std::mt19937 rng(nSeed);
  for (int k = 0; k < 16; ++k) {
    Bytes abCopy = ab;
    const size_t nSpan = k < 8 ? std::min<size_t>(n, 64) : n;
    const int nFlips = 1 + k % 8;
    for (int i = 0; i < nFlips; ++i)
      abCopy[rng() % nSpan] = static_cast<uint8_t>(rng());
    aCopies.push_back(abCopy);
  }
  for (uint8_t nTop : {uint8_t{0x7F}, uint8_t{0xFF}}) {
    Bytes abCopy = ab;
    for (size_t i = 0; i + 8 <= n; ++i)
      if (abCopy[i] == 'M' && abCopy[i + 1] == 'T' && abCopy[i + 2] == 'r' &&
          abCopy[i + 3] == 'k') {
        abCopy[i + 4] = nTop;
        abCopy[i + 5] = abCopy[i + 6] = abCopy[i + 7] = 0xFF;
      }
    aCopies.push_back(abCopy);
  }
  return aCopies;
}

TEST_F(OpenMsxTest, DamagedCopiesLoadOrAreRefusedAndStayInTheImage) {
  int nLoaded = 0, nRefused = 0;
  uint32_t nSeed = 20261207;
  for (const std::string &sSong : asSongs_) {
    SCOPED_TRACE(sSong);
    const Bytes ab = ReadBytes(sSong);
    ASSERT_GT(ab.size(), 100u);
    const auto aCopies = DamagedCopies(ab, nSeed++);
    for (size_t k = 0; k < aCopies.size(); ++k) {
      ResetSongTestState();
      InstallCaptureUnit(0, 1);
      nTickStep = 1024; // quarter of the samples: the walk, not the time, is under test
      const Bytes &abCopy = aCopies[k];
      if (!LoadSmfBytes(abCopy.data(), static_cast<int32_t>(abCopy.size()))) {
        ++nRefused;
        EXPECT_EQ(hSongMem, nullptr);
        continue;
      }
      ++nLoaded;
      StartLoadedSong(5200);
      nTickStep = 1024;
      WalkSong(200000);
      for (int t = 0; t < kMaxTracks; ++t) {
        ASSERT_GE(anTrackPos[t], 0) << "copy " << k;
        ASSERT_LE(anTrackPos[t], SongImageEnd()) << "copy " << k;
      }
      for (const CapturedMessage &message : gCaptured)
        ASSERT_LE(message.ab.size(), 1024u);
      UnlockSong();
    }
  }
  EXPECT_GT(nLoaded, 0);
  EXPECT_GT(nRefused, 0);
}

} // namespace
