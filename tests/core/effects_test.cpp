// Reverb and chorus against the figures their design fixes: the chorus sweep
// table, the reverb's start positions, its echo train, and 16-bit wrapping.
#include <map>

#include <gtest/gtest.h>

#include "player/render/effects.h"
#include "player/state/engine_state.h"

namespace {

class EffectsTest : public ::testing::Test {
protected:
  void SetUp() override {
    nSavedRate_ = nPCMRate;
    nPCMRate = 44100;
    AllocReverbLine();
    AllocChorusLine();
    ResetEffects();
  }
  void TearDown() override { nPCMRate = nSavedRate_; }

  // Runs the reverb alone for nSamples samples; input v at sample nAt.
  // Returns the non-zero mix contributions by sample index.
  static std::map<int32_t, int32_t> ReverbTrain(int32_t v, int32_t nAt, int32_t nSamples) {
    std::map<int32_t, int32_t> out;
    for (int32_t n = 0; n < nSamples; ++n) {
      ReverbLoad();
      if (n == nAt) {
        nReverbInL += v;
      }
      int32_t nMixL = 0, nMixR = 0;
      ReverbApply(nMixL, nMixR);
      EXPECT_EQ(nMixR, 0);
      if (nMixL) {
        out[n] = nMixL;
      }
    }
    return out;
  }

  int32_t nSavedRate_ = 0;
};

TEST_F(EffectsTest, ChorusTableAt44100) {
  EXPECT_EQ(anChorusDelay[0], 3256);
  EXPECT_EQ(anChorusDelay[1], 3256);
  EXPECT_EQ(anChorusDelay[2], 3265);
  EXPECT_EQ(anChorusDelay[64], 3731);
  EXPECT_EQ(anChorusDelay[128], 3926); // 79, not 80: the sine falls just short of 1
  EXPECT_EQ(anChorusDelay[256], 3256);
  EXPECT_EQ(anChorusDelay[384], 2586);
  EXPECT_EQ(nChorusWritePos, 0);
  EXPECT_EQ(nChorusReadPos, (0 - 3256) & 0x3ffc);
}

TEST_F(EffectsTest, ReverbPositionsAfterReset) {
  EXPECT_EQ(nReverbDelay, 5000);
  EXPECT_EQ(nReverbReadPos, 0);
  EXPECT_EQ(nReverbWritePos, 4592); // taken at 96000, not 88200
  int32_t l = 0, r = 0;
  ReverbLoad();
  ReverbApply(l, r);
  EXPECT_EQ(nReverbReadPos, 4);
  EXPECT_EQ(nReverbWritePos, 5004);
}

TEST_F(EffectsTest, ReverbEchoTrainShrinksBy80Over128) {
  const auto train = ReverbTrain(1000, 10, 40000);
  std::map<int32_t, int32_t> expected;
  int32_t v = 1000;
  for (int32_t k = 1; v != 0; ++k) {
    expected[10 + 1250 * k] = 4 * v; // D = 5000 bytes = 1250 frames
    v = v * 80 / 128;
  }
  EXPECT_EQ(train, expected);
  EXPECT_EQ(expected.at(1260), 4000);
  EXPECT_EQ(expected.at(2510), 4 * 625);
}

TEST_F(EffectsTest, ReverbInputOfTheFirstSampleReturnsEarly) {
  // The first write position (4592 bytes) lies 1148 frames ahead, not 1250.
  const auto train = ReverbTrain(-1000, 0, 1300);
  ASSERT_EQ(train.size(), 1u);
  EXPECT_EQ(train.begin()->first, 1148);
  EXPECT_EQ(train.begin()->second, -4000);
}

TEST_F(EffectsTest, LineValuesWrapAt16Bits) {
  ReverbLoad();
  nReverbInL = 70000;
  nReverbInR = -70000;
  const int32_t nPos = nReverbWritePos;
  int32_t l = 0, r = 0;
  ReverbApply(l, r);
  const int16_t nStoredL = static_cast<int16_t>(pReverbLine[nPos] | pReverbLine[nPos + 1] << 8);
  const int16_t nStoredR = static_cast<int16_t>(pReverbLine[nPos + 2] | pReverbLine[nPos + 3] << 8);
  EXPECT_EQ(nStoredL, 4464);
  EXPECT_EQ(nStoredR, -4464);

  // The chorus returns its wrapped input doubled, once, 814 frames later.
  int32_t nEcho = 0, nEchoAt = -1, nNonZero = 0;
  for (int32_t n = 0; n < 4000; ++n) {
    ChorusClear();
    if (n == 0) {
      nChorusInL = 70000;
    }
    int32_t nMixL = 0, nMixR = 0;
    ChorusApply(nMixL, nMixR);
    if (nMixL) {
      nEcho = nMixL;
      nEchoAt = n;
      ++nNonZero;
    }
  }
  EXPECT_EQ(nNonZero, 1);
  EXPECT_EQ(nEchoAt, 3256 / 4);
  EXPECT_EQ(nEcho, 2 * 4464);
}

TEST_F(EffectsTest, ChorusPhaseStepsEvery111SamplesAt44100) {
  StepChorusLfo(); // the first call after a reset steps at once
  EXPECT_EQ(nChorusPhase, 1);
  EXPECT_EQ(nChorusCount, 110);
  for (int32_t i = 0; i < 110; ++i) {
    StepChorusLfo();
  }
  EXPECT_EQ(nChorusPhase, 1);
  StepChorusLfo();
  EXPECT_EQ(nChorusPhase, 2);
  for (int32_t i = 0; i < 111 * 510; ++i) {
    StepChorusLfo();
  }
  EXPECT_EQ(nChorusPhase, 0); // 512 steps wrap round

  nPCMRate = 5200;
  ResetEffects();
  StepChorusLfo();
  EXPECT_EQ(nChorusCount, 13);
}

// A run of the clock lands where as many single steps land, from every count
// (and from counts outside the clock's range) and for reloads down to 0.
TEST(ChorusLfoRunTest, MatchesSingleSteps) {
  for (int32_t nReload : {0, 1, 13, 110, 240}) {
    for (int32_t nStart = -3; nStart <= nReload; ++nStart) {
      for (int32_t n : {0, 1, 2, 7, 111, 128, 1000}) {
        int32_t nPhase = 509, nCount = nStart;
        int32_t nRunPhase = nPhase, nRunCount = nCount;
        for (int32_t i = 0; i < n; ++i) {
          ChorusLfoStep(nPhase, nCount, nReload);
        }
        ChorusLfoRun(nRunPhase, nRunCount, nReload, n);
        ASSERT_EQ(nRunPhase, nPhase) << nReload << " " << nStart << " " << n;
        ASSERT_EQ(nRunCount, nCount) << nReload << " " << nStart << " " << n;
      }
    }
  }
}

} // namespace
