// The run loop: between two events nothing but the voices and the effect
// lines move, so each run of samples goes through the units' block form into
// per-channel rows, the 3D stage over the rows, a mix per row, reverb and
// chorus over the whole run and the output stage, with the sample loop's
// results bit for bit. Each stage of a run is a function of its own.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <iterator>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/audio_math.h"
#include "common/unit_interface.h"
#include "player/render/effects.h"
#include "player/render/line_runs.h"
#include "player/render/render_frame.h"
#include "player/render/row_mix.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"

namespace {

// The units' accumulators for a run of frames, as the block form of Make
// fills them: accumulator k of frame i at [k * kBlockFrames + i]. All zero
// between runs; rows are cleared in whole quads, as the mix reads them.
alignas(16) int32_t anRows[kAccCount * kBlockFrames];

inline int32_t *Row(int32_t k) {
  return anRows + k * kBlockFrames;
}

inline int32_t Quads(int32_t n) {
  return (n + 3) & ~3;
}

// A row's first n values, in whole stores of the mix's width.
inline void ClearRow(int32_t *p, int32_t n) {
#if defined(TORQA_WIDE_MIX)
  if (bWideMix) {
    ZeroWide(p, (n + 7) & ~7);
    return;
  }
#endif
  ZeroAcc(p, Quads(n));
}

void ClearRows(uint32_t nMask, int32_t n) {
  for (uint32_t nBits = nMask; nBits != 0; nBits &= nBits - 1) {
    const int32_t ch = std::countr_zero(nBits);
    ClearRow(Row(kAccLeft + ch), n);
    ClearRow(Row(kAccRight + ch), n);
    Row(kAccVoices + ch)[n - 1] = 0; // the block form's only count
  }
}

#if defined(__SSE2__)
// Whether every value of the quads 0 .. n of two rows lies within 16 bits.
inline bool Narrow(const int32_t *pL, const int32_t *pR, int32_t n) {
  const __m128i vHalf = _mm_set1_epi32(0x8000);
  __m128i vOr = _mm_setzero_si128();
  for (int32_t i = 0; i < n; i += 4) {
    const __m128i vL = _mm_load_si128(reinterpret_cast<const __m128i *>(pL + i));
    const __m128i vR = _mm_load_si128(reinterpret_cast<const __m128i *>(pR + i));
    vOr = _mm_or_si128(vOr, _mm_or_si128(_mm_add_epi32(vL, vHalf), _mm_add_epi32(vR, vHalf)));
  }
  // v + 2^15 is below 2^16 exactly when v is within 16 bits.
  return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(vOr, 16), _mm_setzero_si128())) == 0xffff;
}
#endif

// The channel loop of the sample path, turned around: channel by channel
// over the frames of a run. Wrapping sums do not depend on their order, so
// every frame gets the sample path's mix and sends. Peaks, when asked for,
// are raised as in playback (1/1024 units).
void MixRows(RowMix &m, int32_t n, uint32_t nMask, const ChannelSends &sends, bool bReverb,
             bool bChorus, int32_t *pnPeakL, int32_t *pnPeakR) {
  // Plain channels: their sums in registers, four or eight frames at a time,
  // one pass over the run; the rows are zero past n. The others are added
  // sample by sample after.
  uint32_t nScalar = nMask;
  m.bRevIn = false;
  m.bChoIn = false;
  for (uint32_t nBits = nMask; nBits != 0; nBits &= nBits - 1) {
    const int32_t ch = std::countr_zero(nBits);
    m.bRevIn = m.bRevIn || (bReverb && sends.anReverb[ch] != 0);
    m.bChoIn = m.bChoIn || (bChorus && sends.anChorus[ch] != 0);
  }
#if defined(__SSE2__)
  RowSources sources;
  std::fill(std::begin(sources.an), std::end(sources.an), 0);
  for (uint32_t nBits = nMask; nBits != 0; nBits &= nBits - 1) {
    const int32_t ch = std::countr_zero(nBits);
    const int32_t nRev = bReverb ? sends.anReverb[ch] : 0;
    const int32_t nCho = bChorus ? sends.anChorus[ch] : 0;
    if (((sends.nMuted >> ch) & 1) || nRev < 0 || nCho < 0) {
      continue;
    }
    const int32_t *const pL = Row(kAccLeft + ch);
    const int32_t *const pR = Row(kAccRight + ch);
    const int32_t nSends = (nRev != 0 ? 1 : 0) + (nCho != 0 ? 2 : 0); // 0 .. 3
    int32_t nKind = kMixOnly;
    if (nSends != 0) {
      const bool bNarrow = nRev <= INT16_MAX && nCho <= INT16_MAX && Narrow(pL, pR, n);
      nKind = (bNarrow ? kNarrowRev : kWideRev) + nSends - 1;
    }
    sources.aa[nKind][sources.an[nKind]++] = {pL, pR, nRev, nCho};
    nScalar &= ~(1u << ch);
  }
#if defined(TORQA_WIDE_MIX)
  if (bWideMix) {
    MixSourcesWide(sources, m, n);
  } else {
    MixSources(sources, m, n);
  }
#else
  MixSources(sources, m, n);
#endif
#else
  ZeroAcc(m.pnMixL, Quads(n));
  ZeroAcc(m.pnMixR, Quads(n));
  ZeroAcc(m.pnRevL, Quads(n));
  ZeroAcc(m.pnRevR, Quads(n));
  ZeroAcc(m.pnChoL, Quads(n));
  ZeroAcc(m.pnChoR, Quads(n));
#endif
  for (uint32_t nBits = nScalar; nBits != 0; nBits &= nBits - 1) {
    const int32_t ch = std::countr_zero(nBits);
    const int32_t *const pL = Row(kAccLeft + ch);
    const int32_t *const pR = Row(kAccRight + ch);
    const int32_t nRev = bReverb ? sends.anReverb[ch] : 0;
    const int32_t nCho = bChorus ? sends.anChorus[ch] : 0;
    const bool bMuted = (sends.nMuted >> ch) & 1;
    for (int32_t i = 0; i < n; ++i) {
      int32_t nL = pL[i];
      int32_t nR = pR[i];
      if (bMuted) {
        nL /= kMuteDiv;
        nR /= kMuteDiv;
      }
      m.pnMixL[i] = WrapAdd(m.pnMixL[i], nL);
      m.pnMixR[i] = WrapAdd(m.pnMixR[i], nR);
      AddSends(nL, nR, nRev, nCho, m.pnRevL[i], m.pnRevR[i], m.pnChoL[i], m.pnChoR[i]);
    }
  }
  if (pnPeakL) {
    for (uint32_t nBits = nMask; nBits != 0; nBits &= nBits - 1) {
      const int32_t ch = std::countr_zero(nBits);
      const int32_t *const pL = Row(kAccLeft + ch);
      const int32_t *const pR = Row(kAccRight + ch);
      const bool bMuted = (sends.nMuted >> ch) & 1;
      for (int32_t i = 0; i < n; ++i) {
        const int32_t nL = bMuted ? pL[i] / kMuteDiv : pL[i];
        const int32_t nR = bMuted ? pR[i] / kMuteDiv : pR[i];
        pnPeakL[ch] = std::max(pnPeakL[ch], Abs32(nL / 1024));
        pnPeakR[ch] = std::max(pnPeakR[ch], Abs32(nR / 1024));
      }
    }
  }
}

// The reverb over a run: reads the send rows, adds the line's output to the
// mix rows. A line known to hold only zeros, given only zeros, gives and
// keeps zeros: then only its positions move on.
[[gnu::always_inline]] inline void ReverbOverRun(ReverbState &r, const RowMix &mix, int32_t n) {
  if (r.nQuiet >= kReverbLineBytes / 4 && !mix.bRevIn) {
    r.nRead = (r.nRead + 4 * n) & kReverbPosMask;
    r.nWrite = (r.nRead + r.nDelay) & kReverbPosMask;
    r.nInL = 0;
    r.nInR = 0;
    r.nQuiet = std::min(r.nQuiet + n, kLineQuiet);
    return;
  }
  uint32_t nWritten = 0; // not 0: a frame written was not 0
  int32_t i = ReverbSteps(r.pLine, r.nRead, r.nWrite, r.nDelay, mix.pnRevL, mix.pnRevR, mix.pnMixL,
                          mix.pnMixR, n, r.nInL, r.nInR, nWritten);
  for (; i < n; ++i) {
    ReadLineFrame(r.pLine, r.nWrite, r.nInL, r.nInR);
    r.nInL = WrapAdd(r.nInL, mix.pnRevL[i]);
    r.nInR = WrapAdd(r.nInR, mix.pnRevR[i]);
    int32_t nOutL = 0, nOutR = 0;
    ReverbStep(r.pLine, r.nRead, r.nWrite, r.nDelay, r.nInL, r.nInR, nOutL, nOutR);
    nWritten |= (static_cast<uint32_t>(r.nInL) | static_cast<uint32_t>(r.nInR)) & 0xffff;
    mix.pnMixL[i] = WrapAdd(mix.pnMixL[i], nOutL);
    mix.pnMixR[i] = WrapAdd(mix.pnMixR[i], nOutR);
  }
  r.nQuiet = nWritten != 0 ? 0 : std::min(r.nQuiet + n, kLineQuiet);
}

// The chorus and its sweep clock over a run, as the reverb.
[[gnu::always_inline]] inline void ChorusOverRun(ChorusState &c, bool bChorus, bool bLfo,
                                                 const RowMix &mix, int32_t n) {
  const bool bQuiet = c.nQuiet >= kChorusLineBytes / 4 && !mix.bChoIn;
  uint32_t nWritten = 0;
  if (bChorus && !bQuiet) {
    for (int32_t i = 0; i < n; ++i) {
      const int32_t nDone =
          ChorusSteps(c.pLine, c.nRead, c.nWrite, anChorusDelay[c.nPhase], c.nCount, mix.pnChoL + i,
                      mix.pnChoR + i, mix.pnMixL + i, mix.pnMixR + i, n - i, nWritten);
      if (nDone > 0) {
        i += nDone - 1;
        c.nInL = mix.pnChoL[i];
        c.nInR = mix.pnChoR[i];
        continue;
      }
      ChorusLfoStep(c.nPhase, c.nCount, c.nReload); // the chorus implies the clock
      c.nInL = mix.pnChoL[i];
      c.nInR = mix.pnChoR[i];
      nWritten |= (static_cast<uint32_t>(c.nInL) | static_cast<uint32_t>(c.nInR)) & 0xffff;
      int32_t nOutL = 0, nOutR = 0;
      ChorusStep(c.pLine, c.nRead, c.nWrite, anChorusDelay[c.nPhase], c.nInL, c.nInR, nOutL, nOutR);
      mix.pnMixL[i] = WrapAdd(mix.pnMixL[i], nOutL);
      mix.pnMixR[i] = WrapAdd(mix.pnMixR[i], nOutR);
    }
  } else {
    // Nothing sounds: only the clock and the positions move on.
    if (bLfo) {
      ChorusLfoRun(c.nPhase, c.nCount, c.nReload, n);
    }
    if (bChorus) {
      c.nWrite = (c.nWrite + 4 * n) & kChorusPosMask;
      c.nRead = (c.nWrite - anChorusDelay[c.nPhase]) & kChorusPosMask;
      c.nInL = 0;
      c.nInR = 0;
    }
  }
  if (bChorus) {
    c.nQuiet = nWritten != 0 ? 0 : std::min(c.nQuiet + n, kLineQuiet);
  }
}

// The output stage over a run's mixed frames, into pOut. A recording's
// frames go through the vector form when the master gain keeps every
// product small and the filter passes values through (bVector).
template <RenderMode M>
[[gnu::always_inline]] inline void FinishRun(OutputStage &o, OutMeters &meters, uint8_t *pOut,
                                             const RowMix &mix, int32_t n,
                                             [[maybe_unused]] bool bVector) {
  int32_t i = 0;
#if defined(__SSE2__)
  if (bVector) {
#if defined(TORQA_WIDE_MIX)
    if (bWideMix) {
      i = FinishRecordFramesWide(pOut, mix.pnMixL, mix.pnMixR, n, o.nGain);
    }
#endif
    i += FinishRecordFrames(pOut + 4 * i, mix.pnMixL + i, mix.pnMixR + i, n - i, o.nGain);
    if (o.bFilter && i > 0) {
      // The pass-through filter keeps the last value.
      o.nFiltL = MulDiv(mix.pnMixL[i - 1], o.nGain, kMasterGainDiv);
      o.nFiltR = MulDiv(mix.pnMixR[i - 1], o.nGain, kMasterGainDiv);
    }
  }
#endif
  for (; i < n; ++i) {
    FinishFrame<M>(o, meters, pOut + 4 * i, mix.pnMixL[i], mix.pnMixR[i]);
  }
}

} // namespace

template <RenderMode M>
void RenderRuns(BlockState &b, uint8_t *pOut, int32_t nFrames, OutMeters &meters) {
  const bool bReverb = b.bReverb;
  const bool bChorus = b.bChorus;
  OutputStage out = b.out;
  ReverbState rev = b.rev;
  ChorusState cho = b.cho;
  ChannelSends &sends = b.sends;
  const bool bVector = M == RenderMode::Record && !out.bMono &&
                       (!out.bFilter || out.nFilterRatio == 1) && out.nGain >= 0 &&
                       out.nGain <= kMaxVectorGain;
  constexpr bool bPeaks = M != RenderMode::Record;
  const Pfn3DRun pfn3DRun = b.b3D ? Select3DRun(b.pfnEngine) : nullptr;

  alignas(16) int32_t anMixL[kBlockFrames]; // a run's mix and sends, per frame
  alignas(16) int32_t anMixR[kBlockFrames];
  alignas(16) int32_t anRevL[kBlockFrames];
  alignas(16) int32_t anRevR[kBlockFrames];
  alignas(16) int32_t anChoL[kBlockFrames];
  alignas(16) int32_t anChoR[kBlockFrames];
  RowMix mix{anMixL, anMixR, anRevL, anRevR, anChoL, anChoR, false, false};
  for (int32_t f = 0; f < nFrames;) {
    // The run starts with the sample whose tick may serve events and ends
    // before the next such sample.
    if (SequencerClock()) {
      LoadChannelSends(sends);
    }
    const int32_t nMax = nFrames - f < kBlockFrames ? nFrames - f : kBlockFrames;
    const int32_t n = 1 + SequencerQuietRun(nMax - 1);
    uint32_t nMask = 0;
    for (int32_t u = 0; u < b.nMakes; ++u) {
      nMask |= b.apfnMakeBlock[u](anRows, n);
    }
    nMask &= 0xffff;
    if (pfn3DRun) {
      nMask = pfn3DRun(anRows, n, nMask);
    }
    MixRows(mix, n, nMask & (M == RenderMode::Record ? ~sends.nMuted : 0xffff), sends, bReverb,
            bChorus, bPeaks ? b.anPeakL : nullptr, bPeaks ? b.anPeakR : nullptr);
    if (f + n == nFrames) {
      for (int32_t ch = 0; ch < 16; ++ch) {
        aChannels[ch].nLevelOut = anRows[(kAccVoices + ch) * kBlockFrames + n - 1];
      }
    }
    ClearRows(nMask, n);
    // The effects hear only their sends and their own lines, so each runs
    // over the whole run first, adding its output to the mix rows.
    if (bReverb) {
      ReverbOverRun(rev, mix, n);
    }
    ChorusOverRun(cho, bChorus, b.bLfo, mix, n);
    FinishRun<M>(out, meters, pOut + 4 * f, mix, n, bVector);
    f += n;
  }
  b.out = out;
  b.rev = rev;
  b.cho = cho;
}

template void RenderRuns<RenderMode::Play>(BlockState &, uint8_t *, int32_t, OutMeters &);
template void RenderRuns<RenderMode::Record>(BlockState &, uint8_t *, int32_t, OutMeters &);
