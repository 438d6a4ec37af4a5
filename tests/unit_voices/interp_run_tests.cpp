// Interpolating voices over a run of samples against the per-sample routine:
// random data with full-scale jumps between neighbours, steps from the
// slowest to hundreds of samples a step, positions by the end of the data,
// envelope clocks about to tick, every kind of gain; with and without the
// wide sums.
#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "engine_fixture.h"
#include "unit/voice_math.h"

namespace vokra_test {
namespace {

using vokra::aVoice;

class InterpRunTest : public EngineTest {
protected:
  std::mt19937 rng{24};
  int32_t Uniform(int32_t a, int32_t b) {
    return std::uniform_int_distribution<int32_t>(a, b)(rng);
  }
  template <size_t N> int32_t Pick(const int32_t (&an)[N]) {
    return an[Uniform(0, static_cast<int32_t>(N) - 1)];
  }

  // Mostly random, with stretches of the two extremes in turn (the largest
  // line, 65535) and of one value (no line at all).
  std::vector<int16_t> Data() {
    std::vector<int16_t> a(static_cast<size_t>(Uniform(2, 1500)));
    int32_t nKind = 0;
    for (size_t k = 0; k < a.size(); ++k) {
      if (Uniform(0, 40) == 0)
        nKind = Uniform(0, 2);
      a[k] = static_cast<int16_t>(nKind == 0   ? Uniform(-32768, 32767)
                                  : nKind == 1 ? (k % 2 ? 32767 : -32768)
                                               : 1234);
    }
    return a;
  }

  // Sets up voice 0 mid-note in a random state of instrument 0.
  void StartVoice() {
    const bool bFiveStage = Uniform(0, 2) == 0;
    if (bFiveStage) {
      MakeFiveStage(0, Data());
      vokra::aInstrument[0].nAttackRate = Uniform(70, 95);
      vokra::aInstrument[0].nDecay1Depth = Uniform(-10, 40);
      vokra::aInstrument[0].nDecay1Rate = Uniform(70, 96);
    } else {
      MakeSimple(0, Data(), {Uniform(0, 127), Uniform(0, 1), Uniform(1, 30)});
      vokra::aInstrument[0].nAttackStep = Uniform(1, 127);
      vokra::aInstrument[0].nDecayPeriod = Uniform(1, 40);
    }
    vokra::Instrument &r = vokra::aInstrument[0];
    r.bLoop = Uniform(0, 3) != 0;
    if (Uniform(0, 3) == 0) // an end in the zeros behind the data
      r.nEnd = r.nDataSize - 2 + 2 * Uniform(0, vokra::kBlockSlack / 2 - 1);
    r.nLoopStart = 2 * Uniform(0, r.nEnd / 2);
    r.nLoopLength = r.nEnd - r.nLoopStart + 2;
    static const int32_t anGain[] = {64, 64, 127, 1, 100, 1 << 20};
    r.nInstGain = Pick(anGain);
    static const int32_t anFinal[] = {127, 127, 1, 126};
    vokra::nFinalGain = Pick(anFinal);
    vokra::bOverSample = 1;
    NoteOn(0, Uniform(0, 127), Uniform(1, 127));
    vokra::Voice &v = aVoice[0];
    // Slowest, about the source's own rate, an octave up, and far beyond.
    static const int32_t anStep[] = {1, 2, 271, 272, 273, 543, 544, 545, 2000, 70000, 1 << 22};
    v.nStep = Uniform(0, 1) ? Pick(anStep) : Uniform(1, 3000);
    v.nPos = 2 * Uniform(0, r.nEnd / 2);
    if (Uniform(0, 1)) // the last samples before the end, odd or even
      v.nPos = std::max(0, r.nEnd - Uniform(0, 1) - 2 * Uniform(0, 4)) & ~1;
    static const int32_t anFrac[] = {0, 1, 270, 271};
    v.nFrac = Uniform(0, 1) ? Uniform(0, 271) : Pick(anFrac);
    v.nEnvTimer = Uniform(0, 1) ? 0 : std::max(0, vokra::nRate - Uniform(1, 2 * v.nEnvClock));
    // Levels up to the five-stage peak, velocity factors up to 127.
    static const int32_t anLevel[] = {0, 1, 100, 127, 128, 255};
    v.nLevel = Pick(anLevel);
    v.nAmp = v.nLevel * v.nVelGain;
  }
};

TEST_F(InterpRunTest, RunsAreTheLineOfEachSample) {
  const bool bWide = vokra::bWideSums;
  for (const bool bTryWide : {false, true}) {
    if (bTryWide && !bWide)
      continue;
    vokra::bWideSums = bTryWide;
    for (int32_t nTrial = 0; nTrial < 3000; ++nTrial) {
      SCOPED_TRACE(testing::Message() << "trial " << nTrial << ", wide " << bTryWide);
      StartVoice();
      const vokra::Voice start = aVoice[0];
      const int32_t nCount = Uniform(1, kBlockFrames);
      const int64_t nGain = int64_t{aVoice[0].nInstGain} * vokra::nFinalGain;

      std::vector<int32_t> anPlain(static_cast<size_t>(nCount));
      int32_t nPlain = 0;
      while (nPlain < nCount && aVoice[0].bActive) {
        const int32_t s = aVoice[0].pfnRender(0);
        const int64_t nAdd =
            static_cast<int64_t>(static_cast<uint64_t>(s) * static_cast<uint64_t>(nGain)) /
            vokra::kVoiceScale;
        anPlain[static_cast<size_t>(nPlain++)] = static_cast<int32_t>(nAdd);
      }
      const vokra::Voice plainEnd = aVoice[0];

      aVoice[0] = start;
      std::vector<int32_t> anRun(static_cast<size_t>(nCount)), anSine(kBlockFrames);
      const vokra::VoiceRun run = vokra::RenderVoiceRun(0, nCount, anSine.data(), anRun.data());
      ASSERT_EQ(run.nSamples, nPlain);
      ASSERT_EQ(anRun, anPlain);
      EXPECT_EQ(aVoice[0].nPos, plainEnd.nPos);
      EXPECT_EQ(aVoice[0].nFrac, plainEnd.nFrac);
      EXPECT_EQ(aVoice[0].nEnvTimer, plainEnd.nEnvTimer);
      EXPECT_EQ(aVoice[0].nAmp, plainEnd.nAmp);
      EXPECT_EQ(aVoice[0].nStage, plainEnd.nStage);
      vokra::ClearInstruments();
    }
  }
  vokra::bWideSums = bWide;
}

} // namespace
} // namespace vokra_test
