// The 3D widening stage: per-channel delay lines fed at pan-dependent tap
// distances, and ResetEffects, the start-of-run set-up of every effect.
#include <algorithm>
#include <cstring>

#include "common/audio_math.h"
#include "common/unit_interface.h"
#include "player/render/effects.h"
#include "player/state/engine_state.h"
#include "player/song/routing.h"

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
  for (ChannelState &c : aChannels) {
    std::memset(c.an3DLineL, 0, sizeof c.an3DLineL);
    std::memset(c.an3DLineR, 0, sizeof c.an3DLineR);
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

void Engine3DLight() {
  const int32_t p = n3DPos;
  for (int32_t ch = 0; ch < 16; ++ch) {
    ChannelState &c = aChannels[ch];
    int32_t *a = c.an3DLineL;
    int32_t *b = c.an3DLineR;
    const int32_t l = anChannelAcc[kAccLeft + ch];
    const int32_t r = anChannelAcc[kAccRight + ch];
    if (Quiet(ch, l, r)) {
      continue;
    }
    AddAt(a, p + c.n3DTapL, WrapSub(WrapAdd(a[p] / 2, l), r / 4));
    AddAt(b, p + c.n3DTapR, WrapSub(WrapAdd(b[p] / 2, r), l / 4));
    const int32_t oL = a[p];
    const int32_t oR = b[p];
    a[p] = 0;
    b[p] = 0;
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
  const int32_t p = n3DPos;
  for (int32_t ch = 0; ch < 16; ++ch) {
    ChannelState &c = aChannels[ch];
    int32_t *a = c.an3DLineL;
    int32_t *b = c.an3DLineR;
    const int32_t ta = c.n3DTapL;
    const int32_t tb = c.n3DTapR;
    const int32_t l = anChannelAcc[kAccLeft + ch];
    const int32_t r = anChannelAcc[kAccRight + ch];
    if (Quiet(ch, l, r)) {
      continue;
    }
    AddAt(a, p + ta, l);
    AddAt(a, p + tb, l / 5);
    AddAt(b, p + ta, r / 5);
    AddAt(b, p + tb, r);
    const int32_t oL = a[p];
    const int32_t oR = b[p];
    a[p] = 0;
    b[p] = 0;
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
  const int32_t p = n3DPos;
  const int32_t e = (p + n3DEchoDelay) & kLineMask;
  for (int32_t ch = 0; ch < 16; ++ch) {
    ChannelState &c = aChannels[ch];
    int32_t *a = c.an3DLineL;
    int32_t *b = c.an3DLineR;
    const int32_t ta = c.n3DTapL;
    const int32_t tb = c.n3DTapR;
    const int32_t l = anChannelAcc[kAccLeft + ch];
    const int32_t r = anChannelAcc[kAccRight + ch];
    if (Quiet(ch, l, r)) {
      continue;
    }
    AddAt(a, p + ta, l / 2);
    AddAt(b, p + tb, r / 2);
    AddAt(a, p + 2 * ta, WrapSub(l / 4, r / 8));
    AddAt(b, p + 2 * tb, WrapSub(r / 4, l / 8));
    AddAt(a, p + 3 * ta, WrapSub(l / 8, r / 16));
    AddAt(b, p + 3 * tb, WrapSub(r / 8, l / 16));
    // The fourth tap crosses sides with a positive sign and no same-side term.
    AddAt(a, p + 4 * ta, r / 16);
    AddAt(b, p + 4 * tb, l / 16);
    const int32_t oL = a[p];
    const int32_t oR = b[p];
    a[p] = 0;
    b[p] = 0;
    AddAt(a, e, oL / 8);
    AddAt(b, e, oR / 8);
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
