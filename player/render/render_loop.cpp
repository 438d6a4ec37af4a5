// The block renderers: per output sample the sequencer clock, the units, the
// 3D stage, the channel mix with its sends, reverb, chorus, gains, band filter
// and saturation; per block the end-of-song countdown, meters and load figure.
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/unit_interface.h"
#include "common/audio_math.h"
#include "player/render/effects.h"
#include "player/state/engine_state.h"
#include "player/render/render_loop.h"
#include "player/render/row_mix.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/units/unit_host.h"

constexpr int32_t kOutVolumeDiv = 128; // nOutVolume 127 is about 0 dB
constexpr int32_t kFilterRate = 44100; // the band filter is transparent at this rate
constexpr int32_t kMuteDiv = 12;       // a muted channel plays at 1/12
constexpr int32_t kTestLevelSum = 127; // summary slot 2 during the sound test
constexpr int32_t kOverloadPercent = 90;
constexpr int32_t kMaxElapsedMs = 10000000; // keeps the load sums inside 32 bits

MeterFrame aMeterFrames[kOutBufCount];
int32_t bBlockRender = 1;
int32_t abMeterReady[kOutBufCount];
MeterFrame CurMeterFrame;
int32_t anLoadHist[10];
int32_t nLoadPercent = 0;
int32_t bHiResTimer = 1; // steady_clock is always there on this platform
double dTimerFreq = 1e9; // steady_clock counts nanoseconds

namespace {

enum class Mode { Play, Test, Record };

struct OutMeters {
  int32_t nOutPeakL; // largest |sample| of the block
  int32_t nOutPeakR;
  int32_t bClipped; // 1 when saturation changed a sample
};

// Counts of the load clock: nanoseconds with the high-resolution clock,
// milliseconds without (the coarse fallback).
int64_t ReadLoadClock() {
  const auto t = std::chrono::steady_clock::now().time_since_epoch();
  if (bHiResTimer) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t).count();
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(t).count();
}

int32_t ElapsedMs(int64_t nStart) {
  const int64_t nEnd = ReadLoadClock();
  double e;
  if (bHiResTimer) {
    e = static_cast<double>(nEnd - nStart) * 1000.0 / dTimerFreq;
  } else {
    e = static_cast<double>(nEnd - nStart);
  }
  if (!(e > 0.0)) {
    return 0;
  }
  return e > kMaxElapsedMs ? kMaxElapsedMs : static_cast<int32_t>(e);
}

inline int32_t Saturate16(int32_t v, int32_t &bClipped) {
  if (v >= 32768) {
    bClipped = 1;
    return 32767;
  }
  if (v < -32768) {
    bClipped = 1;
    return -32768;
  }
  return v;
}

// An output frame has the delay lines' layout.
inline void StoreFrame(uint8_t *p, int32_t nL, int32_t nR) {
  WriteLineFrame(p, 0, nL, nR);
}

// Copies of the channel fields the mix reads per sample. Only a tick's events
// change them inside a block, so they are taken again after every tick.
struct ChannelSends {
  alignas(16) int32_t anReverb[16]; // nReverbSendSq
  alignas(16) int32_t anChorus[16]; // nChorusSend
  uint32_t nMuted;                  // bit ch set: bMute
  bool bPlain;                      // no channel muted, no send negative
  uint32_t nReverbQuads;            // bit q set: a send of channels 4q..4q+3 is not 0
  uint32_t nChorusQuads;
};

void LoadChannelSends(ChannelSends &s) {
  s.nMuted = 0;
  for (int32_t ch = 0; ch < 16; ++ch) {
    const ChannelState &c = aChannels[ch];
    s.anReverb[ch] = c.nReverbSendSq;
    s.anChorus[ch] = c.nChorusSend;
    s.nMuted |= static_cast<uint32_t>(c.bMute != 0) << ch;
  }
  s.bPlain = s.nMuted == 0;
  s.nReverbQuads = 0;
  s.nChorusQuads = 0;
  for (int32_t ch = 0; ch < 16; ++ch) {
    s.bPlain = s.bPlain && s.anReverb[ch] >= 0 && s.anChorus[ch] >= 0;
    s.nReverbQuads |= static_cast<uint32_t>(s.anReverb[ch] != 0) << (ch / 4);
    s.nChorusQuads |= static_cast<uint32_t>(s.anChorus[ch] != 0) << (ch / 4);
  }
}

// A channel's sends of one frame into the reverb and chorus inputs, wrapping;
// a send of 0 adds nothing.
inline void AddSends(int32_t nL, int32_t nR, int32_t nRev, int32_t nCho, int32_t &rRevL,
                     int32_t &rRevR, int32_t &rChoL, int32_t &rChoR) {
  if (nRev != 0) {
    rRevL = WrapAdd(rRevL, MulDiv(nL, nRev, kReverbSendDiv));
    rRevR = WrapAdd(rRevR, MulDiv(nR, nRev, kReverbSendDiv));
  }
  if (nCho != 0) {
    rChoL = WrapAdd(rChoL, MulDiv(nL, nCho, kChorusSendDiv));
    rChoR = WrapAdd(rChoR, MulDiv(nR, nCho, kChorusSendDiv));
  }
}

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

inline void ZeroAcc(int32_t *p, int32_t nCount) {
  // Plain stores: the compiler would make a memset call of a loop it knows
  // stores zeros, and rows of a few kilobytes then take a slow string
  // instruction. The empty asm hides the zero from it.
  __m128i vZero = _mm_setzero_si128();
  asm("" : "+x"(vZero));
  for (int32_t k = 0; k < nCount; k += 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p + k), vZero);
  }
}

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
#else
inline void ZeroAcc(int32_t *p, int32_t nCount) {
  std::memset(p, 0, sizeof(int32_t) * static_cast<size_t>(nCount));
}
#endif

#if defined(__SSE2__)
// The two 16-bit halves of four line frames, sign-extended.
inline __m128i LowHalves(__m128i v) {
  return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
}
inline __m128i HighHalves(__m128i v) {
  return _mm_srai_epi32(v, 16);
}

// The chorus steps of a run, four frames at a time, while the clock leaves
// the sweep where it is (one delay throughout) and the read position follows
// the write position at that delay; no frame read may be one written in the
// same four, and neither stretch of the line may wrap. Adds the tap to the
// mix rows and ORs the frames written into nWritten. Returns the frames done
// (a multiple of 4, or 0 when the run does not qualify); positions and the
// clock's count move on as sample by sample.
int32_t ChorusFours(uint8_t *pLine, int32_t &nRead, int32_t &nWrite, int32_t nDelay,
                    int32_t &nLfoCount, const int32_t *pnInL, const int32_t *pnInR, int32_t *pnMixL,
                    int32_t *pnMixR, int32_t n, uint32_t &nWritten) {
  // A count of c leaves the sweep alone for c steps.
  int32_t nFrames = std::min(n, nLfoCount) & ~3;
  const int32_t nGap = (nWrite - nRead) & kChorusPosMask;
  if (nFrames <= 0 || nRead != ((nWrite - nDelay) & kChorusPosMask) || nGap == 4 || nGap == 8 ||
      nGap == 12) {
    return 0;
  }
  nFrames = std::min(nFrames, (kChorusLineBytes - std::max(nRead, nWrite)) / 16 * 4);
  const __m128i vLow = _mm_set1_epi32(0xffff);
  __m128i vWritten = _mm_setzero_si128();
  for (int32_t i = 0; i < nFrames; i += 4) {
    const __m128i vTap = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pLine + nRead + 4 * i));
    const auto In = [i](const int32_t *p) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
    };
    const __m128i vFrames =
        _mm_or_si128(_mm_and_si128(In(pnInL), vLow), _mm_slli_epi32(In(pnInR), 16));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(pLine + nWrite + 4 * i), vFrames);
    vWritten = _mm_or_si128(vWritten, vFrames);
    const auto AddMix = [i](int32_t *p, __m128i v) {
      auto *const q = reinterpret_cast<__m128i *>(p + i);
      _mm_storeu_si128(q, _mm_add_epi32(_mm_loadu_si128(q), v));
    };
    AddMix(pnMixL, _mm_slli_epi32(LowHalves(vTap), 1));
    AddMix(pnMixR, _mm_slli_epi32(HighHalves(vTap), 1));
  }
  nWritten |= static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi32(vWritten, _mm_setzero_si128())) != 0xffff);
  nLfoCount -= nFrames;
  nWrite = (nWrite + 4 * nFrames) & kChorusPosMask;
  nRead = (nWrite - nDelay) & kChorusPosMask;
  return nFrames;
}

// The reverb steps of a run, four frames at a time, when no frame read in the
// run is one written in it: the write position runs at least the run ahead
// of the read position and neither stretch of the line wraps. Adds the line's
// output to the mix rows and ORs the frames written into nWritten. Returns the
// frames done (a multiple of 4, or 0 when the run does not qualify); positions
// and inputs move on as sample by sample.
int32_t ReverbFours(uint8_t *pLine, int32_t &nRead, int32_t &nWrite, int32_t nDelay,
                    const int32_t *pnSendL, const int32_t *pnSendR, int32_t *pnMixL,
                    int32_t *pnMixR, int32_t n, int32_t &nInL, int32_t &nInR, uint32_t &nWritten) {
  const int32_t nFrames = n & ~3;
  const int32_t nBytes = 4 * nFrames;
  if (nFrames == 0 || nWrite != ((nRead + nDelay) & kReverbPosMask) || nWrite - nRead < nBytes ||
      nWrite + nBytes > kReverbLineBytes) {
    return 0;
  }
  const __m128i vLow = _mm_set1_epi32(0xffff);
  const __m128i vBias = _mm_set1_epi32(127);
  __m128i vInL = _mm_setzero_si128(), vInR = vInL, vWritten = vInL;
  for (int32_t i = 0; i < nFrames; i += 4) {
    auto *const pRead = reinterpret_cast<__m128i *>(pLine + nRead + 4 * i);
    auto *const pWrite = reinterpret_cast<__m128i *>(pLine + nWrite + 4 * i);
    const __m128i vOld = _mm_loadu_si128(pWrite);
    const __m128i vDelayed = _mm_loadu_si128(pRead);
    const __m128i vDL = LowHalves(vDelayed);
    const __m128i vDR = HighHalves(vDelayed);
    // In: what the line held, the sends, and the feedback d x 80 / 128.
    const auto Feedback = [&](__m128i vD) {
      const __m128i vP = _mm_add_epi32(_mm_slli_epi32(vD, 6), _mm_slli_epi32(vD, 4));
      return _mm_srai_epi32(_mm_add_epi32(vP, _mm_and_si128(_mm_srai_epi32(vP, 31), vBias)), 7);
    };
    vInL =
        _mm_add_epi32(_mm_add_epi32(LowHalves(vOld),
                                    _mm_load_si128(reinterpret_cast<const __m128i *>(pnSendL + i))),
                      Feedback(vDL));
    vInR =
        _mm_add_epi32(_mm_add_epi32(HighHalves(vOld),
                                    _mm_load_si128(reinterpret_cast<const __m128i *>(pnSendR + i))),
                      Feedback(vDR));
    const __m128i vFrames = _mm_or_si128(_mm_and_si128(vInL, vLow), _mm_slli_epi32(vInR, 16));
    _mm_storeu_si128(pWrite, vFrames);
    vWritten = _mm_or_si128(vWritten, vFrames);
    _mm_storeu_si128(pRead, _mm_setzero_si128());
    const auto AddMix = [i](int32_t *p, __m128i v) {
      auto *const q = reinterpret_cast<__m128i *>(p + i);
      _mm_store_si128(q, _mm_add_epi32(_mm_load_si128(q), v));
    };
    AddMix(pnMixL, _mm_slli_epi32(vDL, 2));
    AddMix(pnMixR, _mm_slli_epi32(vDR, 2));
  }
  nWritten |= static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi32(vWritten, _mm_setzero_si128())) != 0xffff);
  nInL = _mm_cvtsi128_si32(_mm_shuffle_epi32(vInL, _MM_SHUFFLE(3, 3, 3, 3)));
  nInR = _mm_cvtsi128_si32(_mm_shuffle_epi32(vInR, _MM_SHUFFLE(3, 3, 3, 3)));
  nRead = (nRead + nBytes) & kReverbPosMask;
  nWrite = (nRead + nDelay) & kReverbPosMask;
  return nFrames;
}
#endif

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
    MixOctets(sources, m, n);
  } else {
    MixQuads(sources, m, n);
  }
#else
  MixQuads(sources, m, n);
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

// Renders nFrames frames into pOut. One body for the three renderers; the mode
// decides, at compile time, which steps run. Everything that stays put during
// a block is read once; the effect positions and sums live in locals and go
// back to their globals at the end.
template <Mode M> void RenderFrames(uint8_t *pOut, int32_t nFrames, OutMeters &meters) {
  // Cache the switches: the user interface changes them only between blocks.
  const bool bReverb = M != Mode::Test && bUseEff1;
  const bool bChorus = M != Mode::Test && bUseEff3;
  const bool bLfo = M != Mode::Play || bUseEff3;
  const bool b3D = M != Mode::Test && n3DLength != 0 && pfn3DEngine;
  const bool bFilter = M != Mode::Test && bLPF && nPCMRate <= kFilterRate && nPCMRate > 0;
  const bool bMono = M == Mode::Play && bMonoMix;
  const Pfn3DEngine pfnEngine = pfn3DEngine;
  const int32_t nRate = nPCMRate;
  const int32_t nGain = nMasterGain;
  const int32_t nVolume = nOutVolume;
  // The filter's rate ratio when the rate divides 44100: then x * rate / 44100
  // is x / ratio and y * 44100 / rate is y * ratio, both exact.
  const int32_t nFilterRatio = nRate > 0 && kFilterRate % nRate == 0 ? kFilterRate / nRate : 0;

  // The units bound for this block (the panel binds and toggles between blocks).
  PfnMake apfnMake[kUnitSlots];
  PfnMakeBlock apfnMakeBlock[kUnitSlots];
  int32_t nMakes = 0;
  bool bAllBlocks = true; // every unit has the block form of Make
  for (const UnitSlot &s : aUnitSlots) {
    if (s.bActive && s.pfnMake) {
      apfnMakeBlock[nMakes] = s.pfnMakeBlock;
      bAllBlocks = bAllBlocks && s.pfnMakeBlock;
      apfnMake[nMakes++] = s.pfnMake;
    }
  }
  // Runs of samples between events go through the units' block form and a
  // mix per channel row; the 3D stage works on the accumulators sample by
  // sample and the sound test has no sequencer, so they keep the sample loop.
  const bool bBlocks = M != Mode::Test && bAllBlocks && !b3D && bBlockRender;

  ChannelSends sends;
  LoadChannelSends(sends);
  int32_t anPeakL[16];
  int32_t anPeakR[16];
  if constexpr (M != Mode::Record) {
    for (int32_t ch = 0; ch < 16; ++ch) {
      anPeakL[ch] = aChannels[ch].nPeakL;
      anPeakR[ch] = aChannels[ch].nPeakR;
    }
  }

  uint8_t *const pRevLine = pReverbLine;
  const int32_t nRevDelay = nReverbDelay;
  int32_t nRevRead = nReverbReadPos;
  int32_t nRevWrite = nReverbWritePos;
  int32_t nRevInL = nReverbInL;
  int32_t nRevInR = nReverbInR;
  uint8_t *const pChoLine = pChorusLine;
  int32_t nChoRead = nChorusReadPos;
  int32_t nChoWrite = nChorusWritePos;
  int32_t nChoInL = nChorusInL;
  int32_t nChoInR = nChorusInR;
  int32_t nLfoPhase = nChorusPhase;
  int32_t nLfoCount = nChorusCount;
  int32_t nRevQuiet = nReverbQuiet;
  int32_t nChoQuiet = nChorusQuiet;
  const int32_t nLfoReload = nRate / kChorusStepDiv;
  int32_t nFiltL = nLpfL;
  int32_t nFiltR = nLpfR;
  int32_t *const pAcc = anChannelAcc;

  // Gains, band filter and saturation of frame f, with the effects' outputs
  // added, into pOut.
  const auto FinishFrame = [&](int32_t f, int32_t nOutL, int32_t nOutR)
      __attribute__((always_inline)) {
    nOutL = MulDiv(nOutL, nGain, kMasterGainDiv);
    nOutR = MulDiv(nOutR, nGain, kMasterGainDiv);
    if constexpr (M != Mode::Record) {
      nOutL = MulDiv(nOutL, nVolume, kOutVolumeDiv);
      nOutR = MulDiv(nOutR, nVolume, kOutVolumeDiv);
    }
    if (bFilter) {
      // One-pole low-pass with coefficient rate/44100, its state scaled back up;
      // at 44100 it passes the input through.
      if (nFilterRatio == 1) {
        nFiltL = nOutL;
        nFiltR = nOutR;
      } else if (nFilterRatio == 2) {
        nFiltL = WrapAdd(nFiltL, Wrap32((static_cast<int64_t>(nOutL) - nFiltL) / 2));
        nFiltR = WrapAdd(nFiltR, Wrap32((static_cast<int64_t>(nOutR) - nFiltR) / 2));
        nOutL = Wrap32(static_cast<int64_t>(nFiltL) * 2);
        nOutR = Wrap32(static_cast<int64_t>(nFiltR) * 2);
      } else {
        nFiltL =
            WrapAdd(nFiltL, Wrap32((static_cast<int64_t>(nOutL) - nFiltL) * nRate / kFilterRate));
        nFiltR =
            WrapAdd(nFiltR, Wrap32((static_cast<int64_t>(nOutR) - nFiltR) * nRate / kFilterRate));
        nOutL = MulDiv(nFiltL, kFilterRate, nRate);
        nOutR = MulDiv(nFiltR, kFilterRate, nRate);
      }
    }
    if (bMono) {
      nOutL = static_cast<int32_t>((static_cast<int64_t>(nOutL) + nOutR) / 2);
      nOutR = nOutL;
    }
    if constexpr (M == Mode::Play) {
      nOutL = Saturate16(nOutL, meters.bClipped);
      nOutR = Saturate16(nOutR, meters.bClipped);
    } else if constexpr (M == Mode::Record) {
      int32_t bIgnored = 0; // recording keeps no clip flag
      nOutL = Saturate16(nOutL, bIgnored);
      nOutR = Saturate16(nOutR, bIgnored);
    }
    if constexpr (M != Mode::Record) {
      // The sound test meters see the unsaturated values.
      const int32_t nAL = Abs32(nOutL);
      const int32_t nAR = Abs32(nOutR);
      if (nAL > meters.nOutPeakL) {
        meters.nOutPeakL = nAL;
      }
      if (nAR > meters.nOutPeakR) {
        meters.nOutPeakR = nAR;
      }
    }
    StoreFrame(pOut + 4 * f, nOutL, nOutR); // the sound test stores the low 16 bits
  };

  // Reverb, chorus and the rest of the mixed frame f; the sends are in
  // nRevInL/R and nChoInL/R.
  const auto OutputFrame = [&](int32_t f, uint32_t nMixL, uint32_t nMixR)
      __attribute__((always_inline)) {
    int32_t nOutL = static_cast<int32_t>(nMixL);
    int32_t nOutR = static_cast<int32_t>(nMixR);
    if (bReverb) {
      ReverbStep(pRevLine, nRevRead, nRevWrite, nRevDelay, nRevInL, nRevInR, nOutL, nOutR);
    }
    if (bChorus) {
      ChorusStep(pChoLine, nChoRead, nChoWrite, anChorusDelay[nLfoPhase], nChoInL, nChoInR, nOutL,
                 nOutR);
    }
    FinishFrame(f, nOutL, nOutR);
  };

  // A recording's frames past the effects go four at a time when the master
  // gain keeps every product small and the filter passes values through.
  [[maybe_unused]] const bool bFours = M == Mode::Record && !bMono &&
                                       (!bFilter || nFilterRatio == 1) && nGain >= 0 &&
                                       nGain <= kMaxFoursGain;
  if (bBlocks) {
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
      for (int32_t u = 0; u < nMakes; ++u) {
        nMask |= apfnMakeBlock[u](anRows, n);
      }
      nMask &= 0xffff;
      const bool bPeaks = M != Mode::Record;
      MixRows(mix, n, nMask & (M == Mode::Record ? ~sends.nMuted : 0xffff), sends, bReverb, bChorus,
              bPeaks ? anPeakL : nullptr, bPeaks ? anPeakR : nullptr);
      if (f + n == nFrames) {
        for (int32_t ch = 0; ch < 16; ++ch) {
          aChannels[ch].nLevelOut = anRows[(kAccVoices + ch) * kBlockFrames + n - 1];
        }
      }
      ClearRows(nMask, n);
      // The effects hear only their sends and their own lines, so each runs
      // over the whole run first, adding its output to the mix rows. A line
      // known to hold only zeros, given only zeros, gives and keeps zeros:
      // then only its positions move on.
      if (bReverb) {
        if (nRevQuiet >= kReverbLineBytes / 4 && !mix.bRevIn) {
          nRevRead = (nRevRead + 4 * n) & kReverbPosMask;
          nRevWrite = (nRevRead + nRevDelay) & kReverbPosMask;
          nRevInL = 0;
          nRevInR = 0;
          nRevQuiet = std::min(nRevQuiet + n, kLineQuiet);
        } else {
          uint32_t nWritten = 0; // not 0: a frame written was not 0
          int32_t i = 0;
#if defined(__SSE2__)
          i = ReverbFours(pRevLine, nRevRead, nRevWrite, nRevDelay, anRevL, anRevR, anMixL, anMixR,
                          n, nRevInL, nRevInR, nWritten);
#endif
          for (; i < n; ++i) {
            ReadLineFrame(pRevLine, nRevWrite, nRevInL, nRevInR);
            nRevInL = WrapAdd(nRevInL, anRevL[i]);
            nRevInR = WrapAdd(nRevInR, anRevR[i]);
            int32_t nOutL = 0, nOutR = 0;
            ReverbStep(pRevLine, nRevRead, nRevWrite, nRevDelay, nRevInL, nRevInR, nOutL, nOutR);
            nWritten |= (static_cast<uint32_t>(nRevInL) | static_cast<uint32_t>(nRevInR)) & 0xffff;
            anMixL[i] = WrapAdd(anMixL[i], nOutL);
            anMixR[i] = WrapAdd(anMixR[i], nOutR);
          }
          nRevQuiet = nWritten != 0 ? 0 : std::min(nRevQuiet + n, kLineQuiet);
        }
      }
      const bool bChorusQuiet = nChoQuiet >= kChorusLineBytes / 4 && !mix.bChoIn;
      uint32_t nChoWritten = 0;
      if (bChorus && !bChorusQuiet) {
        for (int32_t i = 0; i < n; ++i) {
#if defined(__SSE2__)
          const int32_t nDone =
              ChorusFours(pChoLine, nChoRead, nChoWrite, anChorusDelay[nLfoPhase], nLfoCount,
                          anChoL + i, anChoR + i, anMixL + i, anMixR + i, n - i, nChoWritten);
          if (nDone > 0) {
            i += nDone - 1;
            nChoInL = anChoL[i];
            nChoInR = anChoR[i];
            continue;
          }
#endif
          ChorusLfoStep(nLfoPhase, nLfoCount, nLfoReload); // the chorus implies the clock
          nChoInL = anChoL[i];
          nChoInR = anChoR[i];
          nChoWritten |= (static_cast<uint32_t>(nChoInL) | static_cast<uint32_t>(nChoInR)) & 0xffff;
          int32_t nOutL = 0, nOutR = 0;
          ChorusStep(pChoLine, nChoRead, nChoWrite, anChorusDelay[nLfoPhase], nChoInL, nChoInR,
                     nOutL, nOutR);
          anMixL[i] = WrapAdd(anMixL[i], nOutL);
          anMixR[i] = WrapAdd(anMixR[i], nOutR);
        }
      } else {
        // Nothing sounds: only the clock and the positions move on.
        if (bLfo) {
          ChorusLfoRun(nLfoPhase, nLfoCount, nLfoReload, n);
        }
        if (bChorus) {
          nChoWrite = (nChoWrite + 4 * n) & kChorusPosMask;
          nChoRead = (nChoWrite - anChorusDelay[nLfoPhase]) & kChorusPosMask;
          nChoInL = 0;
          nChoInR = 0;
        }
      }
      if (bChorus) {
        nChoQuiet = nChoWritten != 0 ? 0 : std::min(nChoQuiet + n, kLineQuiet);
      }
      int32_t i = 0;
#if defined(__SSE2__)
      if (bFours) {
#if defined(TORQA_WIDE_MIX)
        if (bWideMix) {
          i = FinishEights(pOut + 4 * f, anMixL, anMixR, n, nGain);
        }
#endif
        i += FinishFours(pOut + 4 * (f + i), anMixL + i, anMixR + i, n - i, nGain);
        if (bFilter && i > 0) {
          // The pass-through filter keeps the last value.
          nFiltL = MulDiv(anMixL[i - 1], nGain, kMasterGainDiv);
          nFiltR = MulDiv(anMixR[i - 1], nGain, kMasterGainDiv);
        }
      }
#endif
      for (; i < n; ++i) {
        FinishFrame(f + i, anMixL[i], anMixR[i]);
      }
      f += n;
    }
  } else {
    for (int32_t f = 0; f < nFrames; ++f) {
      if (bLfo) {
        ChorusLfoStep(nLfoPhase, nLfoCount, nLfoReload);
      }
      if constexpr (M != Mode::Test) {
        // Dispatches at most one tick's events before the units render.
        if (SequencerClock()) {
          LoadChannelSends(sends);
        }
      }
      for (int32_t u = 0; u < nMakes; ++u) {
        apfnMake[u](pAcc);
      }
      if (b3D) {
        pfnEngine();
      }
      if (bReverb) {
        ReadLineFrame(pRevLine, nRevWrite, nRevInL, nRevInR);
      }
      if (bChorus) {
        nChoInL = 0;
        nChoInR = 0;
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
        const int32_t nScale = M == Mode::Play ? 1024 : 256;
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
        MixAll(pAcc, sends, bReverb, bChorus, nMixL, nMixR, nRevInL, nRevInR, nChoInL, nChoInR);
        nNonZero = 0xffff;
        if constexpr (M != Mode::Record) {
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
        if constexpr (M == Mode::Record) {
          nSounding &= ~sends.nMuted; // a muted channel is not recorded
        }
        while (nSounding != 0) {
          const int32_t ch = std::countr_zero(nSounding);
          nSounding &= nSounding - 1;
          int32_t nL = pAcc[kAccLeft + ch];
          int32_t nR = pAcc[kAccRight + ch];
          if constexpr (M != Mode::Record) {
            if (sends.nMuted & (1u << ch)) {
              nL /= kMuteDiv;
              nR /= kMuteDiv;
            }
          }
          nMixL += static_cast<uint32_t>(nL);
          nMixR += static_cast<uint32_t>(nR);
          AddSends(nL, nR, bReverb ? sends.anReverb[ch] : 0, bChorus ? sends.anChorus[ch] : 0,
                   nRevInL, nRevInR, nChoInL, nChoInR);
          if constexpr (M != Mode::Record) {
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

      OutputFrame(f, nMixL, nMixR);
    }
    // The sample loop keeps no count of zero frames.
    if (bReverb) {
      nRevQuiet = 0;
    }
    if (bChorus) {
      nChoQuiet = 0;
    }
  }

  if constexpr (M != Mode::Record) {
    for (int32_t ch = 0; ch < 16; ++ch) {
      aChannels[ch].nPeakL = anPeakL[ch];
      aChannels[ch].nPeakR = anPeakR[ch];
    }
  }
  nReverbReadPos = nRevRead;
  nReverbWritePos = nRevWrite;
  nReverbInL = nRevInL;
  nReverbInR = nRevInR;
  nChorusReadPos = nChoRead;
  nChorusWritePos = nChoWrite;
  nChorusInL = nChoInL;
  nChorusInR = nChoInR;
  nChorusPhase = nLfoPhase;
  nChorusCount = nLfoCount;
  nReverbQuiet = nRevQuiet;
  nChorusQuiet = nChoQuiet;
  nLpfL = nFiltL;
  nLpfR = nFiltR;
}

// Frames of a request, bounded by the buffer (the length is a multiple of 4).
int32_t FramesFor(int32_t nIndex, int32_t nBytes) {
  if (nIndex < 0 || nIndex >= kOutBufCount || !apOutBuf[nIndex] || nBytes <= 0) {
    return 0;
  }
  return (nBytes > kOutBufBytes ? kOutBufBytes : nBytes) / 4;
}

void ClearBlockMeters() {
  for (ChannelState &c : aChannels) {
    c.nPeakL = 0;
    c.nPeakR = 0;
    c.nLevelOut = 0;
  }
}

int32_t LevelSum() {
  int32_t nSum = 0;
  for (const ChannelState &c : aChannels) {
    nSum = WrapAdd(nSum, c.nLevelOut);
  }
  return nSum;
}

// Channel records and summary slots 0-2 of a meter frame.
void FillChannelMeters(MeterFrame &m, const OutMeters &meters, int32_t nLevelSum) {
  for (int32_t ch = 0; ch < 16; ++ch) {
    const ChannelState &c = aChannels[ch];
    m.aChannel[ch].nPeakL = c.nPeakL;
    m.aChannel[ch].nPeakR = c.nPeakR;
    m.aChannel[ch].bSounding = c.nLevelOut != 0;
  }
  m.anSummary[kMeterOutPeakL] = meters.nOutPeakL;
  m.anSummary[kMeterOutPeakR] = meters.nOutPeakR;
  m.anSummary[kMeterLevelSum] = nLevelSum;
}

// End of song: all-notes-off after every block once no track is active, and
// the countdown of silent blocks that ends playback. Returns the level sum.
int32_t EndOfBlock() {
  const int32_t nTrackCount = nTracks < 0 ? 0 : (nTracks > kMaxTracks ? kMaxTracks : nTracks);
  int32_t nActive = 0;
  for (int32_t t = 0; t < nTrackCount; ++t) {
    if (abTrackActive[t]) {
      ++nActive;
    }
  }
  const int32_t nLevelSum = LevelSum();
  if (nActive == 0) {
    SendAllNotesOff();
    if (nLevelSum == 0) {
      nTailBlocks -= 1;
      if (nTailBlocks <= 0) {
        bPlaying = 0;
      }
    }
  }
  return nLevelSum;
}

} // namespace

void ResetRenderStats() {
  for (int32_t &h : anLoadHist) {
    h = 0;
  }
  nLoadPercent = 0;
}

void UpdateLoadFigure(int32_t nElapsedMs, int32_t bPercent) {
  int32_t *h = anLoadHist;
  h[9] = h[8];
  h[8] = h[7] >> 1;
  h[7] = h[6] >> 1;
  h[6] = nElapsedMs;
  const int32_t x = (h[6] + h[7] + h[8] + h[9]) >> 1;
  h[5] = h[4];
  h[4] = h[3];
  h[3] = h[2];
  h[2] = h[1];
  h[1] = h[0];
  h[0] = x;
  if (!bPercent) {
    return;
  }
  const int32_t s = h[0] + h[1] + h[2] + h[3] + h[4] + h[5];
  const int32_t a = static_cast<int32_t>(s * 0.16666666666666666);
  // A block length not yet set gives no figure rather than a division by 0.
  const double dPercent = fBlockSeconds > 0.0f ? a / (fBlockSeconds * 10.0) : 0.0;
  nLoadPercent = dPercent >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(dPercent);
}

int32_t RenderBlock(int32_t nIndex, int32_t nBytes) {
  const int32_t nFrames = FramesFor(nIndex, nBytes);
  if (nFrames == 0 && (nIndex < 0 || nIndex >= kOutBufCount)) {
    return 0;
  }
  anBufState[nIndex] = 1;
  const int64_t nStart = ReadLoadClock();
  ClearBlockMeters();
  OutMeters meters{0, 0, 0};

  RenderFrames<Mode::Play>(apOutBuf[nIndex], nFrames, meters);

  const int32_t nLevelSum = EndOfBlock();
  MeterFrame &m = aMeterFrames[nIndex];
  FillChannelMeters(m, meters, nLevelSum);
  m.anSummary[kMeterClipped] = meters.bClipped;
  abMeterReady[nIndex] = 1;

  UpdateLoadFigure(ElapsedMs(nStart), 1);
  m.anSummary[kMeterOverload] = nLoadPercent >= kOverloadPercent;
  m.anSummary[kMeterLoadPercent] = nLoadPercent;
  m.anSummary[kMeterMeasure] = nMeasure + 1;
  m.anSummary[kMeterBeatTick] =
      static_cast<int32_t>(static_cast<uint32_t>(nBeatInMeasure) << 16) | nTickInBeat;
  return nFrames;
}

int32_t RenderTestBlock(int32_t nIndex, int32_t nBytes) {
  const int32_t nFrames = FramesFor(nIndex, nBytes);
  if (nFrames == 0 && (nIndex < 0 || nIndex >= kOutBufCount)) {
    return 0;
  }
  const int64_t nStart = ReadLoadClock();
  ClearBlockMeters();
  OutMeters meters{0, 0, 0};

  RenderFrames<Mode::Test>(apOutBuf[nIndex], nFrames, meters);

  FillChannelMeters(aMeterFrames[nIndex], meters, kTestLevelSum);
  abMeterReady[nIndex] = 1;
  UpdateLoadFigure(ElapsedMs(nStart), 0);
  return nFrames * 4;
}

void RenderRecordBlock(int32_t nBytes) {
  const int32_t nFrames = FramesFor(0, nBytes);
  OutMeters meters{0, 0, 0};
  if (nFrames > 0) {
    RenderFrames<Mode::Record>(apOutBuf[0], nFrames, meters);
  }
  EndOfBlock();
}

void ResetEngineForStart() {
  ResetEffects();
  ResetSequencer();
  SendResetSequence();
  std::memset(anChannelAcc, 0, sizeof anChannelAcc);
  nLpfL = 0;
  nLpfR = 0;
  PrepareSong();
  SetTempoBpm(nTempoBpm);
  ResetTimeSignature(); // 4/4 until the song says otherwise
  nTailBlocks = kTailBlocksAtStart;
}
