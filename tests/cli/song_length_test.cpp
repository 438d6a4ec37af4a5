// The terminal tool's song length, counted from the tempo map, against the
// sequencer's own walk of every tick: the same samples and the same clock and
// position left behind, on real songs and on random tempo maps that reach the
// accumulator's corners (ticks shorter than a sample, tempo 0 division).
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "tools/cli/song_file.h"
#include "tools/smf/smf_writer.h"

namespace fs = std::filesystem;

namespace {

struct Walked {
  int64_t nSamples;
  int32_t nTickAccum, nSongTick, nMeasure, nBeat, nTick, nActive;
  bool operator==(const Walked &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Walked &w) {
  return os << w.nSamples << " samples, accum " << w.nTickAccum << ", tick " << w.nSongTick << ", "
            << w.nMeasure << ":" << w.nBeat << "." << w.nTick << ", active " << w.nActive;
}

Walked Measure(const std::vector<uint8_t> &aSong, int32_t nRate, bool bCounted, int64_t nLimit) {
  if (!LoadSmfBytes(aSong.data(), static_cast<int32_t>(aSong.size())))
    return Walked{-1, 0, 0, 0, 0, 0, 0}; // not a song the loader takes
  BeginSongWalk(nRate);
  const int64_t n = bCounted ? SongLengthSamples(nLimit) : WalkToSongEnd(nLimit);
  Walked w{n, nTickAccum, nSongTick, nMeasure, nBeatInMeasure, nTickInBeat, ActiveTrackCount()};
  EndSongWalk();
  FreeSong();
  return w;
}

std::vector<uint8_t> ReadAll(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(SongLength, EqualsTheWalkOnEveryOpenMsxSong) {
  int nSongs = 0;
  for (const auto &entry : fs::directory_iterator("/usr/share/games/openttd/baseset/openmsx")) {
    if (entry.path().extension() != ".mid")
      continue;
    const std::vector<uint8_t> aSong = ReadAll(entry.path());
    for (int32_t nRate : {22050, 44100})
      EXPECT_EQ(Measure(aSong, nRate, true, INT64_MAX), Measure(aSong, nRate, false, INT64_MAX))
          << entry.path() << " at " << nRate;
    ++nSongs;
  }
  if (nSongs == 0)
    GTEST_SKIP() << "openmsx is not installed";
}

TEST(SongLength, EqualsTheWalkOnRandomTempoMaps) {
  std::mt19937 rng(19);
  int nLoaded = 0;
  for (int nCase = 0; nCase < 300; ++nCase) {
    // Divisions up to 0x7FFF at 5200 Hz give ticks far shorter than a sample.
    const uint32_t nTicksPerQuarter = rng() % 4 == 0 ? 0x7FFF : 1 + rng() % 960;
    smfw::File file(1, rng() % 20 == 0 ? 0 : nTicksPerQuarter);
    for (int nTrack = 1 + static_cast<int>(rng() % 3); nTrack > 0; --nTrack) {
      smfw::Track &t = file.AddTrack();
      for (int nEvent = static_cast<int>(rng() % 6); nEvent > 0; --nEvent) {
        const uint32_t nDelta = rng() % 3 == 0 ? rng() % 4 : rng() % 40000;
        if (rng() % 2)
          t.Tempo(nDelta, 1 + rng() % 3000000);
        else
          t.NoteOn(nDelta, 0, 60, 0);
      }
      t.EndOfTrack(rng() % 50000);
    }
    const std::vector<uint8_t> aSong = file.Build();
    const int32_t nRate = rng() % 2 ? 5200 : 96000;
    const Walked walked = Measure(aSong, nRate, false, INT64_MAX);
    EXPECT_EQ(Measure(aSong, nRate, true, INT64_MAX), walked) << "case " << nCase;
    nLoaded += walked.nSamples >= 0;
  }
  EXPECT_GT(nLoaded, 250);
}

TEST(SongLength, StopsAtTheLimitAsTheWalkDoes) {
  smfw::File file(0, 480);
  file.AddTrack().NoteOn(0, 0, 60, 100).EndOfTrack(0x0FFFFFFF);
  const std::vector<uint8_t> aSong = file.Build();
  for (int64_t nLimit : {int64_t{1}, int64_t{12345}, int64_t{44100} * 3600})
    EXPECT_EQ(Measure(aSong, 44100, true, nLimit).nSamples, nLimit);
}
