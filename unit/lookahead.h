// Make, rendered ahead. The host calls Make once per output sample; rendering
// voice by voice over a block of samples keeps each voice's running state in
// registers and is several times cheaper than visiting every voice each
// sample. Every other entry point that reads or changes the unit's state must
// call SyncAhead first: it brings the voices back to exactly the state after
// the samples handed out so far, so the output is the same bit for bit as
// with Make called sample by sample.
#pragma once

#include <cstdint>

namespace vokra {

constexpr int32_t kAheadSamples = 128; // block length: short, as messages cut blocks short

// Adds the next output sample of the unit to the 48 accumulators, as Make does.
void MakeAhead(int32_t *pAcc);
// nCount samples of Make at once, added into the host's rows; returns the
// channels that sounded (see PfnMakeBlock).
uint32_t MakeBlock(int32_t *pRows, int32_t nCount);
// Drops the samples rendered but not yet handed out, leaving the voices, the
// vibrato phase and nVoiceTop as Make alone would have left them.
void SyncAhead();

} // namespace vokra
