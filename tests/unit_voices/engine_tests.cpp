// The voice engine, channel state and Make, driven through MidiIn with
// hand-made instruments.
#include "engine_fixture.h"

#include <climits>
#include <cstring>

namespace vokra_test {
namespace {

using vokra::aUnitChannel;
using vokra::aVoice;

TEST_F(EngineTest, TablesHoldTheirDocumentedValues) {
  EXPECT_EQ(vokra::NoteToStep(60), 272);
  EXPECT_EQ(vokra::NoteToStep(69), 457);
  EXPECT_EQ(vokra::NoteToStep(72), 544);
  EXPECT_EQ(vokra::NoteToStep(-7), vokra::NoteToStep(0));
  EXPECT_EQ(vokra::NoteToStep(500), vokra::NoteToStep(143));
  EXPECT_EQ(vokra::NoteToStep(143), 32768 * 4 * 11025 / 44100);
  EXPECT_EQ(vokra::anVelocityCurve[0], 0);
  EXPECT_EQ(vokra::anVelocityCurve[1], 1);
  EXPECT_EQ(vokra::anVelocityCurve[64], 90);
  EXPECT_EQ(vokra::anVelocityCurve[100], 119);
  EXPECT_EQ(vokra::anVelocityCurve[127], 127);
  EXPECT_EQ(vokra::anLfoSine[64], 181);
  EXPECT_EQ(vokra::anLfoSine[128], 255);
  EXPECT_EQ(vokra::anLfoSine[256], 0);
  EXPECT_EQ(vokra::anLfoSine[384], -255);
}

TEST_F(EngineTest, BendAtRangeTwoReachesJustUnderTwoSemitonesUpAndExactlyTwoDown) {
  const int32_t n = 60;
  // 16383: one whole semitone (h = 1) and 4095/4096 of the next.
  const int32_t b = vokra::NoteToStep(n + 1);
  const int32_t d = vokra::NoteToStep(n + 2) - b;
  EXPECT_EQ(vokra::BendStep(16383, 2, n, 0), static_cast<int32_t>(b + d * (4095.0f / 4096.0f)));
  EXPECT_LT(vokra::BendStep(16383, 2, n, 0), vokra::NoteToStep(n + 2));
  EXPECT_EQ(vokra::BendStep(0, 2, n, 0), vokra::NoteToStep(n - 2));
  EXPECT_EQ(vokra::BendStep(8192, 2, n, 0), vokra::NoteToStep(n));
  EXPECT_EQ(vokra::BendStep(0, 0, n, 0), vokra::NoteToStep(n));
  // Fine tune at its extremes moves the increment by 1/256.
  EXPECT_EQ(vokra::BendStep(8192, 2, n, 8191), 272 + 272 * 8191 / 2097152);
  EXPECT_EQ(vokra::BendStep(8192, 12, 137, 0), vokra::NoteToStep(137));
  EXPECT_EQ(vokra::BendStep(16383, 127, 137, 0), vokra::NoteToStep(143)); // clamped
}

TEST_F(EngineTest, ChannelGainFollowsVolumeExpressionAndPressure) {
  EXPECT_EQ(aUnitChannel[0].nGain, 76); // start values: volume 100
  Cc(0, 7, 127);
  EXPECT_EQ(aUnitChannel[0].nGain, 123); // divisor 128 after volume
  Cc(0, 11, 127);
  EXPECT_EQ(aUnitChannel[0].nGain, 124); // divisor 127 after expression
  Send2(0xD0, 0);
  EXPECT_EQ(aUnitChannel[0].nGain, 0);
  Cc(0, 10, 127);
  EXPECT_EQ(aUnitChannel[0].nPanL, 0);
  EXPECT_EQ(aUnitChannel[0].nPanR, 63);
  Cc(0, 10, 0);
  EXPECT_EQ(aUnitChannel[0].nPanL, 63);
  EXPECT_EQ(aUnitChannel[0].nPanR, 0);
}

TEST_F(EngineTest, MakeWithoutVoicesAddsNothingButStepsTheVibratoClock) {
  Frame f;
  for (int32_t &n : f.an)
    n = 7;
  vokra::Make(f.an);
  for (int32_t n : f.an)
    EXPECT_EQ(n, 7);
  EXPECT_EQ(vokra::nLfoPhase, 1);
  Run(17);
  EXPECT_EQ(vokra::nLfoPhase, 1); // 44100 / 2560 + 1 = 18 samples per step
  Run(1);
  EXPECT_EQ(vokra::nLfoPhase, 2);
}

TEST_F(EngineTest, OneVoiceReachesTheAccumulatorsThroughEveryGain) {
  MakeSimple(0, Constant(4000, 10000));
  NoteOn(0, 60, 100);
  Run(4000); // attack and decay to the floor of 100 are over
  const Frame f = MakeOne();
  const int32_t nOut = 10000 * (100 * 119) / 16384; // sample x level x velocity
  const int32_t nSum = nOut * 64 * 127 / 8128;      // instrument and final gain
  EXPECT_EQ(f.an[0], nSum * 76 * 63 / 24576);       // channel gain and pan
  EXPECT_EQ(f.an[16], nSum * 76 * 63 / 24576);
  EXPECT_EQ(f.an[32], 1);
  for (int ch = 1; ch < 16; ++ch)
    EXPECT_EQ(f.an[ch] | f.an[16 + ch] | f.an[32 + ch], 0);
}

TEST_F(EngineTest, DrumChannelPannedRightAddsOnlyToTheRight) {
  MakeSimple(5, Constant(4000, 10000));
  vokra::anDrumMap[36][0] = 5;
  Cc(9, 10, 127);
  NoteOn(9, 36);
  Run(2000); // attack, and decay to the floor
  for (int i = 0; i < 3; ++i) {
    const Frame f = MakeOne();
    EXPECT_EQ(f.an[9], 0);
    EXPECT_NE(f.an[25], 0);
    EXPECT_EQ(f.an[41], 1);
  }
  // Drums ignore note-off and bend: the voice keeps its step.
  const int32_t nStep = aVoice[0].nStep;
  NoteOff(9, 36);
  Send(0xE9, 0x7F, 0x7F);
  EXPECT_EQ(aVoice[0].nStage, 2);
  EXPECT_EQ(aVoice[0].nStep, nStep);
  EXPECT_EQ(nStep, vokra::NoteToStep(60));
}

TEST_F(EngineTest, ChannelPressureZeroSilencesButVoicesStillCount) {
  MakeSimple(0, Constant(4000, 10000));
  NoteOn(2, 60);
  Run(500);
  Send2(0xD2, 0);
  const Frame f = MakeOne();
  EXPECT_EQ(f.an[2], 0);
  EXPECT_EQ(f.an[18], 0);
  EXPECT_EQ(f.an[34], 1);
}

TEST_F(EngineTest, RetriggerKeepsTheNoteSoASecondNoteOffIsNeeded) {
  MakeSimple(0, Constant(4000, 1000));
  NoteOn(0, 60);
  NoteOn(0, 60);
  EXPECT_EQ(aVoice[0].nStage, 3); // released by the retrigger
  EXPECT_EQ(aVoice[0].nNote, 60);
  EXPECT_EQ(aVoice[1].nStage, 0);
  NoteOff(0, 60);
  EXPECT_EQ(aVoice[0].nNote, vokra::kNoteReleased);
  EXPECT_EQ(aVoice[1].nStage, 0);
  NoteOff(0, 60);
  EXPECT_EQ(aVoice[1].nStage, 3);
  EXPECT_EQ(aVoice[1].nNote, vokra::kNoteReleased);
  // A velocity-0 note-on is a note-off; a note that is not sounding does nothing.
  NoteOn(0, 62);
  NoteOn(0, 62, 0);
  EXPECT_EQ(aVoice[2].nStage, 3);
  NoteOff(0, 70);
  Send(0xA0, 70, 1);
}

TEST_F(EngineTest, HeldVoiceIsReleasedByRetriggerAndTheNewOneSounds) {
  MakeSimple(0, Constant(4000, 1000));
  Cc(0, 64, 127);
  NoteOn(0, 60);
  NoteOff(0, 60);
  EXPECT_EQ(aVoice[0].bHeldOff, 1);
  EXPECT_EQ(aVoice[0].nStage, 0);
  NoteOn(0, 60);
  EXPECT_EQ(aVoice[0].nStage, 3);
  EXPECT_EQ(aVoice[1].nStage, 0);
  EXPECT_EQ(aVoice[1].bActive, 1);
  // Releasing the pedal releases only what was marked held.
  NoteOn(0, 64);
  NoteOff(0, 64);
  Cc(0, 64, 0);
  EXPECT_EQ(aVoice[2].nStage, 3);
  EXPECT_EQ(aVoice[2].nNote, vokra::kNoteReleased);
  EXPECT_EQ(aVoice[1].nStage, 0);
}

TEST_F(EngineTest, ClosedHiHatReleasesOpenHiHatAtAHigherVoiceIndex) {
  MakeSimple(1, Constant(40, 1000), {0, 0, 3}); // short, ends on its own
  MakeSimple(2, Constant(4000, 1000));          // long, loops
  vokra::anDrumMap[36][0] = 1;
  vokra::anDrumMap[46][0] = 2;
  vokra::anDrumMap[42][0] = 2;
  NoteOn(9, 36); // voice 0
  NoteOn(9, 46); // voice 1
  Run(200);
  ASSERT_EQ(aVoice[0].bActive, 0);
  ASSERT_EQ(aVoice[1].bActive, 1);
  NoteOn(9, 42); // takes voice 0
  EXPECT_EQ(aVoice[0].nNote, 42);
  EXPECT_EQ(aVoice[0].nStage, 0);
  EXPECT_EQ(aVoice[1].nStage, 3);
  // Only the rhythm channel has groups.
  NoteOn(3, 46);
  NoteOn(3, 42);
  EXPECT_EQ(aVoice[2].nStage, 0);
}

TEST_F(EngineTest, WithAllVoicesBusyANoteOnStartsNothing) {
  MakeSimple(0, Constant(4000, 10));
  for (int v = 0; v < 256; ++v)
    NoteOn(v / 128, v % 128);
  ASSERT_EQ(vokra::nVoiceTop, 256);
  NoteOn(5, 60);
  for (int v = 0; v < 256; ++v)
    EXPECT_NE(aVoice[v].nChannel, 5);
  // A retrigger still releases, but the new note finds no voice.
  NoteOn(1, 3);
  EXPECT_EQ(aVoice[131].nStage, 3);
  EXPECT_EQ(aVoice[131].nNote, 3);
  EXPECT_EQ(vokra::nVoiceTop, 256);
  Cc(7, 123, 0);
  EXPECT_EQ(vokra::nVoiceTop, 0);
  EXPECT_EQ(MakeOne().an[32], 0);
}

TEST_F(EngineTest, DataEntryTakesEachParameterFromItsController) {
  // RPN 0: the range comes from controller 38 only.
  Cc(0, 101, 0);
  Cc(0, 100, 0);
  Cc(0, 6, 12);
  EXPECT_EQ(aUnitChannel[0].nBendRange, 2);
  Cc(0, 38, 12);
  EXPECT_EQ(aUnitChannel[0].nBendRange, 12);
  // Fine tune: 6 gives bits 0-6, 38 bits 7-13, in either order.
  Cc(0, 100, 1);
  Cc(0, 38, 0x20);
  Cc(0, 6, 0x55);
  EXPECT_EQ(aUnitChannel[0].nFineTune, 0x20 * 128 | 0x55);
  // NRPN 0x0120 shares the number and takes both controllers.
  Cc(0, 99, 1);
  Cc(0, 98, 0x20);
  EXPECT_EQ(aUnitChannel[0].nParamNum, 0x0120);
  Cc(0, 6, 9);
  EXPECT_EQ(aUnitChannel[0].nCutoff, 9);
  Cc(0, 38, 10);
  EXPECT_EQ(aUnitChannel[0].nCutoff, 10);
  // After a reset the number is 0: controller 38 sets the range at once.
  Cc(0, 121, 0);
  Cc(0, 38, 5);
  EXPECT_EQ(aUnitChannel[0].nBendRange, 5);
}

TEST_F(EngineTest, CoarseTuneAndBendRetuneSoundingVoices) {
  MakeSimple(0, Constant(4000, 10));
  NoteOn(0, 60);
  Cc(0, 101, 0);
  Cc(0, 100, 2);
  Cc(0, 38, 76);
  EXPECT_EQ(aVoice[0].nStep, vokra::NoteToStep(72));
  EXPECT_EQ(aVoice[0].nEnvClock, vokra::NoteToStep(72) * 44100 / 22050 + 512);
  Send(0xE0, 0, 0); // bend 0, range 2
  EXPECT_EQ(aVoice[0].nStep, vokra::NoteToStep(70));
}

TEST_F(EngineTest, ResetAllControllersOnOneChannelResetsEveryChannel) {
  for (int c = 0; c < 16; ++c) {
    Send2(uint8_t(0xD0 | c), 10);
    Cc(c, 11, 20);
    Cc(c, 1, 90);
    Send(uint8_t(0xE0 | c), 0, 0x10);
    Cc(c, 64, 127);
  }
  Cc(2, 121, 0);
  for (int c = 0; c < 16; ++c) {
    EXPECT_EQ(aUnitChannel[c].nPressure, 127);
    EXPECT_EQ(aUnitChannel[c].nExpressionSq, 16129);
    EXPECT_EQ(aUnitChannel[c].nModulation, 0);
    EXPECT_EQ(aUnitChannel[c].nPitchBend, 0x2000);
    EXPECT_EQ(aUnitChannel[c].bHold, 0);
    EXPECT_EQ(aUnitChannel[c].nGain, 76);
  }
}

TEST_F(EngineTest, ResetWhileHoldingLeavesHeldVoicesSounding) {
  MakeSimple(0, Constant(4000, 10));
  Cc(0, 64, 127);
  NoteOn(0, 60);
  NoteOff(0, 60);
  Cc(0, 121, 0);
  EXPECT_EQ(aUnitChannel[0].bHold, 0);
  EXPECT_EQ(aVoice[0].nStage, 0);
  EXPECT_EQ(aVoice[0].bHeldOff, 1);
  Cc(0, 64, 0);
  EXPECT_EQ(aVoice[0].nStage, 3);
}

TEST_F(EngineTest, RhythmPartSysExInBothForms) {
  // First form, block 0x10 (channel 10) with value 0: channel 10 turns melodic.
  SendSysEx({0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x15, 0x00, 0x1B, 0xF7});
  EXPECT_EQ(aUnitChannel[9].bRhythm, 0);
  SendSysEx({0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x02, 0x18, 0xF7});
  EXPECT_EQ(aUnitChannel[0].bRhythm, 1);
  SendSysEx({0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x01, 0x10, 0xF7});
  EXPECT_EQ(aUnitChannel[10].bRhythm, 1);
  // Second form.
  SendSysEx({0x43, 0x10, 0x4C, 0x08, 0x03, 0x07, 0x01, 0xF7});
  EXPECT_EQ(aUnitChannel[3].bRhythm, 1);
  SendSysEx({0x43, 0x10, 0x4C, 0x08, 0x03, 0x07, 0x00, 0xF7});
  EXPECT_EQ(aUnitChannel[3].bRhythm, 0);
  // Shorter than seven bytes: ignored.
  SendSysEx({0x43, 0x10, 0x4C, 0x08, 0x05, 0x07});
  EXPECT_EQ(aUnitChannel[5].bRhythm, 0);
  // A reset makes channel 10 a rhythm channel again and leaves the others.
  Cc(0, 121, 0);
  EXPECT_EQ(aUnitChannel[9].bRhythm, 1);
  EXPECT_EQ(aUnitChannel[0].bRhythm, 1);
}

TEST_F(EngineTest, ReceiveMaskDropsOnlyNoteOns) {
  MakeSimple(0, Constant(4000, 10));
  NoteOn(4, 60);
  aUnitChannel[4].bReceive = 0;
  NoteOn(4, 62);
  EXPECT_EQ(vokra::nVoiceTop, 1);
  NoteOff(4, 60);
  EXPECT_EQ(aVoice[0].nStage, 3);
  Send2(0xC4, 7);
  EXPECT_EQ(aUnitChannel[4].nProgram, 7);
  aUnitChannel[4].bReceive = 1;
}

TEST_F(EngineTest, GetNameWithNullBufferOnlyReturnsTheLength) {
  EXPECT_EQ(vokra::GetName(nullptr), 21);
  char sz[32];
  std::memset(sz, 'x', sizeof sz);
  EXPECT_EQ(vokra::GetName(sz), 21);
  EXPECT_STREQ(sz, "VOKRA SOUND GENERATOR");
  EXPECT_EQ(sz[22], 'x');
}

// Sets voice 0 up by hand to look at one render's sample fetch.
class FetchTest : public EngineTest {
protected:
  int32_t RenderAt(vokra::PfnRender pfn, int32_t nPos, int32_t nFrac) {
    vokra::Voice &r = aVoice[0];
    r.nPos = nPos;
    r.nFrac = nFrac;
    r.nStep = 1;
    r.nAmp = 16384;
    r.nEnvClock = 0;
    r.nEnvTimer = 0;
    r.nInstrument = 0;
    r.nChannel = 0;
    r.nStage = 2;
    r.bActive = 1;
    return pfn(0);
  }
};

TEST_F(FetchTest, InterpolationWrapsToTheLoopStartOrByTheLoopLength) {
  MakeSimple(0, {1000, 2000, 3000, 4000, 5000});
  vokra::aInstrument[0].nLoopStart = 2;
  EXPECT_EQ(RenderAt(vokra::RenderSimple, 4, 136), 3000);
  EXPECT_EQ(RenderAt(vokra::RenderSimpleInterp, 4, 136), 3500);
  // Past nEnd (8) the second sample is taken at nLoopStart.
  EXPECT_EQ(RenderAt(vokra::RenderSimpleInterp, 8, 68), 5000 + (2000 - 5000) * 68 / 272);

  MakeFiveStage(1, {1000, 2000, 3000, 4000, 5000});
  vokra::aInstrument[1].nLoopLength = 6;
  aVoice[0].nType = 3;
  vokra::Voice &r = aVoice[0];
  r.nInstrument = 1;
  // Past nEnd: old position + 2 - nLoopLength = 4.
  r.nPos = 8;
  r.nFrac = 136;
  r.nStep = 1;
  r.nAmp = 16384;
  r.bActive = 1;
  EXPECT_EQ(vokra::RenderFiveStageInterp(0), 5000 + (3000 - 5000) * 136 / 272);
}

TEST_F(EngineTest, HugeStepsOnATinyLoopStayInsideTheLoop) {
  MakeSimple(0, {100, 200, 300, 400, 500, 600});
  vokra::aInstrument[0].nLoopStart = 6; // a loop of three samples
  MakeFiveStage(1, {100, 200, 300, 400});
  vokra::aInstrument[1].nLoopStart = 4;
  vokra::aInstrument[1].nLoopLength = 4;
  vokra::anProgramMap[1][0] = 1;
  vokra::SetRate(5200);
  Cc(0, 1, 127);
  NoteOn(0, 127);
  Send2(0xC1, 1);
  NoteOn(1, 127);
  Cc(1, 1, 127);
  for (int i = 0; i < 3000; ++i) {
    MakeOne();
    ASSERT_EQ(aVoice[0].bActive, 1);
    ASSERT_GE(aVoice[0].nPos, 6);
    ASSERT_LE(aVoice[0].nPos, 10);
    ASSERT_EQ(aVoice[1].bActive, 1);
    ASSERT_GE(aVoice[1].nPos, 4);
    ASSERT_LE(aVoice[1].nPos, 6);
  }
  // Without a loop a huge step ends the voice at once.
  vokra::aInstrument[0].bLoop = 0;
  NoteOn(2, 127);
  MakeOne();
  EXPECT_EQ(aVoice[2].bActive, 0);
  EXPECT_EQ(aVoice[2].nStage, 4);
}

TEST_F(EngineTest, FiveStageLoopEndsADrumButLoopsAMelody) {
  MakeFiveStage(3, Constant(100, 1000));
  vokra::anDrumMap[40][0] = 3;
  vokra::anProgramMap[0][0] = 3;
  NoteOn(9, 40);
  NoteOn(0, 60);
  Run(99);
  EXPECT_EQ(aVoice[0].bActive, 1);
  Run(2);
  EXPECT_EQ(aVoice[0].bActive, 0);
  EXPECT_EQ(aVoice[0].nStage, 5);
  EXPECT_EQ(aVoice[1].bActive, 1);
  Run(1000);
  EXPECT_EQ(aVoice[1].bActive, 1);
}

TEST_F(EngineTest, RateAndInterpolationChangesApplyToLaterNotesOnly) {
  MakeSimple(0, Constant(4000, 10));
  NoteOn(0, 60);
  vokra::SetRate(22050);
  vokra::bOverSample = 1;
  NoteOn(0, 62);
  EXPECT_EQ(aVoice[0].nStep, 272);
  EXPECT_EQ(aVoice[0].pfnRender, &vokra::RenderSimple);
  EXPECT_EQ(aVoice[1].nStep, vokra::NoteToStep(62));
  EXPECT_EQ(aVoice[1].nStep, 19576 / 16 * 11025 / 22050);
  EXPECT_EQ(aVoice[1].pfnRender, &vokra::RenderSimpleInterp);
  EXPECT_EQ(vokra::SetRate(0), 0);
  EXPECT_EQ(vokra::nRate, 22050);
}

TEST_F(EngineTest, PolyPressureReplacesTheVelocityFactor) {
  MakeSimple(0, Constant(4000, 10000));
  NoteOn(0, 60);
  Run(500);
  Send(0xA0, 60, 0);
  EXPECT_EQ(aVoice[0].nAmp, 0);
  const Frame f = MakeOne();
  EXPECT_EQ(f.an[0], 0);
  EXPECT_EQ(f.an[32], 1);
  Send(0xA0, 60, 64);
  EXPECT_EQ(aVoice[0].nVelGain, 90);
}

TEST_F(EngineTest, LoudVoicesAndLargeGainsWrapWithoutOverflow) {
  MakeSimple(0, Constant(4000, 32767));
  vokra::aInstrument[0].nInstGain = 1 << 20;
  Cc(0, 11, 127);
  Cc(0, 7, 127);
  for (int k = 0; k < 128; ++k) {
    NoteOn(0, k, 127);
    NoteOn(1, k, 127);
  }
  Run(600);
  EXPECT_EQ(MakeOne().an[32], 128);
}

} // namespace
} // namespace vokra_test

namespace vokra_test {
namespace {

// A sounding voice's amplitude is its level times its velocity factor,
// wrapped to 32 bits as the 64-bit product says, whatever the level reached.
void ExpectWrappedAmplitudes() {
  for (int32_t v = 0; v < vokra::kVoiceCount; ++v) {
    const vokra::Voice &r = vokra::aVoice[v];
    if (r.bActive) {
      EXPECT_EQ(r.nAmp, static_cast<int32_t>(static_cast<uint32_t>(
                            static_cast<uint64_t>(static_cast<int64_t>(r.nLevel) * r.nVelGain))))
          << "voice " << v;
    }
  }
}

// Sample headers and configuration values reach the engine unchecked: the
// extremes must neither overflow (UBSan) nor read outside the data (ASan).
TEST_F(EngineTest, ExtremeInstrumentValuesStayDefined) {
  const int32_t anExtremes[] = {INT32_MIN, -1, 0, 1, 127, 128, INT32_MAX};
  int32_t nRound = 0;
  for (int32_t nA : anExtremes) {
    for (int32_t nB : anExtremes) {
      MakeSimple(0, Constant(50, -32768));
      vokra::Instrument &r = vokra::aInstrument[0];
      r.nAttackStep = nA;
      r.nDecayPeriod = nB;
      r.nDecay2Period = nA;
      r.nReleaseStep = nB;
      r.nDecayLevel = nA;
      r.nFloorLevel = nB;
      r.nStart = nRound % 3 == 0 ? nA : 0;
      r.nLoopStart = nB;
      r.nEnd = nRound % 2 == 0 ? nA : 98;
      r.nKeyShift = nA;
      r.nInstGain = nB;
      vokra::nFinalGain = nA;
      Cc(0, 1, 127);
      NoteOn(0, 60);
      NoteOn(0, 127);
      Run(300);
      ExpectWrappedAmplitudes();
      NoteOff(0, 60);
      NoteOff(0, 127);
      Run(300);
      ExpectWrappedAmplitudes();
      Cc(0, 123, 0);
      vokra::ClearInstruments();
      ++nRound;
    }
  }
  EXPECT_EQ(nRound, 49);
}

} // namespace
} // namespace vokra_test

namespace vokra_test {
namespace {

// Five-stage envelopes, one envelope tick per output sample.
class FiveStageTest : public EngineTest {
protected:
  vokra::Instrument &Inst() { return vokra::aInstrument[0]; }
  void Start() {
    NoteOn(0, 60);
    aVoice[0].nEnvClock = vokra::nRate;
  }
  int32_t RunUntilStage(int32_t nStage, int32_t nLimit) {
    for (int32_t i = 1; i <= nLimit; ++i) {
      MakeOne();
      if (aVoice[0].nStage == nStage)
        return i;
    }
    return -1;
  }
};

TEST_F(FiveStageTest, AttackClimbsOneLevelPerGatedExpiryToThePeak) {
  MakeFiveStage(0, Constant(400, 1000));
  Inst().nStartLevel = 100;
  Start();
  EXPECT_EQ(aVoice[0].nLevel, 101);
  // Rate 95: the count expires every tick; divider 0 passes every second.
  EXPECT_EQ(RunUntilStage(1, 1000), 2 * 26);
  EXPECT_EQ(aVoice[0].nLevel, 127);
  // Rate 96 in the first decay holds the level for good.
  Run(5000);
  EXPECT_EQ(aVoice[0].nStage, 1);
  EXPECT_EQ(aVoice[0].nLevel, 127);
}

TEST_F(FiveStageTest, NegativeDepthRisesAndZeroSecondDepthHolds) {
  MakeFiveStage(0, Constant(400, 1000));
  Inst().nDecay1Rate = 92;
  Inst().nDecay1Depth = -10;
  Inst().nDecay2Rate = 90;
  Inst().nDecay2Depth = 0;
  Start();
  ASSERT_GT(RunUntilStage(2, 1000), 0);
  EXPECT_EQ(aVoice[0].nLevel, 137);
  Run(5000);
  EXPECT_EQ(aVoice[0].nStage, 2);
  EXPECT_EQ(aVoice[0].nLevel, 137);
}

TEST_F(FiveStageTest, SustainDecayEndsAHeldNoteAndReleaseRate96EndsAtOnce) {
  MakeFiveStage(0, Constant(400, 1000));
  Inst().nDecay1Rate = 94;
  Inst().nDecay1Depth = 20;
  Inst().nDecay2Rate = 94;
  Inst().nDecay2Depth = 20;
  Inst().nDecay3Rate = 94;
  Start();
  ASSERT_GT(RunUntilStage(3, 1000), 0);
  EXPECT_EQ(aVoice[0].nLevel, 87);
  ASSERT_GT(RunUntilStage(5, 10000), 0); // the key is still down
  EXPECT_EQ(aVoice[0].bActive, 0);

  Inst().nReleaseRate = 96;
  Start();
  Run(100);
  NoteOff(0, 60);
  EXPECT_EQ(aVoice[0].nStage, 4);
  EXPECT_LE(RunUntilStage(5, 100), 3);
}

TEST_F(EngineTest, BankSelectWaitsForProgramChangeAndDrumVelocityZeroIsIgnored) {
  MakeSimple(0, Constant(4000, 10));
  MakeSimple(7, Constant(4000, 10));
  vokra::anProgramMap[0][5] = 7;
  Cc(0, 32, 5);
  NoteOn(0, 60);
  EXPECT_EQ(aVoice[0].nInstrument, 0);
  Send2(0xC0, 0);
  NoteOn(0, 62);
  EXPECT_EQ(aVoice[1].nInstrument, 7);

  vokra::anDrumMap[38][0] = 7;
  NoteOn(9, 38);
  NoteOn(9, 38, 0);
  EXPECT_EQ(aVoice[2].nStage, 0);
  EXPECT_EQ(aVoice[2].nNote, 38);
}

} // namespace
} // namespace vokra_test
