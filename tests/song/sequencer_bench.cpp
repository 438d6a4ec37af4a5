// The cost of the tick clock per output sample, walking a real song with no unit
// bound (what the render loop pays for the sequencer), and of loading it.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"

static std::vector<uint8_t> FirstOpenMsxSong() {
  const char *pszDir = "/usr/share/games/openttd/baseset/openmsx/";
  std::ifstream in(std::string(pszDir) + "chemistry_lab.mid", std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

static void BM_LoadSmfBytes(benchmark::State &state) {
  const auto ab = FirstOpenMsxSong();
  for (auto _ : state)
    benchmark::DoNotOptimize(LoadSmfBytes(ab.data(), static_cast<int32_t>(ab.size())));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * ab.size()));
}
BENCHMARK(BM_LoadSmfBytes);

static void BM_WalkSongPerSample(benchmark::State &state) {
  const auto ab = FirstOpenMsxSong();
  if (!LoadSmfBytes(ab.data(), static_cast<int32_t>(ab.size()))) {
    state.SkipWithError("chemistry_lab.mid not found");
    return;
  }
  nPCMRate = 44100;
  int64_t nSamples = 0;
  for (auto _ : state) {
    ResetSequencer();
    LockSong();
    PrepareSong();
    SetTempoBpm(nTempoBpm);
    ResetTimeSignature();
    while (ActiveTrackCount() > 0) {
      SequencerClock();
      ++nSamples;
    }
    UnlockSong();
  }
  state.SetItemsProcessed(nSamples);
}
BENCHMARK(BM_WalkSongPerSample)->Unit(benchmark::kMillisecond);
