// The 3D stage: spans and taps from depth, rate and pan, and the impulse
// responses of the three engines, including the Heavy engine's recirculation.
#include <map>
#include <utility>

#include <gtest/gtest.h>

#include "common/unit_interface.h"
#include "player/render/effects.h"
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

} // namespace
