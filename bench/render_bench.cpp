// Render speed: a real song through the real unit and freepats, with the
// player's effects off and on, and the empty pipeline (no unit at all).
#include <cstdlib>
#include <cstring>
#include <string>

#include <benchmark/benchmark.h>

#include "player/render/effects.h"
#include "player/state/engine_state.h"
#include "player/render/render_loop.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/units/unit_host.h"
#include "song_run.h"

namespace {

constexpr int32_t kRate = 44100;
constexpr int32_t kBlockBytes = 8192; // the recorder's block
const char kSong[] = "/usr/share/games/openttd/baseset/openmsx/chemistry_lab.mid";

void SetEffects(bool bOn) {
  bUseEff1 = bUseEff3 = bOn;
  n3DLength = bOn ? 800 : 0;
  pfn3DEngine = bOn ? Engine3DHeavy : Engine3DLight;
  bLPF = 0;
}

// Rendered seconds per wall second of a whole song, repeated from its start
// whenever it ends.
void BM_RenderSong(benchmark::State &state) {
  static const std::string sPlugin = MakeVokraPlugin(BENCH_BINARY_DIR "/songrun", VOKRA_UNIT_PATH);
  const auto abSong = ReadFileBytes(kSong);
  if (sPlugin.empty() || abSong.empty() || !BindVokraSlot(sPlugin)) {
    state.SkipWithError("vokraunit, freepats or the song is missing");
    return;
  }
  SetEffects(state.range(0) != 0);
  StartSongRun(abSong, kRate);
  int64_t nFrames = 0;
  for (auto _ : state) {
    RenderRecordBlock(kBlockBytes);
    nFrames += kBlockBytes / 4;
    if (!bPlaying) {
      state.PauseTiming();
      StartSongRun(abSong, kRate);
      state.ResumeTiming();
    }
  }
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(nFrames) / kRate, benchmark::Counter::kIsRate);
  state.SetItemsProcessed(nFrames);
  UnbindAllUnits();
  UnlockSong();
}
BENCHMARK(BM_RenderSong)->Arg(0)->Arg(1)->ArgName("effects")->Unit(benchmark::kMillisecond);

// The player's own per-sample work with no unit: mix, (effects), gains, store.
void BM_EmptyPipeline(benchmark::State &state) {
  UnbindAllUnits();
  AllocReverbLine();
  AllocChorusLine();
  AllocOutRing();
  nPCMRate = kRate;
  // 0: nothing; 1: reverb and chorus; 2: and 3D Light; 3: and 3D Heavy (depth 800).
  const int64_t nStage = state.range(0);
  SetEffects(nStage != 0);
  n3DLength = nStage >= 2 ? 800 : 0;
  pfn3DEngine = nStage == 3 ? Engine3DHeavy : Engine3DLight;
  ResetEffects();
  nTracks = 0;
  int64_t nFrames = 0;
  for (auto _ : state) {
    RenderRecordBlock(kBlockBytes);
    nFrames += kBlockBytes / 4;
  }
  state.SetItemsProcessed(nFrames); // items = output samples (stereo frames)
  // CPU time per output sample.
  state.counters["per_sample"] = benchmark::Counter(
      static_cast<double>(nFrames), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EmptyPipeline)->DenseRange(0, 3)->ArgName("stages");

// Keeps the unit's settings in the build tree.
const int kRegistrySet = setenv("TORQA_REGISTRY", BENCH_BINARY_DIR "/bench-registry.reg", 1);

} // namespace

BENCHMARK_MAIN();
