// The look-ahead behind the exported Make: a block of samples rendered voice
// by voice, handed out one sample per call, and undone to the sample reached
// when anything else touches the unit.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/simd_scale.h"
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

// The block. RenderAheadSamples adds into the sum rows and voice counts,
// which are all zero between blocks: ScaleRows turns them into the rows
// handed out and clears them, and SyncAhead clears what a replay leaves.
// Rows long enough for Make's look-ahead and for MakeBlock's longer blocks.
constexpr int32_t kRowSamples = std::max(kAheadSamples, kBlockFrames);
int32_t anAheadSine[kRowSamples];                           // vibrato sine of each sample
alignas(32) int32_t anAheadSum[kChannelCount][kRowSamples]; // a channel's nSum of each sample
int32_t anAheadStart[kChannelCount]; // voices of a channel sounding as the block began
// A voice that ended inside the block: its channel counts one voice fewer
// from nSample on.
struct AheadEnd {
  int32_t nChannel;
  int32_t nSample;
};
AheadEnd aAheadEnd[kVoiceCount];
int32_t nAheadEnds = 0;
uint32_t nAheadChannels = 0;      // bit ch: a voice of ch sounded
int32_t nAheadLength = 0;         // samples in the block
int32_t nAheadNext = 0;           // next sample to hand out
int32_t anEndSample[kVoiceCount]; // sample in which a voice ended

// What Make adds for each sample of the block, per channel that sounded.
// The gain and pan stay put for a block: a message that changes them first
// undoes the block.
alignas(16) int32_t anAheadLeft[kChannelCount][kAheadSamples];  // nSum x nGain x nPanL / kPanScale
alignas(16) int32_t anAheadRight[kChannelCount][kAheadSamples]; // nSum x nGain x nPanR / kPanScale
int32_t anAheadCount[kChannelCount][kAheadSamples];             // nVoiceCount
int32_t anAheadSlot[kChannelCount]; // the channels that sounded, in order
int32_t nAheadSlots = 0;

// The state at the start of the block, to go back to.
Voice aSavedVoice[kVoiceCount];
int32_t nSavedTop = 0;
int32_t nSavedLfoPhase = 0;
int32_t nSavedLfoCount = 0;

// Clears the first nCount samples of the rows of the channels in nChannels.
void ClearRows(uint32_t nChannels, int32_t nCount) {
  for (uint32_t nBits = nChannels; nBits != 0; nBits &= nBits - 1) {
    const int32_t ch = std::countr_zero(nBits);
    std::memset(anAheadSum[ch], 0, sizeof anAheadSum[ch][0] * static_cast<size_t>(nCount));
    anAheadStart[ch] = 0;
  }
  nAheadEnds = 0;
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

#if defined(__SSE2__)
// x x g / kPanScale for four sums x, for a weight 0 <= g < 2^13 in the even
// lanes of vWeight (|x| x g < 2^44).
inline __m128i PanScale4(__m128i v, __m128i vWeight) {
  static_assert(kPanScale == 3 << 13);
  return ScaleThirds4<13>(v, vWeight);
}
#endif

// Wrapping sums of the rows handed out: stored into the block's own rows,
// added into the host's.
template <bool kAdd> inline void Put(int32_t *p, int32_t v) {
  *p = kAdd ? static_cast<int32_t>(static_cast<uint32_t>(*p) + static_cast<uint32_t>(v)) : v;
}
#if defined(__SSE2__)
template <bool kAdd> inline void Put4(int32_t *p, __m128i v) {
  auto *const q = reinterpret_cast<__m128i *>(p);
  _mm_storeu_si128(q, kAdd ? _mm_add_epi32(_mm_loadu_si128(q), v) : v);
}
#endif

// Where Make's values go: channel ch's rows start at pLeft, pRight and
// pCount + ch x nStride. bEveryCount: the voice counts of every sample (the
// look-ahead's own rows), else only of the last one (MakeBlock's contract).
struct RowsOut {
  int32_t *pLeft;
  int32_t *pRight;
  int32_t *pCount;
  int32_t nStride;
  bool bEveryCount;
};

#if defined(VOKRA_WIDE_SUMS)
// ScaleRow's vector loop eight samples at a time, where the processor has
// AVX2 (bWideSums). Returns the samples done.
template <bool kAdd>
[[gnu::target("avx2")]] int32_t ScaleRowWide(int32_t *pnSum, int32_t nCount, int32_t *pnLeft,
                                             int32_t *pnRight, int32_t nWeightL, int32_t nWeightR) {
  static_assert(kPanScale == 3 << 13);
  const __m256i vL = _mm256_set1_epi32(nWeightL);
  const __m256i vR = _mm256_set1_epi32(nWeightR);
  int32_t i = 0;
  for (; i + 8 <= nCount; i += 8) {
    auto *const p = reinterpret_cast<__m256i *>(pnSum + i);
    const __m256i v = _mm256_load_si256(p);
    _mm256_store_si256(p, _mm256_setzero_si256());
    const __m256i vLeft = ScaleThirds8<13>(v, vL);
    const __m256i vRight = nWeightL == nWeightR ? vLeft : ScaleThirds8<13>(v, vR);
    auto *const pL = reinterpret_cast<__m256i *>(pnLeft + i);
    auto *const pR = reinterpret_cast<__m256i *>(pnRight + i);
    _mm256_storeu_si256(pL, kAdd ? _mm256_add_epi32(_mm256_loadu_si256(pL), vLeft) : vLeft);
    _mm256_storeu_si256(pR, kAdd ? _mm256_add_epi32(_mm256_loadu_si256(pR), vRight) : vRight);
  }
  return i;
}
#endif

// Make's values for channel ch over the first nCount samples of the block,
// from its sum row, which goes back to zero.
template <bool kAdd> void ScaleRow(int32_t ch, int32_t nCount, int32_t *pnLeft, int32_t *pnRight) {
  const UnitChannel &rChannel = aUnitChannel[ch];
  const int64_t nGainPanL = static_cast<int64_t>(rChannel.nGain) * rChannel.nPanL;
  const int64_t nGainPanR = static_cast<int64_t>(rChannel.nGain) * rChannel.nPanR;
  int32_t *const pnSum = anAheadSum[ch];
  int32_t i = 0;
#if defined(__SSE2__)
  // The channel's gain (at most 124) and pans (at most 63) keep the weights
  // small; other values take the plain loop.
  if (nGainPanL >= 0 && nGainPanL < 8192 && nGainPanR >= 0 && nGainPanR < 8192) {
#if defined(VOKRA_WIDE_SUMS)
    if (bWideSums)
      i = ScaleRowWide<kAdd>(pnSum, nCount, pnLeft, pnRight, static_cast<int32_t>(nGainPanL),
                             static_cast<int32_t>(nGainPanR));
#endif
    const __m128i vL = _mm_set1_epi32(static_cast<int32_t>(nGainPanL));
    const __m128i vR = _mm_set1_epi32(static_cast<int32_t>(nGainPanR));
    const bool bCentre = nGainPanL == nGainPanR; // both sides alike: one product
    for (; i + 4 <= nCount; i += 4) {
      auto *const p = reinterpret_cast<__m128i *>(pnSum + i);
      const __m128i v = _mm_load_si128(p);
      _mm_store_si128(p, _mm_setzero_si128());
      const __m128i vLeft = PanScale4(v, vL);
      Put4<kAdd>(pnLeft + i, vLeft);
      Put4<kAdd>(pnRight + i, bCentre ? vLeft : PanScale4(v, vR));
    }
  }
#endif
  for (; i < nCount; ++i) {
    const int64_t nSum = pnSum[i];
    pnSum[i] = 0;
    Put<kAdd>(pnLeft + i, static_cast<int32_t>(nSum * nGainPanL / kPanScale));
    Put<kAdd>(pnRight + i, static_cast<int32_t>(nSum * nGainPanR / kPanScale));
  }
}

// nVoices in samples nFrom .. nCount - 1 of a count row.
template <bool kAdd>
void FillCount(int32_t *pnCount, int32_t nFrom, int32_t nCount, int32_t nVoices) {
  int32_t i = nFrom;
#if defined(__SSE2__)
  for (const __m128i v = _mm_set1_epi32(nVoices); i + 4 <= nCount; i += 4)
    Put4<kAdd>(pnCount + i, v);
#endif
  for (; i < nCount; ++i)
    Put<kAdd>(pnCount + i, nVoices);
}

// The rows handed out, for every channel that sounded in the first nCount
// samples of the block; the slots list those channels. The voices that ended
// inside the block are taken off the counts afterwards.
template <bool kAdd> void ScaleRows(int32_t nCount, const RowsOut &out) {
  // Only the last sample's counts, or all from the first.
  const int32_t nCountFrom = out.bEveryCount ? 0 : nCount - 1;
  int32_t j = 0;
  for (uint32_t nBits = nAheadChannels; nBits != 0; nBits &= nBits - 1) {
    const int32_t ch = std::countr_zero(nBits);
    ScaleRow<kAdd>(ch, nCount, out.pLeft + ch * out.nStride, out.pRight + ch * out.nStride);
    FillCount<kAdd>(out.pCount + ch * out.nStride, nCountFrom, nCount, anAheadStart[ch]);
    anAheadStart[ch] = 0;
    anAheadSlot[j++] = ch;
  }
  nAheadSlots = j;
  for (int32_t e = 0; e < nAheadEnds; ++e) {
    int32_t *const pnCount = out.pCount + aAheadEnd[e].nChannel * out.nStride;
    for (int32_t i = std::max(aAheadEnd[e].nSample, nCountFrom); i < nCount; ++i)
      Put<true>(pnCount + i, -1);
  }
  nAheadEnds = 0;
}

// Renders nCount samples from the current state into the block arrays and
// moves the state on by as much.
void RenderAheadSamples(int32_t nCount) {
  // Only a channel with modulation reads the vibrato sine; the clock runs on
  // all the same.
  bool bSine = false;
  for (int32_t ch = 0; ch < kChannelCount; ++ch)
    bSine = bSine || aUnitChannel[ch].nModulation != 0;
  for (int32_t i = 0; i < nCount;) {
    // Samples that only count the vibrato clock down keep its phase.
    const int32_t nRun = nLfoCount < nCount - i ? nLfoCount : nCount - i;
    if (nRun > 0) {
      if (bSine)
        std::fill_n(anAheadSine + i, nRun, anLfoSine[nLfoPhase]);
      nLfoCount -= nRun;
      i += nRun;
      continue;
    }
    StepLfo();
    anAheadSine[i++] = anLfoSine[nLfoPhase];
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
    // Counted in every sample it sounded in.
    anAheadStart[ch] += 1;
    if (run.nSamples < nCount)
      aAheadEnd[nAheadEnds++] = {ch, run.nSamples};
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
    ScaleRows<false>(kAheadSamples,
                     {anAheadLeft[0], anAheadRight[0], anAheadCount[0], kAheadSamples, true});
    nAheadLength = kAheadSamples;
    nAheadNext = 0;
  }
  // Make's channel sums, all wrapping, for the channels of the block.
  const int32_t i = nAheadNext++;
  const int32_t nSlots = nAheadSlots; // pAcc may alias the globals: read once
  for (int32_t j = 0; j < nSlots; ++j) {
    const int32_t ch = anAheadSlot[j];
    Put<true>(pAcc + kAccLeft + ch, anAheadLeft[ch][i]);
    Put<true>(pAcc + kAccRight + ch, anAheadRight[ch][i]);
    Put<true>(pAcc + kAccVoices + ch, anAheadCount[ch][i]);
  }
}

uint32_t MakeBlock(int32_t *pRows, int32_t nCount) {
  SyncAhead();
  if (nCount <= 0)
    return 0;
  if (nCount > kBlockFrames)
    nCount = kBlockFrames;
  RenderAheadSamples(nCount);
  ScaleRows<true>(nCount, {pRows + kAccLeft * kBlockFrames, pRows + kAccRight * kBlockFrames,
                           pRows + kAccVoices * kBlockFrames, kBlockFrames, false});
  return nAheadChannels;
}

void SyncAhead() {
  if (nAheadNext < nAheadLength) {
    // Back to the start of the block, then forward to the sample reached.
    std::memcpy(aVoice, aSavedVoice, sizeof(Voice) * static_cast<size_t>(nSavedTop));
    nVoiceTop = nSavedTop;
    nLfoPhase = nSavedLfoPhase;
    nLfoCount = nSavedLfoCount;
    RenderAheadSamples(nAheadNext);
    ClearRows(nAheadChannels, nAheadNext); // the replay's own sums, not handed out again
  }
  nAheadLength = 0;
  nAheadNext = 0;
}

} // namespace vokra
