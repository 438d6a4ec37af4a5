// The sample loop: per output sample the chorus sweep, the sequencer clock,
// every unit's Make, the 3D stage, the channel mix with its sends and peaks,
// reverb, chorus and the output stage. Units without the block form and the
// sound test render this way.
#include <bit>
#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/audio_math.h"
#include "common/unit_interface.h"
#include "player/render/effects.h"
#include "player/render/render_frame.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"

namespace {

// Bit ch set when channel ch has a non-zero left or right sum: most channels
// are silent most of the time, and a silent channel adds 0 to the mix and the
// sends and raises no peak.
inline uint32_t SoundingChannels(const int32_t *pAcc) {
#if defined(__SSE2__)
  // Four channels per compare: this runs every sample.
  uint32_t nSilent = 0;
  for (int32_t ch = 0; ch < 16; ch += 4) {
    const __m128i vL = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pAcc + kAccLeft + ch));
    const __m128i vR = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pAcc + kAccRight + ch));
    const __m128i vZero = _mm_cmpeq_epi32(_mm_or_si128(vL, vR), _mm_setzero_si128());
    nSilent |= static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(vZero))) << ch;
  }
  return ~nSilent & 0xffffu;
#else
  uint32_t nMask = 0;
  for (int32_t ch = 0; ch < 16; ++ch) {
    nMask |= static_cast<uint32_t>((pAcc[kAccLeft + ch] | pAcc[kAccRight + ch]) != 0) << ch;
  }
  return nMask;
#endif
}

#if defined(__SSE2__)
inline uint32_t Sum4(__m128i v) {
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}

// The mix and the sends of all sixteen channels at once when no channel is
// muted: a silent channel adds 0 everywhere, and wrapping sums do not depend
// on their order, so this is the channel loop's result.
inline void MixAll(const int32_t *pAcc, const ChannelSends &sends, bool bReverb, bool bChorus,
                   uint32_t &nMixL, uint32_t &nMixR, int32_t &nRevInL, int32_t &nRevInR,
                   int32_t &nChoInL, int32_t &nChoInR) {
  __m128i vMixL = _mm_setzero_si128(), vMixR = vMixL;
  __m128i vRevL = vMixL, vRevR = vMixL, vChoL = vMixL, vChoR = vMixL;
  for (int32_t ch = 0; ch < 16; ch += 4) {
    const __m128i vL = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pAcc + kAccLeft + ch));
    const __m128i vR = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pAcc + kAccRight + ch));
    const __m128i vSilent = _mm_cmpeq_epi32(_mm_or_si128(vL, vR), _mm_setzero_si128());
    if (_mm_movemask_epi8(vSilent) == 0xffff) {
      continue; // four silent channels: most of the time, most of them
    }
    vMixL = _mm_add_epi32(vMixL, vL);
    vMixR = _mm_add_epi32(vMixR, vR);
    const uint32_t nQuad = 1u << (ch / 4);
    if (bReverb && (sends.nReverbQuads & nQuad)) {
      const __m128i vSend = _mm_load_si128(reinterpret_cast<const __m128i *>(sends.anReverb + ch));
      vRevL = _mm_add_epi32(vRevL, MulShift4<kReverbSendShift>(vL, vSend));
      vRevR = _mm_add_epi32(vRevR, MulShift4<kReverbSendShift>(vR, vSend));
    }
    if (bChorus && (sends.nChorusQuads & nQuad)) {
      const __m128i vSend = _mm_load_si128(reinterpret_cast<const __m128i *>(sends.anChorus + ch));
      vChoL = _mm_add_epi32(vChoL, MulShift4<kChorusSendShift>(vL, vSend));
      vChoR = _mm_add_epi32(vChoR, MulShift4<kChorusSendShift>(vR, vSend));
    }
  }
  nMixL = Sum4(vMixL);
  nMixR = Sum4(vMixR);
  if (bReverb) {
    nRevInL = WrapAdd(nRevInL, static_cast<int32_t>(Sum4(vRevL)));
    nRevInR = WrapAdd(nRevInR, static_cast<int32_t>(Sum4(vRevR)));
  }
  if (bChorus) {
    nChoInL = WrapAdd(nChoInL, static_cast<int32_t>(Sum4(vChoL)));
    nChoInR = WrapAdd(nChoInR, static_cast<int32_t>(Sum4(vChoR)));
  }
}
#endif

} // namespace

template <RenderMode M>
void RenderSamples(BlockState &b, uint8_t *pOut, int32_t nFrames, OutMeters &meters) {
  // Cache some values, to give them a chance of ending up in registers.
  const bool bReverb = b.bReverb;
  const bool bChorus = b.bChorus;
  const bool bLfo = b.bLfo;
  const bool b3D = b.b3D;
  const Pfn3DEngine pfnEngine = b.pfnEngine;
  const int32_t nMakes = b.nMakes;
  OutputStage out = b.out;
  ReverbState rev = b.rev;
  ChorusState cho = b.cho;
  ChannelSends &sends = b.sends;
  int32_t *const anPeakL = b.anPeakL;
  int32_t *const anPeakR = b.anPeakR;
  int32_t *const pAcc = anChannelAcc;

  for (int32_t f = 0; f < nFrames; ++f) {
    if (bLfo) {
      ChorusLfoStep(cho.nPhase, cho.nCount, cho.nReload);
    }
    if constexpr (M != RenderMode::Test) {
      // Dispatches at most one tick's events before the units render.
      if (SequencerClock()) {
        LoadChannelSends(sends);
      }
    }
    for (int32_t u = 0; u < nMakes; ++u) {
      b.apfnMake[u](pAcc);
    }
    if (b3D) {
      pfnEngine();
    }
    if (bReverb) {
      ReadLineFrame(rev.pLine, rev.nWrite, rev.nInL, rev.nInR);
    }
    if (bChorus) {
      cho.nInL = 0;
      cho.nInR = 0;
    }
    if (f == nFrames - 1) {
      for (int32_t ch = 0; ch < 16; ++ch) {
        aChannels[ch].nLevelOut = pAcc[kAccVoices + ch];
      }
    }

    uint32_t nMixL = 0; // sums wrap: unsigned
    uint32_t nMixR = 0;
    // Peaks in 1/1024 units, 1/256 in the sound test.
    const auto RaisePeaks = [&](int32_t ch, int32_t nL, int32_t nR) {
      const int32_t nScale = M == RenderMode::Play ? 1024 : 256;
      const int32_t nPL = Abs32(nL / nScale);
      const int32_t nPR = Abs32(nR / nScale);
      if (nPL > anPeakL[ch]) {
        anPeakL[ch] = nPL;
      }
      if (nPR > anPeakR[ch]) {
        anPeakR[ch] = nPR;
      }
    };
    uint32_t nNonZero; // channels whose sums go back to zero below
#if defined(__SSE2__)
    if (sends.bPlain) {
      MixAll(pAcc, sends, bReverb, bChorus, nMixL, nMixR, rev.nInL, rev.nInR, cho.nInL, cho.nInR);
      nNonZero = 0xffff;
      if constexpr (M != RenderMode::Record) {
        nNonZero = SoundingChannels(pAcc);
        for (uint32_t nBits = nNonZero; nBits != 0; nBits &= nBits - 1) {
          const int32_t ch = std::countr_zero(nBits);
          RaisePeaks(ch, pAcc[kAccLeft + ch], pAcc[kAccRight + ch]);
        }
      }
    } else
#endif
    {
      nNonZero = SoundingChannels(pAcc);
      uint32_t nSounding = nNonZero;
      if constexpr (M == RenderMode::Record) {
        nSounding &= ~sends.nMuted; // a muted channel is not recorded
      }
      while (nSounding != 0) {
        const int32_t ch = std::countr_zero(nSounding);
        nSounding &= nSounding - 1;
        int32_t nL = pAcc[kAccLeft + ch];
        int32_t nR = pAcc[kAccRight + ch];
        if constexpr (M != RenderMode::Record) {
          if (sends.nMuted & (1u << ch)) {
            nL /= kMuteDiv;
            nR /= kMuteDiv;
          }
        }
        nMixL += static_cast<uint32_t>(nL);
        nMixR += static_cast<uint32_t>(nR);
        AddSends(nL, nR, bReverb ? sends.anReverb[ch] : 0, bChorus ? sends.anChorus[ch] : 0,
                 rev.nInL, rev.nInR, cho.nInL, cho.nInR);
        if constexpr (M != RenderMode::Record) {
          RaisePeaks(ch, nL, nR);
        }
      }
    }
    // Back to all zero: the sums that were not zero, and the voice counts.
    if (nNonZero == 0xffff) {
      ZeroAcc(pAcc, 32);
    } else {
      for (uint32_t nBits = nNonZero; nBits != 0; nBits &= nBits - 1) {
        const int32_t ch = std::countr_zero(nBits);
        pAcc[kAccLeft + ch] = 0;
        pAcc[kAccRight + ch] = 0;
      }
    }
    ZeroAcc(pAcc + kAccVoices, 16);

    int32_t nOutL = static_cast<int32_t>(nMixL);
    int32_t nOutR = static_cast<int32_t>(nMixR);
    if (bReverb) {
      ReverbStep(rev.pLine, rev.nRead, rev.nWrite, rev.nDelay, rev.nInL, rev.nInR, nOutL, nOutR);
    }
    if (bChorus) {
      ChorusStep(cho.pLine, cho.nRead, cho.nWrite, anChorusDelay[cho.nPhase], cho.nInL, cho.nInR,
                 nOutL, nOutR);
    }
    FinishFrame<M>(out, meters, pOut + 4 * f, nOutL, nOutR);
  }
  // The sample loop keeps no count of zero frames.
  if (bReverb) {
    rev.nQuiet = 0;
  }
  if (bChorus) {
    cho.nQuiet = 0;
  }
  b.out = out;
  b.rev = rev;
  b.cho = cho;
}

template void RenderSamples<RenderMode::Play>(BlockState &, uint8_t *, int32_t, OutMeters &);
template void RenderSamples<RenderMode::Test>(BlockState &, uint8_t *, int32_t, OutMeters &);
template void RenderSamples<RenderMode::Record>(BlockState &, uint8_t *, int32_t, OutMeters &);
