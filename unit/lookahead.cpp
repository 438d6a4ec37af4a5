// The look-ahead behind the exported Make: a block of samples rendered voice
// by voice, handed out one sample per call, and undone to the sample reached
// when anything else touches the unit.
#include <bit>
#include <climits>
#include <cstring>

#include "common/unit_interface.h"
#include "unit/channels.h"
#include "unit/lookahead.h"
#include "unit/unit_entry.h"
#include "unit/unit_state.h"
#include "unit/voices.h"

namespace vokra {

namespace {

constexpr int32_t kNotActive = -2;    // anEndSample: voice silent when the block began
constexpr int32_t kNoEnd = INT32_MAX; // anEndSample: still sounding at the block's end

// The block being handed out. Between blocks every row is all zero: Make
// clears each value as it hands it out, and SyncAhead clears what it drops.
int32_t anAheadSine[kAheadSamples];                  // vibrato sine of each sample
int32_t anAheadSum[kChannelCount][kAheadSamples];    // a channel's nSum of each sample
int32_t anAheadVoices[kChannelCount][kAheadSamples]; // its nVoiceCount, as changes
uint32_t nAheadChannels = 0;                         // bit ch: a voice of ch sounded
int32_t nAheadLength = 0;                            // samples in the block
int32_t nAheadNext = 0;                              // next sample to hand out
int32_t anEndSample[kVoiceCount];                    // sample in which a voice ended

// A channel of the block, with what Make reads of it: the gain and
// pan stay put for a block (a message that changes them first undoes the
// block), and nVoices is the channel's voice count in the sample handed out.
struct AheadSlot {
  int64_t nGainPanL; // nGain x nPanL (at most 124 x 63: the product with a sum cannot wrap)
  int64_t nGainPanR; // nGain x nPanR
  int32_t *pnSum;
  int32_t *pnVoices;
  int32_t nChannel;
  int32_t nVoices;
};
AheadSlot aAheadSlot[kChannelCount];
int32_t nAheadSlots = 0;

// The state at the start of the block, to go back to.
Voice aSavedVoice[kVoiceCount];
int32_t nSavedTop = 0;
int32_t nSavedLfoPhase = 0;
int32_t nSavedLfoCount = 0;

// Clears the rows of the channels in nChannels.
void ClearRows(uint32_t nChannels) {
  for (uint32_t nBits = nChannels; nBits != 0; nBits &= nBits - 1) {
    const int32_t ch = std::countr_zero(nBits);
    std::memset(anAheadSum[ch], 0, sizeof anAheadSum[ch]);
    std::memset(anAheadVoices[ch], 0, sizeof anAheadVoices[ch]);
  }
}

// nVoiceTop as sample-by-sample rendering leaves it. Each ending voice
// recounts it from the active flags at that moment; voice by voice, the
// recounts come out of order, so the last one in time order is redone here:
// at (sample nLastSample, voice nLastVoice), voices that ended before it, or
// in the same sample at a lower index, are gone; all others still sound.
void RecountTop(int32_t nTop, int32_t nLastSample, int32_t nLastVoice) {
  int32_t v = nTop - 1;
  for (; v >= 0; --v) {
    const int32_t e = anEndSample[v];
    if (e == kNotActive)
      continue;
    const bool bGone = e != kNoEnd && (e < nLastSample || (e == nLastSample && v <= nLastVoice));
    if (!bGone)
      break;
  }
  nVoiceTop = v + 1;
}

// The slots of the channels that sounded in the block.
void FillAheadSlots() {
  int32_t j = 0;
  for (uint32_t nBits = nAheadChannels; nBits != 0; nBits &= nBits - 1, ++j) {
    const int32_t ch = std::countr_zero(nBits);
    const UnitChannel &rChannel = aUnitChannel[ch];
    const int64_t nGain = rChannel.nGain;
    aAheadSlot[j] = {
        nGain * rChannel.nPanL, nGain * rChannel.nPanR, anAheadSum[ch], anAheadVoices[ch], ch, 0};
  }
  nAheadSlots = j;
}

// Renders nCount samples from the current state into the block arrays and
// moves the state on by as much.
void RenderAheadSamples(int32_t nCount) {
  for (int32_t i = 0; i < nCount; ++i) {
    StepLfo();
    anAheadSine[i] = anLfoSine[nLfoPhase];
  }
  nAheadChannels = 0;
  const int32_t nTop = nVoiceTop;
  int32_t nLastSample = -1; // the latest recount, by sample, then voice
  int32_t nLastVoice = -1;
  for (int32_t v = 0; v < nTop; ++v) {
    if (!aVoice[v].bActive) {
      anEndSample[v] = kNotActive;
      continue;
    }
    const int32_t ch = aVoice[v].nChannel;
    const uint32_t nBit = uint32_t{1} << ch;
    nAheadChannels |= nBit;
    const VoiceRun run = RenderVoiceRun(v, nCount, anAheadSine, anAheadSum[ch]);
    // Counted in every sample it sounded in: marks now, a running sum as
    // the samples are handed out.
    anAheadVoices[ch][0] += 1;
    if (run.nSamples < nCount)
      anAheadVoices[ch][run.nSamples] -= 1;
    anEndSample[v] = kNoEnd;
    if (!aVoice[v].bActive) {
      const int32_t e = run.nSamples - 1;
      anEndSample[v] = e;
      if (run.bRecounted && (e > nLastSample || (e == nLastSample && v > nLastVoice))) {
        nLastSample = e;
        nLastVoice = v;
      }
    }
  }
  if (nLastVoice >= 0)
    RecountTop(nTop, nLastSample, nLastVoice);
  else
    nVoiceTop = nTop; // no recount happened: the value stays, stale or not
}

} // namespace

void MakeAhead(int32_t *pAcc) {
  if (nAheadNext >= nAheadLength) {
    nSavedTop = nVoiceTop;
    nSavedLfoPhase = nLfoPhase;
    nSavedLfoCount = nLfoCount;
    std::memcpy(aSavedVoice, aVoice, sizeof(Voice) * static_cast<size_t>(nVoiceTop));
    RenderAheadSamples(kAheadSamples);
    FillAheadSlots();
    nAheadLength = kAheadSamples;
    nAheadNext = 0;
  }
  // Make's channel sums, all wrapping, for the channels of the block.
  const int32_t i = nAheadNext++;
  const int32_t nSlots = nAheadSlots; // pAcc may alias the globals: read once
  for (int32_t j = 0; j < nSlots; ++j) {
    AheadSlot &rSlot = aAheadSlot[j];
    const int32_t ch = rSlot.nChannel;
    const int64_t nSum = rSlot.pnSum[i];
    const int32_t nVoices = rSlot.nVoices + rSlot.pnVoices[i];
    rSlot.pnSum[i] = 0; // the rows are all zero again when the block is out
    rSlot.pnVoices[i] = 0;
    rSlot.nVoices = nVoices;
    pAcc[kAccLeft + ch] =
        static_cast<int32_t>(static_cast<uint32_t>(pAcc[kAccLeft + ch]) +
                             static_cast<uint32_t>(nSum * rSlot.nGainPanL / kPanScale));
    pAcc[kAccRight + ch] =
        static_cast<int32_t>(static_cast<uint32_t>(pAcc[kAccRight + ch]) +
                             static_cast<uint32_t>(nSum * rSlot.nGainPanR / kPanScale));
    pAcc[kAccVoices + ch] = static_cast<int32_t>(static_cast<uint32_t>(pAcc[kAccVoices + ch]) +
                                                 static_cast<uint32_t>(nVoices));
  }
}

void SyncAhead() {
  if (nAheadNext < nAheadLength) {
    // Back to the start of the block, then forward to the sample reached.
    std::memcpy(aVoice, aSavedVoice, sizeof(Voice) * static_cast<size_t>(nSavedTop));
    nVoiceTop = nSavedTop;
    nLfoPhase = nSavedLfoPhase;
    nLfoCount = nSavedLfoCount;
    ClearRows(nAheadChannels); // what was not handed out
    RenderAheadSamples(nAheadNext);
    ClearRows(nAheadChannels); // the replay's own sums, not handed out again
  }
  nAheadLength = 0;
  nAheadNext = 0;
}

} // namespace vokra
