// The block mix's pieces: the channels of a run sorted by the sums they join,
// the sums, and the vector loops of the mix and the output stage, four frames
// at a time (SSE2) or eight (AVX2). The eight-frame forms give the four-frame
// results bit for bit; callers check bWideMix first.
#pragma once

#include <cstdint>

#include "common/audio_math.h"
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

constexpr int32_t kReverbSendDiv = 131072; // controller 91 squared (max 16129) to a send
constexpr int32_t kChorusSendDiv = 512;    // controller 93 (max 127) to a send
constexpr int kReverbSendShift = 17;       // the same divisions as shifts
constexpr int kChorusSendShift = 9;
static_assert(kReverbSendDiv == 1 << kReverbSendShift && kChorusSendDiv == 1 << kChorusSendShift);
constexpr int32_t kMasterGainDiv = 192; // nMasterGain 127 is about -3.6 dB
constexpr int32_t kMaxVectorGain = 127; // |x| x gain / 64 stays within 32 bits

// 1 where the processor has AVX2 (the block mix then goes eight frames at a
// time); tests set it to 0 to hear the four-lane loops.
extern int32_t bWideMix;

// Plain channels (not muted, no negative send) by the sums they join, each
// kind in a loop of its own, so that no source is tested per frame. Narrow:
// the rows and the sends lie within 16 bits, the usual case by far.
enum RowKind : int32_t {
  kMixOnly,
  kNarrowRev,
  kNarrowCho,
  kNarrowBoth,
  kWideRev,
  kWideCho,
  kWideBoth,
  kRowKinds
};
struct RowSource {
  const int32_t *pL; // the channel's rows
  const int32_t *pR;
  int32_t nRev; // its sends, 0 when the effect is off
  int32_t nCho;
};
struct RowSources {
  RowSource aa[kRowKinds][16];
  int32_t an[kRowKinds]; // sources of each kind
};

// A run's mix and send sums, per frame.
struct RowMix {
  int32_t *pnMixL;
  int32_t *pnMixR;
  int32_t *pnRevL;
  int32_t *pnRevR;
  int32_t *pnChoL;
  int32_t *pnChoR;
  bool bRevIn; // out: a channel of the run sends to the reverb (else its sums are all 0)
  bool bChoIn; // out: the same for the chorus
};

#if defined(__SSE2__)
// v x s / 2^kShift for four channels, the product in 64 bits, truncated toward
// zero and wrapped to 32 bits, as MulDiv; s >= 0. Formed as sign and
// magnitude: |v| x s >> kShift is the truncated magnitude.
template <int kShift> inline __m128i MulShift4(__m128i v, __m128i s) {
  const __m128i m = _mm_srai_epi32(v, 31);
  const __m128i a = _mm_sub_epi32(_mm_xor_si128(v, m), m); // |v|, 2^31 included
  const __m128i qEven = _mm_srli_epi64(_mm_mul_epu32(a, s), kShift);
  const __m128i qOdd =
      _mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(s, 32)), kShift);
  const __m128i q =
      _mm_or_si128(_mm_and_si128(qEven, _mm_set_epi32(0, -1, 0, -1)), _mm_slli_epi64(qOdd, 32));
  return _mm_sub_epi32(_mm_xor_si128(q, m), m);
}

// The same for values and s within 16 bits, where the product fits 32: one
// multiply-add (v's upper half, its sign, meets the 0 in s's).
template <int kShift> inline __m128i MulShiftNarrow4(__m128i v, __m128i s) {
  return ShiftTowardZero4<kShift>(_mm_madd_epi16(v, s));
}

// The sums of the sources over the quads 0 .. n, stored (not added) into
// m's rows; the source rows are zero past n. Rows 16-byte aligned.
void MixSources(const RowSources &sources, RowMix &m, int32_t n);
// The end of a recording's frames, four at a time: master gain (0 ..
// kMaxVectorGain), saturation to 16 bits (the pack saturates exactly so) and
// the interleaved store. pnL and pnR 16-byte aligned. Returns the frames
// done, a multiple of 4.
int32_t FinishRecordFrames(uint8_t *pOut, const int32_t *pnL, const int32_t *pnR, int32_t n,
                           int32_t nGain);
#endif

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#define TORQA_WIDE_MIX 1
// MixSources over the frames 0 .. n rounded up to 8.
void MixSourcesWide(const RowSources &sources, RowMix &m, int32_t n);
// FinishRecordFrames eight frames at a time, any alignment; a multiple of 8.
int32_t FinishRecordFramesWide(uint8_t *pOut, const int32_t *pnL, const int32_t *pnR, int32_t n,
                               int32_t nGain);
// Zeros nCount values, a multiple of 8.
void ZeroWide(int32_t *p, int32_t nCount);
#endif
