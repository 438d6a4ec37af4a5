// The 3D widening stage: per-channel delay lines fed at pan-dependent tap
// distances, sample by sample or over a run of rows, and ResetEffects, the
// start-of-run set-up of every effect.
#include <algorithm>
#include <cstring>
#include <type_traits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/audio_math.h"
#include "common/unit_interface.h"
#include "player/render/effects.h"
#include "player/render/row_mix.h"
#include "player/song/routing.h"
#include "player/state/engine_state.h"

constexpr int32_t kLineMask = k3DLineLength - 1;

int32_t n3DSpan = 0;
int32_t n3DTapUnit = 0;
int32_t n3DEchoDelay = 0;
int32_t n3DPos = 0;
int32_t b3DSkipQuiet = 1;

// Quiet channels: a channel whose input is 0 and whose lines hold nothing
// still due changes nothing, so the engines pass it by. Every line is read
// (and cleared) at the common position each sample, so a value written d
// entries ahead of it is read exactly d samples later, with d taken modulo
// the line's length: taps are written before the read, so a tap at distance
// 0 is read at once; the Heavy engine's echo is written after it, so an echo
// at distance 0 waits a whole turn of the line. Once the clock passes the
// latest of these, the channel's lines are all 0. Taps may be negative or
// longer than a line (any depth within kMax3DDepth): the distances say
// where a write lands, whatever its sign.
static int64_t n3DClock = 0;            // samples processed since ResetEffects
static int64_t an3DQuietFrom[16] = {};  // clock value from which the channel's lines are empty
static int32_t an3DTapReach[16] = {};   // the farthest tap distance of Light and Medium
static int32_t an3DHeavyReach[16] = {}; // the farthest of Heavy's four taps a side
static int32_t n3DEchoReach = 0;        // the distance of Heavy's echo write
// An engine ran since the lines were last cleared. The 32 lines are 2 MiB:
// left untouched while 3D is off, their pages never become resident.
static bool b3DLinesWritten = false; // the lines start zeroed

static inline int32_t TapDistance(int32_t nOffset) {
  return nOffset & kLineMask;
}

static inline int32_t EchoDistance(int32_t nOffset) {
  return ((nOffset - 1) & kLineMask) + 1;
}

static inline bool Quiet(int32_t ch, int32_t l, int32_t r) {
  return b3DSkipQuiet && l == 0 && r == 0 && n3DClock >= an3DQuietFrom[ch];
}

// After a sample that wrote something: nothing is due beyond nFarthest
// samples ahead (at most a line's length).
static inline void MarkBusy(int32_t ch, int32_t nFarthest) {
  const int64_t nFrom = n3DClock + nFarthest + 1;
  if (nFrom > an3DQuietFrom[ch]) {
    an3DQuietFrom[ch] = nFrom;
  }
}

void ResetEffects() {
  if (b3DLinesWritten) {
    for (ChannelState &c : aChannels) {
      std::memset(c.an3DLineL, 0, sizeof c.an3DLineL);
      std::memset(c.an3DLineR, 0, sizeof c.an3DLineR);
    }
    b3DLinesWritten = false;
  }
  // 8.192 / 96000 scales (depth + 256) * rate to samples, in floating point
  // on the integer product; 64 bits keep the product of any rate exact.
  const int64_t nProduct =
      static_cast<int64_t>(Effective3DDepth(n3DLength) + 256) * static_cast<int64_t>(nPCMRate);
  n3DSpan = static_cast<int32_t>(static_cast<double>(nProduct) * 8.192 * 1.0416666666666666e-05);
  n3DEchoDelay = 5 * n3DSpan / 6;
  n3DTapUnit = n3DSpan / 6;
  n3DPos = 0;
  n3DClock = 0;
  n3DEchoReach = EchoDistance(n3DEchoDelay);
  for (int64_t &n : an3DQuietFrom) {
    n = 0;
  }

  BuildChorusTable();
  nReverbDelay = nPCMRate * 10000 / 88200;
  ResetReverb();
  ResetChorus();
  nChorusPhase = 0;
  nChorusCount = 0;
}

// A side's longest tap is on the side the channel is panned to.
void Update3DTaps(int32_t nChannel) {
  ChannelState &c = aChannels[nChannel];
  c.n3DTapL = n3DTapUnit * (160 - c.nPan) / 160;
  c.n3DTapR = n3DTapUnit * (c.nPan + 33) / 160;
  an3DTapReach[nChannel] = std::max(TapDistance(c.n3DTapL), TapDistance(c.n3DTapR));
  int32_t nHeavy = 0;
  for (int32_t k = 1; k <= 4; ++k) {
    nHeavy = std::max({nHeavy, TapDistance(k * c.n3DTapL), TapDistance(k * c.n3DTapR)});
  }
  an3DHeavyReach[nChannel] = nHeavy;
}

// Values in the lines are plain 32-bit sums: they wrap rather than trap.
static inline void AddAt(int32_t *pLine, int32_t nIndex, int32_t nValue) {
  int32_t &r = pLine[nIndex & kLineMask];
  r = WrapAdd(r, nValue);
}

// A channel's lines and taps, as one engine step reads them.
struct ChannelLines {
  int32_t *a; // an3DLineL
  int32_t *b; // an3DLineR
  int32_t ta; // n3DTapL
  int32_t tb; // n3DTapR
};

static inline ChannelLines LinesOf(ChannelState &c) {
  return {c.an3DLineL, c.an3DLineR, c.n3DTapL, c.n3DTapR};
}

// One channel's step of each engine at position p (0 .. 16383): l and r in,
// what the lines give back (oL, oR) out, the lines read, cleared and written.
struct LightStep {
  static void Step(const ChannelLines &k, int32_t p, int32_t, int32_t l, int32_t r, int32_t &oL,
                   int32_t &oR) {
    AddAt(k.a, p + k.ta, WrapSub(WrapAdd(k.a[p] / 2, l), r / 4));
    AddAt(k.b, p + k.tb, WrapSub(WrapAdd(k.b[p] / 2, r), l / 4));
    oL = k.a[p];
    oR = k.b[p];
    k.a[p] = 0;
    k.b[p] = 0;
  }
};

struct MediumStep {
  static void Step(const ChannelLines &k, int32_t p, int32_t, int32_t l, int32_t r, int32_t &oL,
                   int32_t &oR) {
    AddAt(k.a, p + k.ta, l);
    AddAt(k.a, p + k.tb, l / 5);
    AddAt(k.b, p + k.ta, r / 5);
    AddAt(k.b, p + k.tb, r);
    oL = k.a[p];
    oR = k.b[p];
    k.a[p] = 0;
    k.b[p] = 0;
  }
};

// e: the echo's position, (p + n3DEchoDelay) AND 16383.
struct HeavyStep {
  static void Step(const ChannelLines &k, int32_t p, int32_t e, int32_t l, int32_t r, int32_t &oL,
                   int32_t &oR) {
    AddAt(k.a, p + k.ta, l / 2);
    AddAt(k.b, p + k.tb, r / 2);
    AddAt(k.a, p + 2 * k.ta, WrapSub(l / 4, r / 8));
    AddAt(k.b, p + 2 * k.tb, WrapSub(r / 4, l / 8));
    AddAt(k.a, p + 3 * k.ta, WrapSub(l / 8, r / 16));
    AddAt(k.b, p + 3 * k.tb, WrapSub(r / 8, l / 16));
    // The fourth tap crosses sides with a positive sign and no same-side term.
    AddAt(k.a, p + 4 * k.ta, r / 16);
    AddAt(k.b, p + 4 * k.tb, l / 16);
    oL = k.a[p];
    oR = k.b[p];
    k.a[p] = 0;
    k.b[p] = 0;
    AddAt(k.a, e, oL / 8);
    AddAt(k.b, e, oR / 8);
  }
};

void Engine3DLight() {
  b3DLinesWritten = true;
  const int32_t p = n3DPos;
  for (int32_t ch = 0; ch < 16; ++ch) {
    const int32_t l = anChannelAcc[kAccLeft + ch];
    const int32_t r = anChannelAcc[kAccRight + ch];
    if (Quiet(ch, l, r)) {
      continue;
    }
    int32_t oL = 0, oR = 0;
    LightStep::Step(LinesOf(aChannels[ch]), p, 0, l, r, oL, oR);
    anChannelAcc[kAccLeft + ch] = WrapAdd(l, oL);
    anChannelAcc[kAccRight + ch] = WrapAdd(r, oR);
    if (l | r | oL | oR) {
      MarkBusy(ch, an3DTapReach[ch]);
    }
  }
  n3DPos = (n3DPos + 1) & kLineMask;
  ++n3DClock;
}

void Engine3DMedium() {
  b3DLinesWritten = true;
  const int32_t p = n3DPos;
  for (int32_t ch = 0; ch < 16; ++ch) {
    const int32_t l = anChannelAcc[kAccLeft + ch];
    const int32_t r = anChannelAcc[kAccRight + ch];
    if (Quiet(ch, l, r)) {
      continue;
    }
    int32_t oL = 0, oR = 0;
    MediumStep::Step(LinesOf(aChannels[ch]), p, 0, l, r, oL, oR);
    anChannelAcc[kAccLeft + ch] = WrapAdd(l, oL);
    anChannelAcc[kAccRight + ch] = WrapAdd(r, oR);
    if (l | r) { // what it reads it does not write again
      MarkBusy(ch, an3DTapReach[ch]);
    }
  }
  n3DPos = (n3DPos + 1) & kLineMask;
  ++n3DClock;
}

void Engine3DHeavy() {
  b3DLinesWritten = true;
  const int32_t p = n3DPos;
  const int32_t e = (p + n3DEchoDelay) & kLineMask;
  for (int32_t ch = 0; ch < 16; ++ch) {
    const int32_t l = anChannelAcc[kAccLeft + ch];
    const int32_t r = anChannelAcc[kAccRight + ch];
    if (Quiet(ch, l, r)) {
      continue;
    }
    int32_t oL = 0, oR = 0;
    HeavyStep::Step(LinesOf(aChannels[ch]), p, e, l, r, oL, oR);
    anChannelAcc[kAccLeft + ch] = WrapAdd(l, oL);
    anChannelAcc[kAccRight + ch] = WrapAdd(r, oR);
    if (l | r) {
      MarkBusy(ch, an3DHeavyReach[ch]);
    }
    if (oL | oR) { // what it reads comes back once more at the echo distance
      MarkBusy(ch, n3DEchoReach);
    }
  }
  n3DPos = (n3DPos + 1) & kLineMask;
  ++n3DClock;
}

// The stage over a run, channel by channel: a channel's lines hear only its
// own rows, so taking its samples in a row gives every sample the per-sample
// engine's values, while its few line stretches stay in cache. Where no line
// entry is written and read within the same four samples in the wrong order,
// four samples go at once (SSE2; eight with AVX2): all taps are written
// before the entries of the four are read, the echo after; taps at distances
// 0 .. 3 then land before their reads, as sample by sample, and the forms
// below refuse the distances (a tap 16381 .. 16383 ahead, Light's feedback
// 1 .. 3, an echo 1 .. 3; for eight, 7 instead of 3) that would need a read
// before a write of the same four.
namespace {

constexpr int32_t kLanes = 4;

inline bool TapFits(int32_t nOffset, int32_t nLanes) {
  return TapDistance(nOffset) <= kLineMask - (nLanes - 1);
}

#if defined(__SSE2__)
inline __m128i Load4(const int32_t *p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}
inline void Store4(int32_t *p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
}
inline void AddTo4(int32_t *p, __m128i v) {
  Store4(p, _mm_add_epi32(Load4(p), v));
}
// Reads and clears four entries.
inline __m128i Take4(int32_t *p) {
  const __m128i v = Load4(p);
  Store4(p, _mm_setzero_si128());
  return v;
}
// x / 5 truncated toward zero: |x| x ceil(2^34 / 5) >> 34 is |x| / 5 for
// every 32-bit magnitude, 2^31 included.
inline __m128i Div5(__m128i v) {
  const __m128i m = _mm_srai_epi32(v, 31);
  const __m128i a = _mm_sub_epi32(_mm_xor_si128(v, m), m);
  const __m128i k = _mm_set1_epi32(static_cast<int32_t>(0xcccccccdu));
  const __m128i qEven = _mm_srli_epi64(_mm_mul_epu32(a, k), 34);
  const __m128i qOdd =
      _mm_slli_epi64(_mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi64(a, 32), k), 34), 32);
  const __m128i q = _mm_or_si128(qEven, qOdd);
  return _mm_sub_epi32(_mm_xor_si128(q, m), m);
}
#endif

#if defined(TORQA_WIDE_MIX)
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i Load8(const int32_t *p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
[[gnu::target("avx2"), gnu::always_inline]] inline void Store8(int32_t *p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
}
[[gnu::target("avx2"), gnu::always_inline]] inline void AddTo8(int32_t *p, __m256i v) {
  Store8(p, _mm256_add_epi32(Load8(p), v));
}
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i Take8(int32_t *p) {
  const __m256i v = Load8(p);
  Store8(p, _mm256_setzero_si256());
  return v;
}
// Div5 in eight lanes.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i Div5x8(__m256i v) {
  const __m256i m = _mm256_srai_epi32(v, 31);
  const __m256i a = _mm256_sub_epi32(_mm256_xor_si256(v, m), m);
  const __m256i k = _mm256_set1_epi32(static_cast<int32_t>(0xcccccccdu));
  const __m256i qEven = _mm256_srli_epi64(_mm256_mul_epu32(a, k), 34);
  const __m256i qOdd =
      _mm256_slli_epi64(_mm256_srli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(a, 32), k), 34), 32);
  const __m256i q = _mm256_or_si256(qEven, qOdd);
  return _mm256_sub_epi32(_mm256_xor_si256(q, m), m);
}
// Not 0 when a lane of v is not 0.
[[gnu::target("avx2"), gnu::always_inline]] inline uint32_t Any8(__m256i v) {
  return static_cast<uint32_t>(!_mm256_testz_si256(v, v));
}
#endif

// The run forms. Offsets: the distances from the position of every stretch
// a step touches, for the wrap points. Fits: whether nLanes samples can go
// at once. Vector: nCount samples (a multiple of 4) of the rows pL, pR from
// position q, no stretch wrapping; returns the OR of inputs and outputs.
// Wide: the same eight at a time (nCount a multiple of 8) for processors
// with AVX2; returns not 0 when an input or output was not 0.
struct LightRun : LightStep {
  static constexpr int32_t kOffsets = 3;
  static void Offsets(const ChannelLines &k, int32_t, int32_t *an) {
    an[0] = 0;
    an[1] = k.ta;
    an[2] = k.tb;
  }
  static bool Fits(const ChannelLines &k, int32_t, int32_t nLanes) {
    const auto Fine = [nLanes](int32_t t) {
      return TapDistance(t) == 0 || (TapDistance(t) >= nLanes && TapFits(t, nLanes));
    };
    return Fine(k.ta) && Fine(k.tb);
  }
#if defined(__SSE2__)
  static __m128i Vector(const ChannelLines &k, int32_t, int32_t q, int32_t *pL, int32_t *pR,
                        int32_t nCount) {
    int32_t *const a0 = k.a + q, *const b0 = k.b + q;
    int32_t *const aT = k.a + ((q + k.ta) & kLineMask), *const bT = k.b + ((q + k.tb) & kLineMask);
    __m128i vAny = _mm_setzero_si128();
    for (int32_t j = 0; j < nCount; j += kLanes) {
      const __m128i vL = Load4(pL + j), vR = Load4(pR + j);
      AddTo4(aT + j, _mm_sub_epi32(_mm_add_epi32(ShiftTowardZero4<1>(Load4(a0 + j)), vL),
                                   ShiftTowardZero4<2>(vR)));
      AddTo4(bT + j, _mm_sub_epi32(_mm_add_epi32(ShiftTowardZero4<1>(Load4(b0 + j)), vR),
                                   ShiftTowardZero4<2>(vL)));
      const __m128i vOL = Take4(a0 + j), vOR = Take4(b0 + j);
      Store4(pL + j, _mm_add_epi32(vL, vOL));
      Store4(pR + j, _mm_add_epi32(vR, vOR));
      vAny = _mm_or_si128(vAny, _mm_or_si128(_mm_or_si128(vL, vR), _mm_or_si128(vOL, vOR)));
    }
    return vAny;
  }
#endif
#if defined(TORQA_WIDE_MIX)
  [[gnu::target("avx2")]] static uint32_t Wide(const ChannelLines &k, int32_t, int32_t q,
                                               int32_t *pL, int32_t *pR, int32_t nCount) {
    int32_t *const a0 = k.a + q, *const b0 = k.b + q;
    int32_t *const aT = k.a + ((q + k.ta) & kLineMask), *const bT = k.b + ((q + k.tb) & kLineMask);
    __m256i vAny = _mm256_setzero_si256();
    for (int32_t j = 0; j < nCount; j += 8) {
      const __m256i vL = Load8(pL + j), vR = Load8(pR + j);
      AddTo8(aT + j, _mm256_sub_epi32(_mm256_add_epi32(ShiftTowardZero8<1>(Load8(a0 + j)), vL),
                                      ShiftTowardZero8<2>(vR)));
      AddTo8(bT + j, _mm256_sub_epi32(_mm256_add_epi32(ShiftTowardZero8<1>(Load8(b0 + j)), vR),
                                      ShiftTowardZero8<2>(vL)));
      const __m256i vOL = Take8(a0 + j), vOR = Take8(b0 + j);
      Store8(pL + j, _mm256_add_epi32(vL, vOL));
      Store8(pR + j, _mm256_add_epi32(vR, vOR));
      vAny = _mm256_or_si256(vAny,
                             _mm256_or_si256(_mm256_or_si256(vL, vR), _mm256_or_si256(vOL, vOR)));
    }
    return Any8(vAny);
  }
#endif
};

struct MediumRun : MediumStep {
  static constexpr int32_t kOffsets = 3;
  static void Offsets(const ChannelLines &k, int32_t, int32_t *an) {
    an[0] = 0;
    an[1] = k.ta;
    an[2] = k.tb;
  }
  static bool Fits(const ChannelLines &k, int32_t, int32_t nLanes) {
    return TapFits(k.ta, nLanes) && TapFits(k.tb, nLanes);
  }
#if defined(__SSE2__)
  static __m128i Vector(const ChannelLines &k, int32_t, int32_t q, int32_t *pL, int32_t *pR,
                        int32_t nCount) {
    int32_t *const a0 = k.a + q, *const b0 = k.b + q;
    const int32_t qa = (q + k.ta) & kLineMask, qb = (q + k.tb) & kLineMask;
    __m128i vAny = _mm_setzero_si128();
    for (int32_t j = 0; j < nCount; j += kLanes) {
      const __m128i vL = Load4(pL + j), vR = Load4(pR + j);
      AddTo4(k.a + qa + j, vL);
      AddTo4(k.a + qb + j, Div5(vL));
      AddTo4(k.b + qa + j, Div5(vR));
      AddTo4(k.b + qb + j, vR);
      const __m128i vOL = Take4(a0 + j), vOR = Take4(b0 + j);
      Store4(pL + j, _mm_add_epi32(vL, vOL));
      Store4(pR + j, _mm_add_epi32(vR, vOR));
      vAny = _mm_or_si128(vAny, _mm_or_si128(_mm_or_si128(vL, vR), _mm_or_si128(vOL, vOR)));
    }
    return vAny;
  }
#endif
#if defined(TORQA_WIDE_MIX)
  [[gnu::target("avx2")]] static uint32_t Wide(const ChannelLines &k, int32_t, int32_t q,
                                               int32_t *pL, int32_t *pR, int32_t nCount) {
    int32_t *const a0 = k.a + q, *const b0 = k.b + q;
    const int32_t qa = (q + k.ta) & kLineMask, qb = (q + k.tb) & kLineMask;
    __m256i vAny = _mm256_setzero_si256();
    for (int32_t j = 0; j < nCount; j += 8) {
      const __m256i vL = Load8(pL + j), vR = Load8(pR + j);
      AddTo8(k.a + qa + j, vL);
      AddTo8(k.a + qb + j, Div5x8(vL));
      AddTo8(k.b + qa + j, Div5x8(vR));
      AddTo8(k.b + qb + j, vR);
      const __m256i vOL = Take8(a0 + j), vOR = Take8(b0 + j);
      Store8(pL + j, _mm256_add_epi32(vL, vOL));
      Store8(pR + j, _mm256_add_epi32(vR, vOR));
      vAny = _mm256_or_si256(vAny,
                             _mm256_or_si256(_mm256_or_si256(vL, vR), _mm256_or_si256(vOL, vOR)));
    }
    return Any8(vAny);
  }
#endif
};

struct HeavyRun : HeavyStep {
  static constexpr int32_t kOffsets = 10;
  static void Offsets(const ChannelLines &k, int32_t nEcho, int32_t *an) {
    an[0] = 0;
    an[1] = nEcho;
    for (int32_t m = 1; m <= 4; ++m) {
      an[2 * m] = m * k.ta;
      an[2 * m + 1] = m * k.tb;
    }
  }
  static bool Fits(const ChannelLines &k, int32_t nEcho, int32_t nLanes) {
    bool bFits = EchoDistance(nEcho) >= nLanes;
    for (int32_t m = 1; m <= 4; ++m) {
      bFits = bFits && TapFits(m * k.ta, nLanes) && TapFits(m * k.tb, nLanes);
    }
    return bFits;
  }
#if defined(__SSE2__)
  static __m128i Vector(const ChannelLines &k, int32_t nEcho, int32_t q, int32_t *pL, int32_t *pR,
                        int32_t nCount) {
    const auto At = [q](int32_t *pLine, int32_t nOffset) {
      return pLine + ((q + nOffset) & kLineMask);
    };
    int32_t *const a0 = k.a + q, *const b0 = k.b + q;
    int32_t *const a1 = At(k.a, k.ta), *const a2 = At(k.a, 2 * k.ta);
    int32_t *const a3 = At(k.a, 3 * k.ta), *const a4 = At(k.a, 4 * k.ta);
    int32_t *const b1 = At(k.b, k.tb), *const b2 = At(k.b, 2 * k.tb);
    int32_t *const b3 = At(k.b, 3 * k.tb), *const b4 = At(k.b, 4 * k.tb);
    int32_t *const aE = At(k.a, nEcho), *const bE = At(k.b, nEcho);
    __m128i vAny = _mm_setzero_si128();
    for (int32_t j = 0; j < nCount; j += kLanes) {
      const __m128i vL = Load4(pL + j), vR = Load4(pR + j);
      const __m128i vL2 = ShiftTowardZero4<1>(vL), vR2 = ShiftTowardZero4<1>(vR);
      const __m128i vL4 = ShiftTowardZero4<2>(vL), vR4 = ShiftTowardZero4<2>(vR);
      const __m128i vL8 = ShiftTowardZero4<3>(vL), vR8 = ShiftTowardZero4<3>(vR);
      const __m128i vL16 = ShiftTowardZero4<4>(vL), vR16 = ShiftTowardZero4<4>(vR);
      AddTo4(a1 + j, vL2);
      AddTo4(b1 + j, vR2);
      AddTo4(a2 + j, _mm_sub_epi32(vL4, vR8));
      AddTo4(b2 + j, _mm_sub_epi32(vR4, vL8));
      AddTo4(a3 + j, _mm_sub_epi32(vL8, vR16));
      AddTo4(b3 + j, _mm_sub_epi32(vR8, vL16));
      AddTo4(a4 + j, vR16);
      AddTo4(b4 + j, vL16);
      const __m128i vOL = Take4(a0 + j), vOR = Take4(b0 + j);
      AddTo4(aE + j, ShiftTowardZero4<3>(vOL));
      AddTo4(bE + j, ShiftTowardZero4<3>(vOR));
      Store4(pL + j, _mm_add_epi32(vL, vOL));
      Store4(pR + j, _mm_add_epi32(vR, vOR));
      vAny = _mm_or_si128(vAny, _mm_or_si128(_mm_or_si128(vL, vR), _mm_or_si128(vOL, vOR)));
    }
    return vAny;
  }
#endif
#if defined(TORQA_WIDE_MIX)
  [[gnu::target("avx2")]] static uint32_t Wide(const ChannelLines &k, int32_t nEcho, int32_t q,
                                               int32_t *pL, int32_t *pR, int32_t nCount) {
    const auto At = [q](int32_t *pLine, int32_t nOffset) {
      return pLine + ((q + nOffset) & kLineMask);
    };
    int32_t *const a0 = k.a + q, *const b0 = k.b + q;
    int32_t *const a1 = At(k.a, k.ta), *const a2 = At(k.a, 2 * k.ta);
    int32_t *const a3 = At(k.a, 3 * k.ta), *const a4 = At(k.a, 4 * k.ta);
    int32_t *const b1 = At(k.b, k.tb), *const b2 = At(k.b, 2 * k.tb);
    int32_t *const b3 = At(k.b, 3 * k.tb), *const b4 = At(k.b, 4 * k.tb);
    int32_t *const aE = At(k.a, nEcho), *const bE = At(k.b, nEcho);
    __m256i vAny = _mm256_setzero_si256();
    for (int32_t j = 0; j < nCount; j += 8) {
      const __m256i vL = Load8(pL + j), vR = Load8(pR + j);
      const __m256i vL2 = ShiftTowardZero8<1>(vL), vR2 = ShiftTowardZero8<1>(vR);
      const __m256i vL4 = ShiftTowardZero8<2>(vL), vR4 = ShiftTowardZero8<2>(vR);
      const __m256i vL8 = ShiftTowardZero8<3>(vL), vR8 = ShiftTowardZero8<3>(vR);
      const __m256i vL16 = ShiftTowardZero8<4>(vL), vR16 = ShiftTowardZero8<4>(vR);
      AddTo8(a1 + j, vL2);
      AddTo8(b1 + j, vR2);
      AddTo8(a2 + j, _mm256_sub_epi32(vL4, vR8));
      AddTo8(b2 + j, _mm256_sub_epi32(vR4, vL8));
      AddTo8(a3 + j, _mm256_sub_epi32(vL8, vR16));
      AddTo8(b3 + j, _mm256_sub_epi32(vR8, vL16));
      AddTo8(a4 + j, vR16);
      AddTo8(b4 + j, vL16);
      const __m256i vOL = Take8(a0 + j), vOR = Take8(b0 + j);
      AddTo8(aE + j, ShiftTowardZero8<3>(vOL));
      AddTo8(bE + j, ShiftTowardZero8<3>(vOR));
      Store8(pL + j, _mm256_add_epi32(vL, vOL));
      Store8(pR + j, _mm256_add_epi32(vR, vOR));
      vAny = _mm256_or_si256(vAny,
                             _mm256_or_si256(_mm256_or_si256(vL, vR), _mm256_or_si256(vOL, vOR)));
    }
    return Any8(vAny);
  }
#endif
};

// One channel over the run's n samples from position p0; returns the OR of
// its inputs and outputs (not 0: something sounded or came back).
template <class Run>
uint32_t ChannelOverRun(const ChannelLines &k, int32_t p0, int32_t nEcho, int32_t *pL, int32_t *pR,
                        int32_t n) {
  uint32_t nAny = 0;
  int32_t an[Run::kOffsets];
  Run::Offsets(k, nEcho, an);
  const bool bVector = b3DVectorRuns && Run::Fits(k, nEcho, kLanes);
  int32_t nLanes = kLanes;
#if defined(TORQA_WIDE_MIX)
  const bool bWide = bVector && bWideMix && Run::Fits(k, nEcho, 8);
  if (bWide) {
    nLanes = 8;
  }
#endif
  for (int32_t i = 0; i < n;) {
    const int32_t q = (p0 + i) & kLineMask;
    // The samples before the first stretch wraps.
    int32_t nLinear = n - i;
    if (bVector) {
      for (const int32_t nOffset : an) {
        nLinear = std::min(nLinear, k3DLineLength - ((q + nOffset) & kLineMask));
      }
    }
#if defined(__SSE2__)
    if (bVector && nLinear >= nLanes) {
      const int32_t nCount = nLinear & ~(nLanes - 1);
#if defined(TORQA_WIDE_MIX)
      if (bWide) {
        nAny |= Run::Wide(k, nEcho, q, pL + i, pR + i, nCount);
        i += nCount;
        continue;
      }
#endif
      const __m128i v = Run::Vector(k, nEcho, q, pL + i, pR + i, nCount);
      nAny |= static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi32(v, _mm_setzero_si128())) !=
                                    0xffff);
      i += nCount;
      continue;
    }
#endif
    for (const int32_t nEnd = i + nLinear; i < nEnd; ++i) {
      const int32_t p = (p0 + i) & kLineMask;
      const int32_t l = pL[i], r = pR[i];
      int32_t oL = 0, oR = 0;
      Run::Step(k, p, (p + nEcho) & kLineMask, l, r, oL, oR);
      pL[i] = WrapAdd(l, oL);
      pR[i] = WrapAdd(r, oR);
      nAny |= static_cast<uint32_t>(l | r | oL | oR);
    }
  }
  return nAny;
}

template <class Run> uint32_t StageOverRun(int32_t *pRows, int32_t n, uint32_t nMask) {
  b3DLinesWritten = true;
  uint32_t nOut = nMask;
  for (int32_t ch = 0; ch < 16; ++ch) {
    const uint32_t nBit = 1u << ch;
    // Rows outside the mask are all 0: a quiet channel stays as it is.
    if (b3DSkipQuiet && !(nMask & nBit) && n3DClock >= an3DQuietFrom[ch]) {
      continue;
    }
    int32_t *const pL = pRows + (kAccLeft + ch) * kBlockFrames;
    int32_t *const pR = pRows + (kAccRight + ch) * kBlockFrames;
    if (ChannelOverRun<Run>(LinesOf(aChannels[ch]), n3DPos, n3DEchoDelay, pL, pR, n) != 0) {
      nOut |= nBit;
      // Nothing written in the run is due beyond the farthest distance
      // after its last sample.
      int32_t nFarthest = an3DTapReach[ch];
      if constexpr (std::is_same_v<Run, HeavyRun>) {
        nFarthest = std::max(an3DHeavyReach[ch], n3DEchoReach);
      }
      an3DQuietFrom[ch] = std::max(an3DQuietFrom[ch], n3DClock + n + nFarthest);
    }
  }
  n3DPos = (n3DPos + n) & kLineMask;
  n3DClock += n;
  return nOut;
}

} // namespace

int32_t b3DVectorRuns = 1;

Pfn3DRun Select3DRun(Pfn3DEngine pfnEngine) {
  if (pfnEngine == Engine3DLight) {
    return StageOverRun<LightRun>;
  }
  if (pfnEngine == Engine3DMedium) {
    return StageOverRun<MediumRun>;
  }
  if (pfnEngine == Engine3DHeavy) {
    return StageOverRun<HeavyRun>;
  }
  return nullptr;
}

Pfn3DEngine Select3DEngine(int32_t nEngine) {
  switch (nEngine) {
  case 1:
    return Engine3DMedium;
  case 2:
    return Engine3DHeavy;
  default:
    return Engine3DLight;
  }
}

void Apply3DEngineSetting() {
  pfn3DEngine = Select3DEngine(n3DENGIN);
}
