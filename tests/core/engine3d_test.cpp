// The 3D stage: spans and taps from depth, rate and pan, the impulse
// responses of the three engines, including the Heavy engine's recirculation,
// and the stage over a run of rows against the engines sample by sample.
#include <algorithm>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "common/unit_interface.h"
#include "player/render/effects.h"
#include "player/render/row_mix.h"
#include "player/song/routing.h"
#include "player/state/engine_state.h"

namespace {

using Response = std::map<int32_t, int32_t>; // sample index -> value (non-zero only)

class Engine3DTest : public ::testing::Test {
protected:
  void SetUp() override {
    nSavedRate_ = nPCMRate;
    nSavedLength_ = n3DLength;
  }
  void TearDown() override {
    nPCMRate = nSavedRate_;
    n3DLength = nSavedLength_;
    for (int32_t &v : anChannelAcc) {
      v = 0;
    }
  }
  void Reset(int32_t nRate, int32_t nLength, int32_t nPan) {
    nPCMRate = nRate;
    n3DLength = nLength;
    ResetEffects();
    for (int32_t ch = 0; ch < 16; ++ch) {
      aChannels[ch].nPan = nPan;
      Update3DTaps(ch);
    }
  }
  // Feeds (l, r) at sample 0 of channel 5 and collects what the engine
  // returns on top of the dry signal, per side, over nSamples samples.
  static std::pair<Response, Response> Impulse(void (*pfnEngine)(), int32_t l, int32_t r,
                                               int32_t nSamples) {
    Response left, right;
    for (int32_t n = 0; n < nSamples; ++n) {
      const int32_t nInL = n == 0 ? l : 0;
      const int32_t nInR = n == 0 ? r : 0;
      anChannelAcc[kAccLeft + 5] = nInL;
      anChannelAcc[kAccRight + 5] = nInR;
      anChannelAcc[kAccVoices + 5] = 3;
      pfnEngine();
      EXPECT_EQ(anChannelAcc[kAccVoices + 5], 3); // levels are not touched
      if (anChannelAcc[kAccLeft + 5] != nInL) {
        left[n] = anChannelAcc[kAccLeft + 5] - nInL;
      }
      if (anChannelAcc[kAccRight + 5] != nInR) {
        right[n] = anChannelAcc[kAccRight + 5] - nInR;
      }
      for (int32_t ch = 0; ch < 16; ++ch) {
        if (ch != 5) {
          EXPECT_EQ(anChannelAcc[ch], 0);
          EXPECT_EQ(anChannelAcc[16 + ch], 0);
        }
      }
    }
    return {left, right};
  }
  // Adds value at each of the given delays, and its recirculated copies.
  static void AddWithEcho(Response &r, int32_t nAt, int32_t v, int32_t nEcho) {
    for (; v != 0; v /= 8, nAt += nEcho) {
      r[nAt] += v;
    }
  }

  int32_t nSavedRate_ = 0;
  int32_t nSavedLength_ = 0;
};

TEST_F(Engine3DTest, SpanAndTapsFromDepthRateAndPan) {
  Reset(44100, 800, 63);
  EXPECT_EQ(n3DSpan, 3973);
  EXPECT_EQ(n3DTapUnit, 662);
  EXPECT_EQ(n3DEchoDelay, 3310);
  EXPECT_EQ(n3DPos, 0);
  EXPECT_EQ(aChannels[0].n3DTapL, 401);
  EXPECT_EQ(aChannels[0].n3DTapR, 397);

  const std::pair<int32_t, std::pair<int32_t, int32_t>> aPans[] = {
      {0, {662, 662 * 33 / 160}},
      {64, {662 * 96 / 160, 662 * 97 / 160}},
      {127, {662 * 33 / 160, 662}}};
  for (const auto &[nPan, taps] : aPans) {
    aChannels[3].nPan = nPan;
    Update3DTaps(3);
    EXPECT_EQ(aChannels[3].n3DTapL, taps.first) << "pan " << nPan;
    EXPECT_EQ(aChannels[3].n3DTapR, taps.second) << "pan " << nPan;
  }

  Reset(44100, 1600, 63);
  EXPECT_EQ(n3DSpan, 6984);
  EXPECT_EQ(n3DTapUnit, 1164);
  EXPECT_EQ(n3DEchoDelay, 5820);

  Reset(96000, 1600, 0);
  EXPECT_EQ(aChannels[0].n3DTapL, 2534); // the largest tap; four of it fit a line
}

TEST_F(Engine3DTest, LightFeedsBackHalfAndCrossCancelsAQuarter) {
  Reset(44100, 1, 64);
  ASSERT_EQ(aChannels[5].n3DTapL, 96);
  ASSERT_EQ(aChannels[5].n3DTapR, 97);
  const auto [left, right] = Impulse(Engine3DLight, 1024, 0, 2000);
  Response wantL, wantR;
  for (int32_t k = 1, v = 1024; v != 0; ++k, v /= 2) {
    wantL[96 * k] = v;
  }
  for (int32_t k = 1, v = -256; v != 0; ++k, v /= 2) {
    wantR[97 * k] = v;
  }
  EXPECT_EQ(left, wantL);
  EXPECT_EQ(right, wantR);
  EXPECT_EQ(n3DPos, 2000);
}

TEST_F(Engine3DTest, MediumHasTwoTapsPerSideAndNoCrossfeed) {
  Reset(44100, 1, 64);
  const auto [left, right] = Impulse(Engine3DMedium, 1000, 0, 500);
  EXPECT_EQ(left, (Response{{96, 1000}, {97, 200}}));
  EXPECT_TRUE(right.empty());
  const auto [left2, right2] = Impulse(Engine3DMedium, 0, -1000, 500);
  EXPECT_TRUE(left2.empty());
  EXPECT_EQ(right2, (Response{{96, -200}, {97, -1000}}));
}

TEST_F(Engine3DTest, HeavyHasFourTapsAndRecirculates) {
  Reset(44100, 1, 64);
  const int32_t a = 96, b = 97, e = n3DEchoDelay;
  ASSERT_EQ(e, 805);
  const auto [left, right] = Impulse(Engine3DHeavy, 1024, 0, 6000);
  Response wantL, wantR;
  AddWithEcho(wantL, a, 512, e);
  AddWithEcho(wantL, 2 * a, 256, e);
  AddWithEcho(wantL, 3 * a, 128, e);
  AddWithEcho(wantR, 2 * b, -128, e);
  AddWithEcho(wantR, 3 * b, -64, e);
  AddWithEcho(wantR, 4 * b, 64, e);
  EXPECT_EQ(left, wantL);
  EXPECT_EQ(right, wantR);
  EXPECT_EQ(left.at(a + e), 64);
  EXPECT_EQ(left.at(a + 2 * e), 8);
  EXPECT_EQ(left.at(a + 3 * e), 1);
}

TEST_F(Engine3DTest, EngineChoiceFollowsTheSetting) {
  EXPECT_EQ(Select3DEngine(0), &Engine3DLight);
  EXPECT_EQ(Select3DEngine(1), &Engine3DMedium);
  EXPECT_EQ(Select3DEngine(2), &Engine3DHeavy);
  EXPECT_EQ(Select3DEngine(3), &Engine3DLight);
  EXPECT_EQ(Select3DEngine(-1), &Engine3DLight);
  const int32_t nSaved = n3DENGIN;
  n3DENGIN = 2;
  Apply3DEngineSetting();
  EXPECT_EQ(pfn3DEngine, &Engine3DHeavy);
  n3DENGIN = nSaved;
  Apply3DEngineSetting();
}

TEST_F(Engine3DTest, LargeSignalsWrapInsteadOfOverflowing) {
  Reset(44100, 1, 64);
  anChannelAcc[0] = INT32_MAX;
  anChannelAcc[16] = INT32_MIN;
  for (int32_t n = 0; n < 300; ++n) {
    Engine3DHeavy(); // UBSan build: no signed overflow
    Engine3DLight();
  }
  SUCCEED();
}

// The bound is the deepest depth whose (depth + 256) x 96000 fits 32 bits;
// at it, either sign, the span is the exact product's, truncated.
TEST_F(Engine3DTest, DepthBoundKeepsTheProductIn32Bits) {
  EXPECT_LE((int64_t{kMax3DDepth} + 256) * 96000, INT32_MAX);
  EXPECT_GT((int64_t{kMax3DDepth} + 257) * 96000, INT32_MAX);
  Reset(96000, kMax3DDepth, 0);
  EXPECT_EQ(n3DSpan, 183246); // 22369 x 8.192
  Reset(96000, -kMax3DDepth, 0);
  EXPECT_EQ(n3DSpan, -179052); // -21857 x 8.192
}

// The quiet rule at its edge: a value due on the first sample of a run in
// which the channel has no input still comes back.
TEST_F(Engine3DTest, RunFormGivesBackAValueDueAsARunStarts) {
  Reset(44100, 1, 64);
  ASSERT_EQ(aChannels[5].n3DTapR, 97);
  const Pfn3DRun pfnRun = Select3DRun(Engine3DMedium);
  alignas(16) static int32_t anRows[kAccCount * kBlockFrames];
  int32_t *const pR = anRows + (kAccRight + 5) * kBlockFrames;
  std::fill(std::begin(anRows), std::end(anRows), 0);
  pR[9] = 4; // r / 5 is 0: only the tap at 97 gives it back, on sample 106
  pfnRun(anRows, 10, 1u << 5);
  pR[9] = 0;
  EXPECT_EQ(pfnRun(anRows, 96, 0), 0u);
  EXPECT_EQ(pfnRun(anRows, 4, 0), 1u << 5);
  EXPECT_EQ(pR[0], 4);
}

// Every channel's rows through the run form against the same samples through
// the engine one call at a time: random and extreme values, channels falling
// silent and returning, runs of every length across the lines' wrap, and
// taps and echoes at the distances where four samples cannot go at once (0,
// 1 .. 3, a line less 1 .. 3, negative, beyond a line) besides the usual ones.
TEST_F(Engine3DTest, RunFormIsTheEngineSampleBySample) {
  struct Case {
    Pfn3DEngine pfn;
    int32_t nLength, nRate;
    std::vector<int32_t> anTaps; // tap distances given to channels in turn, after the reset
    int32_t nEcho;               // n3DEchoDelay, or 0: as the reset made it
  };
  const std::vector<Case> aCases = {
      {Engine3DLight, 800, 44100, {}, 0},
      {Engine3DMedium, 800, 44100, {}, 0},
      {Engine3DHeavy, 800, 44100, {}, 0},
      {Engine3DHeavy, kMax3DDepth, 96000, {}, 0},
      {Engine3DHeavy, -kMax3DDepth, 5200, {}, 0},
      {Engine3DLight, -270, 5200, {}, 0}, // taps of -1 and 0
      {Engine3DHeavy, -270, 5200, {}, 0},
      {Engine3DLight, 1, 5200, {0, 1, 2, 3, 4, 16381, 16383, -1, -5, 16384, 20000, 4096}, 0},
      {Engine3DMedium, 1, 5200, {0, 1, 3, 4, 16380, 16381, 16383, -2, 16385, 5461}, 0},
      {Engine3DHeavy, 1, 5200, {0, 1, 3, 4, 4095, 4096, 4097, 5461, -1, 16383, 8192}, 3},
      {Engine3DHeavy, 1, 5200, {7, 97, 2534}, 16384},
      {Engine3DHeavy, 1, 5200, {7, 97, 2534}, -2},
      {Engine3DHeavy, 1, 5200, {97, 2534}, 6},        // four at a time, not eight
      {Engine3DHeavy, 1, 5200, {-4, -7, 300, 97}, 0}, // the same
  };
  std::mt19937 rng(2024);
  const auto Value = [&rng]() -> int32_t {
    const uint32_t r = rng();
    switch (r % 8) {
    case 0:
      return INT32_MIN;
    case 1:
      return INT32_MAX;
    case 2:
      return static_cast<int32_t>(rng());
    default:
      return static_cast<int16_t>(rng());
    }
  };
  constexpr int32_t kSamples = 20000; // past a line's length
  alignas(16) static int32_t anRows[kAccCount * kBlockFrames];
  for (const Case &t : aCases) {
    // The runs and their inputs; a channel is silent for a whole run at times.
    std::vector<int32_t> anRun, anIn(size_t{32} * kSamples);
    std::vector<uint32_t> anMask;
    for (int32_t nDone = 0; nDone < kSamples;) {
      const int32_t n =
          std::min<int32_t>(kSamples - nDone, 1 + static_cast<int32_t>(rng() % kBlockFrames));
      const uint32_t nMask = rng() & rng() & 0xffff;
      for (int32_t ch = 0; ch < 16; ++ch) {
        for (int32_t i = nDone; (nMask >> ch & 1) && i < nDone + n; ++i) {
          anIn[size_t(i) * 32 + size_t(ch)] = Value();
          anIn[size_t(i) * 32 + 16 + size_t(ch)] = Value();
        }
      }
      anRun.push_back(n);
      anMask.push_back(nMask);
      nDone += n;
    }
    // Taps set by hand are not what the engines' quiet bookkeeping was told:
    // then every channel is run every sample.
    b3DSkipQuiet = t.anTaps.empty() && t.nEcho == 0;
    const auto Start = [&t]() {
      nPCMRate = t.nRate;
      n3DLength = t.nLength;
      ResetEffects();
      for (int32_t ch = 0; ch < 16; ++ch) {
        aChannels[ch].nPan = ch * 8;
        Update3DTaps(ch);
        if (!t.anTaps.empty()) {
          aChannels[ch].n3DTapL = t.anTaps[size_t(ch) % t.anTaps.size()];
          aChannels[ch].n3DTapR = t.anTaps[size_t(ch + 5) % t.anTaps.size()];
        }
      }
      if (t.nEcho != 0) {
        n3DEchoDelay = t.nEcho;
      }
    };
    Start();
    std::vector<int32_t> anWant(anIn.size());
    for (int32_t i = 0; i < kSamples; ++i) {
      std::copy_n(&anIn[size_t(i) * 32], 32, anChannelAcc);
      t.pfn();
      std::copy_n(anChannelAcc, 32, &anWant[size_t(i) * 32]);
    }
    std::vector<int32_t> anWantLines;
    for (const ChannelState &c : aChannels) {
      anWantLines.insert(anWantLines.end(), c.an3DLineL, c.an3DLineL + k3DLineLength);
      anWantLines.insert(anWantLines.end(), c.an3DLineR, c.an3DLineR + k3DLineLength);
    }
    const Pfn3DRun pfnRun = Select3DRun(t.pfn);
    ASSERT_NE(pfnRun, nullptr);
    // One sample at a time, four, and eight where the processor can.
    const int32_t bWideMixHere = bWideMix;
    for (const auto &[bVector, bWide] : {std::pair{0, 0}, {1, 0}, {1, bWideMixHere}}) {
      b3DVectorRuns = bVector;
      bWideMix = bWide;
      Start();
      std::vector<int32_t> anGot(anIn.size());
      for (size_t r = 0, i0 = 0; r < anRun.size(); i0 += size_t(anRun[r]), ++r) {
        const int32_t n = anRun[r];
        std::fill(std::begin(anRows), std::end(anRows), 0);
        for (int32_t k = 0; k < 32; ++k) {
          for (int32_t i = 0; i < n; ++i) {
            anRows[k * kBlockFrames + i] = anIn[(i0 + size_t(i)) * 32 + size_t(k)];
          }
        }
        const uint32_t nOut = pfnRun(anRows, n, anMask[r]);
        EXPECT_EQ(nOut & anMask[r], anMask[r]);
        for (int32_t k = 0; k < 32; ++k) {
          for (int32_t i = 0; i < n; ++i) {
            const int32_t v = anRows[k * kBlockFrames + i];
            EXPECT_TRUE(v == 0 || (nOut >> (k % 16) & 1)); // the mask names every sounding row
            anGot[(i0 + size_t(i)) * 32 + size_t(k)] = v;
          }
        }
      }
      size_t nFirst = 0;
      while (nFirst < anGot.size() && anGot[nFirst] == anWant[nFirst]) {
        ++nFirst;
      }
      EXPECT_EQ(nFirst, anGot.size())
          << "depth " << t.nLength << " vector " << bVector << " wide " << bWide << ": sample "
          << nFirst / 32 << " acc " << nFirst % 32;
      std::vector<int32_t> anLines;
      for (const ChannelState &c : aChannels) {
        anLines.insert(anLines.end(), c.an3DLineL, c.an3DLineL + k3DLineLength);
        anLines.insert(anLines.end(), c.an3DLineR, c.an3DLineR + k3DLineLength);
      }
      EXPECT_TRUE(anLines == anWantLines)
          << "depth " << t.nLength << " vector " << bVector << " wide " << bWide;
      EXPECT_EQ(n3DPos, kSamples % k3DLineLength);
    }
    b3DVectorRuns = 1;
    bWideMix = bWideMixHere;
    b3DSkipQuiet = 1;
  }
  EXPECT_EQ(Select3DRun(nullptr), nullptr);
}

} // namespace
