// Cost of Make with 1, 32 and 256 looping voices, with and without linear
// interpolation, reported as nanoseconds per voice per output sample.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "common/unit_interface.h"
#include "unit/channels.h"
#include "unit/lookahead.h"
#include "unit/soundset.h"
#include "unit/unit_entry.h"
#include "unit/unit_state.h"
#include "unit/voices.h"

namespace {

// A looping sine instrument that holds at level 100 once attacked.
void SetUpUnit(int32_t nVoices, int32_t bInterp, int32_t nModulation = 40, int32_t nLowest = 30) {
  vokra::InitUNIT(nullptr, "/nonexistent/");
  vokra::nFinalGain = 127;
  vokra::bOverSample = bInterp;
  vokra::Instrument &r = vokra::aInstrument[0];
  const int32_t nSamples = 4000;
  r.nDataSize = nSamples * 2;
  r.hData = vokra::AllocBlock(static_cast<size_t>(r.nDataSize));
  r.pData = vokra::LockBlock(r.hData);
  for (int32_t i = 0; i < nSamples; ++i) {
    const int32_t v = static_cast<int32_t>(12000 * std::sin(2 * M_PI * i / 200));
    r.pData[2 * i] = static_cast<uint8_t>(v & 0xFF);
    r.pData[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
  }
  r.bLockOnUse = 0;
  r.nType = vokra::kTypeEpc;
  r.nInstGain = 64;
  r.nStart = 0;
  r.nLoopStart = 0;
  r.nEnd = r.nDataSize - 2;
  r.bLoop = 1;
  r.nAttackStep = 127;
  r.nDecayPeriod = 1;
  r.nDecay2Period = 1;
  r.nDecayLevel = 100;
  r.nFloorLevel = 100;
  r.nReleaseStep = 3;
  // Spread over the melodic channels, with some vibrato.
  for (int32_t v = 0; v < nVoices; ++v) {
    int32_t c = v % 15;
    if (c >= vokra::kRhythmChannel)
      ++c;
    const uint8_t abMod[5] = {3, 0, static_cast<uint8_t>(0xB0 | c), 1,
                              static_cast<uint8_t>(nModulation)};
    vokra::MidiIn(abMod, -1);
    const uint8_t abNote[5] = {3, 0, static_cast<uint8_t>(0x90 | c),
                               static_cast<uint8_t>(nLowest + v / 15), 100};
    vokra::MidiIn(abNote, -1);
  }
}

void BM_Make(benchmark::State &state) {
  const int32_t nVoices = static_cast<int32_t>(state.range(0));
  SetUpUnit(nVoices, static_cast<int32_t>(state.range(1)));
  int32_t an[48] = {};
  for (auto _ : state) {
    vokra::Make(an);
    benchmark::DoNotOptimize(an);
  }
  if (vokra::nVoiceTop != nVoices)
    state.SkipWithError("voices ended");
  state.counters["ns_per_voice_sample"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * nVoices,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  vokra::ClearInstruments();
}

BENCHMARK(BM_Make)->ArgsProduct({{1, 32, 256}, {0, 1}})->ArgNames({"voices", "interp"});

// The block form without vibrato, as a player renders the runs between
// events: a whole block a call, in quiet stretches. The lowest note picks the
// steps: below the sample's own rate (30), up to about two and a half
// times it (66), and faster (90); each has its own way of reading.
void BM_MakeBlock(benchmark::State &state) {
  const int32_t nVoices = static_cast<int32_t>(state.range(0));
  SetUpUnit(nVoices, 0, 0, static_cast<int32_t>(state.range(1)));
  std::vector<int32_t> anRows(48 * kBlockFrames);
  for (auto _ : state) {
    vokra::MakeBlock(anRows.data(), kBlockFrames);
    benchmark::DoNotOptimize(anRows.data());
  }
  state.counters["ns_per_voice_sample"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kBlockFrames * nVoices,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  vokra::ClearInstruments();
}

BENCHMARK(BM_MakeBlock)->ArgsProduct({{32, 256}, {30, 66, 90}})->ArgNames({"voices", "note"});

} // namespace

BENCHMARK_MAIN();
