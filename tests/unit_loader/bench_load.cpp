// Patch conversion speed: every freepats patch, read once, converted again
// and again in memory (no file system in the loop), page faults included.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "unit/sample_loaders.h"
#include "unit/soundset.h"

namespace {

std::vector<std::vector<uint8_t>> ReadFreepats() {
  std::vector<std::vector<uint8_t>> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator("/usr/share/midi/freepats", ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().extension() != ".pat")
      continue;
    std::ifstream in(it->path(), std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return files;
}

void BM_ParseFreepats(benchmark::State &state) {
  const std::vector<std::vector<uint8_t>> files = ReadFreepats();
  if (files.empty()) {
    state.SkipWithError("freepats is not installed");
    return;
  }
  int64_t nBytes = 0;
  // As a sound set loads: every patch into an instrument of its own, all
  // freed together.
  for (auto _ : state) {
    for (size_t i = 0; i < files.size() && i < vokra::kInstruments; i++) {
      vokra::Instrument &inst = vokra::aInstrument[i];
      inst.bLockOnUse = 0;
      vokra::ParsePatSample(inst, files[i].data(), files[i].size());
      nBytes += inst.nDataSize;
    }
    vokra::ClearInstruments();
  }
  state.counters["output_MB_per_s"] =
      benchmark::Counter(static_cast<double>(nBytes) / 1e6, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ParseFreepats)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
