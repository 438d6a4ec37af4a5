// The block renderers driven by an in-process stand-in unit whose Make adds a
// known signal: gains, mute, saturation, band filter, mono, sends, meters,
// the end-of-song countdown and the load figure.
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/unit_interface.h"
#include "player/render/effects.h"
#include "player/render/render_loop.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"

namespace {

constexpr int32_t kSlot = 7;

// What the stand-in unit adds to each channel per Make call.
int32_t anSigL[16], anSigR[16], anSigVoices[16];
int32_t (*pfnWave)(int64_t n) = nullptr; // optional: channel 0 follows this instead
int64_t nMakeCalls = 0;
int32_t nNotesOffSeen = 0;
int32_t nSleepMsOnFirst = 0; // slows the first Make of every block

void StandInMake(int32_t *pAcc) {
  for (int32_t ch = 0; ch < 16; ++ch) {
    pAcc[kAccLeft + ch] += anSigL[ch];
    pAcc[kAccRight + ch] += anSigR[ch];
    pAcc[kAccVoices + ch] += anSigVoices[ch];
  }
  if (pfnWave) {
    pAcc[kAccLeft] += pfnWave(nMakeCalls);
    pAcc[kAccRight] += pfnWave(nMakeCalls + 7);
  }
  ++nMakeCalls;
}

void StandInMidiIn(const uint8_t *pMsg, int32_t) {
  if ((pMsg[kMsgStatus] & 0xf0) == 0xb0 && pMsg[kMsgData1] == 123) {
    ++nNotesOffSeen;
  }
}

void SlowMake(int32_t *pAcc) {
  if (nSleepMsOnFirst) {
    std::this_thread::sleep_for(std::chrono::milliseconds(nSleepMsOnFirst));
    nSleepMsOnFirst = 0;
  }
  StandInMake(pAcc);
}

int32_t Wave(int64_t n) {
  return static_cast<int32_t>((n * 7919) % 20001) - 10000;
}

class RenderTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(AllocOutRing(), 1);
    AllocReverbLine();
    AllocChorusLine();
    nPCMRate = 44100;
    bUseEff1 = 0;
    bUseEff3 = 0;
    bLPF = 0;
    n3DLength = 0;
    bMonoMix = 0;
    nOutVolume = 127;
    nTracks = 0;
    nTicksPerBeat = 0;
    nTickStep = 256;
    nSamplesPerTick = 256 * 1000;
    nTickAccum = 0;
    std::memset(anSigL, 0, sizeof anSigL);
    std::memset(anSigR, 0, sizeof anSigR);
    std::memset(anSigVoices, 0, sizeof anSigVoices);
    std::memset(anChannelAcc, 0, sizeof anChannelAcc);
    pfnWave = nullptr;
    nMakeCalls = 0;
    nNotesOffSeen = 0;
    ResetEffects();
    ResetChannels(); // also nMasterGain = 127
    for (ChannelState &c : aChannels) {
      c.bMute = 0;
    }
    nLpfL = nLpfR = 0;
    nTailBlocks = 16;
    bPlaying = 1;
    ResetRenderStats();
    std::memset(&aUnitSlots[kSlot], 0, sizeof aUnitSlots[kSlot]);
    UnitSlot &s = aUnitSlots[kSlot];
    s.hModule = &s; // loaded as far as the routing can tell
    s.bActive = 1;
    s.pfnMake = StandInMake;
    s.pfnMidiIn = StandInMidiIn;
  }
  void TearDown() override {
    std::memset(&aUnitSlots[kSlot], 0, sizeof aUnitSlots[kSlot]);
    for (ChannelState &c : aChannels) {
      c.bMute = 0;
    }
    bPlaying = 0;
    bMonoMix = 0; // the song tests in this process render with the defaults
    nPCMRate = 22050;
  }

  static int16_t Sample(int32_t nBuf, int32_t nFrame, int32_t nSide) {
    const uint8_t *p = apOutBuf[nBuf] + 4 * nFrame + 2 * nSide;
    return static_cast<int16_t>(p[0] | p[1] << 8);
  }
  static std::vector<int16_t> Samples(int32_t nBuf, int32_t nFrames) {
    std::vector<int16_t> v;
    for (int32_t f = 0; f < nFrames; ++f) {
      v.push_back(Sample(nBuf, f, 0));
      v.push_back(Sample(nBuf, f, 1));
    }
    return v;
  }
};

TEST_F(RenderTest, DryChannelGoesThroughMasterGainAndVolume) {
  anSigL[0] = 10000;
  anSigR[0] = -10000;
  anSigVoices[0] = 2;
  anSigVoices[9] = 1;
  EXPECT_EQ(RenderBlock(3, 400), 100);
  // 10000 * 127 / 192 = 6614, * 127 / 128 = 6562
  for (int32_t f = 0; f < 100; ++f) {
    ASSERT_EQ(Sample(3, f, 0), 6562);
    ASSERT_EQ(Sample(3, f, 1), -6562);
  }
  EXPECT_EQ(anBufState[3], 1);
  EXPECT_EQ(abMeterReady[3], 1);
  const MeterFrame &m = aMeterFrames[3];
  EXPECT_EQ(m.aChannel[0].nPeakL, 10000 / 1024);
  EXPECT_EQ(m.aChannel[0].nPeakR, 10000 / 1024);
  EXPECT_EQ(m.aChannel[0].bSounding, 1);
  EXPECT_EQ(m.aChannel[1].bSounding, 0);
  EXPECT_EQ(m.aChannel[9].bSounding, 1);
  EXPECT_EQ(m.anSummary[kMeterOutPeakL], 6562);
  EXPECT_EQ(m.anSummary[kMeterOutPeakR], 6562);
  EXPECT_EQ(m.anSummary[kMeterLevelSum], 3);
  EXPECT_EQ(m.anSummary[kMeterClipped], 0);
  for (int32_t v : anChannelAcc) {
    EXPECT_EQ(v, 0); // cleared after every sample
  }

  RenderRecordBlock(8);
  EXPECT_EQ(Sample(0, 0, 0), 6614); // no output volume in a recording
  EXPECT_EQ(Sample(0, 1, 1), -6614);
}

TEST_F(RenderTest, MutedChannelIsAtOneTwelfthLiveAndAbsentFromRecording) {
  anSigL[4] = 12000;
  anSigR[4] = 12000;
  anSigL[5] = 0;
  anSigVoices[4] = 1;
  aChannels[4].bMute = 1;
  RenderBlock(0, 16);
  EXPECT_EQ(Sample(0, 0, 0), 655); // 1000 * 127 / 192 = 661, * 127 / 128 = 655
  RenderTestBlock(1, 16);
  EXPECT_EQ(Sample(1, 0, 0), 655);
  EXPECT_EQ(aMeterFrames[1].aChannel[4].nPeakL, 1000 / 256);
  RenderRecordBlock(16);
  EXPECT_EQ(Sample(0, 0, 0), 0);
  EXPECT_EQ(Sample(0, 3, 1), 0);
  EXPECT_EQ(aChannels[4].nLevelOut, 1); // still sounding as far as the end of song goes
}

TEST_F(RenderTest, SaturationClipsLiveAndRecordedButTheSoundTestWraps) {
  anSigL[2] = 100000; // 100000 * 127 / 192 * 127 / 128 = 65628
  anSigR[2] = -100000;
  RenderBlock(0, 8);
  EXPECT_EQ(Sample(0, 0, 0), 32767);
  EXPECT_EQ(Sample(0, 0, 1), -32768);
  EXPECT_EQ(aMeterFrames[0].anSummary[kMeterClipped], 1);
  EXPECT_EQ(aMeterFrames[0].anSummary[kMeterOutPeakL], 32767);
  EXPECT_EQ(aMeterFrames[0].anSummary[kMeterOutPeakR], 32768);

  aMeterFrames[1].anSummary[kMeterClipped] = 77; // the sound test keeps slots 3-7
  EXPECT_EQ(RenderTestBlock(1, 8), 8);
  EXPECT_EQ(Sample(1, 0, 0), static_cast<int16_t>(65628 & 0xffff));
  EXPECT_EQ(Sample(1, 0, 1), static_cast<int16_t>(-65628 & 0xffff));
  EXPECT_EQ(aMeterFrames[1].anSummary[kMeterOutPeakL], 65628); // unsaturated
  EXPECT_EQ(aMeterFrames[1].anSummary[kMeterLevelSum], 127);
  EXPECT_EQ(aMeterFrames[1].anSummary[kMeterClipped], 77);
  EXPECT_EQ(aMeterFrames[1].aChannel[2].nPeakL, 100000 / 256);
  EXPECT_EQ(abMeterReady[1], 1);

  RenderRecordBlock(8);
  EXPECT_EQ(Sample(0, 0, 0), 32767); // 100000 * 127 / 192 = 66145
  EXPECT_EQ(Sample(0, 1, 1), -32768);

  anSigL[2] = 1000;
  anSigR[2] = 0;
  RenderBlock(0, 8);
  EXPECT_EQ(aMeterFrames[0].anSummary[kMeterClipped], 0);
}

TEST_F(RenderTest, BandFilterByRate) {
  nMasterGain = 192; // unity, so the filter sees the channel's own value
  anSigL[0] = 1000;
  anSigR[0] = -1000;
  bLPF = 1;
  for (int32_t nRate : {44100, 48000}) {
    nPCMRate = nRate;
    nLpfL = nLpfR = 0;
    RenderRecordBlock(40);
    for (int32_t f = 0; f < 10; ++f) {
      ASSERT_EQ(Sample(0, f, 0), 1000) << nRate;
      ASSERT_EQ(Sample(0, f, 1), -1000) << nRate;
    }
  }
  nPCMRate = 22050;
  nLpfL = nLpfR = 0;
  RenderRecordBlock(400);
  EXPECT_EQ(Sample(0, 0, 0), 1000); // state 500, scaled by 2
  EXPECT_EQ(Sample(0, 1, 0), 1500);
  EXPECT_EQ(Sample(0, 2, 0), 1750);
  // The state stops one short of 1000 because each step truncates: 999 * 2.
  EXPECT_EQ(Sample(0, 99, 0), 1998);
  EXPECT_EQ(Sample(0, 99, 1), -1998);
}

TEST_F(RenderTest, MonoSwitchOnlyInLivePlayback) {
  anSigL[0] = 1000;
  anSigR[0] = 3000;
  bMonoMix = 1;
  RenderBlock(0, 8);
  EXPECT_EQ(Sample(0, 0, 0), (655 + 1968) / 2);
  EXPECT_EQ(Sample(0, 0, 1), (655 + 1968) / 2);
  RenderRecordBlock(8);
  EXPECT_EQ(Sample(0, 0, 0), 661);
  EXPECT_EQ(Sample(0, 0, 1), 1984);
}

TEST_F(RenderTest, EffectsWithZeroSendsAndNo3DLeaveTheDryMix) {
  pfnWave = Wave;
  anSigL[3] = 5000;
  anSigR[3] = -7000;
  for (ChannelState &c : aChannels) {
    c.nReverbSendSq = 0;
    c.nChorusSend = 0;
  }
  RenderRecordBlock(8192);
  const auto dry = Samples(0, 2048);

  ResetEffects();
  nMakeCalls = 0;
  bUseEff1 = bUseEff3 = 1;
  pfn3DEngine = Engine3DHeavy; // n3DLength 0: not called
  RenderRecordBlock(8192);
  EXPECT_EQ(Samples(0, 2048), dry);

  // With the reset send of 40 squared the reverb is heard after 28 ms.
  for (ChannelState &c : aChannels) {
    c.nReverbSendSq = 1600;
  }
  ResetEffects();
  nMakeCalls = 0;
  RenderRecordBlock(8192);
  const auto wet = Samples(0, 2048);
  EXPECT_TRUE(std::equal(wet.begin(), wet.begin() + 2 * 1148, dry.begin()));
  EXPECT_NE(wet, dry);
  pfn3DEngine = Engine3DLight;
}

// Bursts of noise with exact silence between them, a different rhythm and
// pan per channel: the 3D engines' passing-by of quiet channels must not show.
void BurstMake(int32_t *pAcc) {
  for (int32_t ch = 0; ch < 16; ch += 3) {
    const int64_t nPeriod = 700 + 397 * ch;
    if (nMakeCalls % nPeriod < nPeriod / 3) {
      pAcc[kAccLeft + ch] += Wave(nMakeCalls * (ch + 1));
      pAcc[kAccRight + ch] += Wave(nMakeCalls * (ch + 2) + 5) / 3;
    }
  }
  ++nMakeCalls;
}

// Every depth within the bound, negative ones and taps longer than a line
// included: a write lands d samples ahead with d taken modulo the line.
TEST_F(RenderTest, PassingByQuietChannelsIn3DChangesNothing) {
  aUnitSlots[kSlot].pfnMake = BurstMake;
  for (int32_t ch = 0; ch < 16; ++ch) {
    aChannels[ch].nPan = (ch * 37) % 128;
  }
  for (const int32_t nLength : {1200, -300, -256, -1000, 9000, kMax3DDepth, -kMax3DDepth}) {
    for (Pfn3DEngine pfn : {Engine3DLight, Engine3DMedium, Engine3DHeavy}) {
      std::vector<int16_t> aOut[2];
      for (int32_t bSkip = 0; bSkip < 2; ++bSkip) {
        b3DSkipQuiet = bSkip;
        n3DLength = nLength;
        pfn3DEngine = pfn;
        ResetEffects();
        for (int32_t ch = 0; ch < 16; ++ch) {
          Update3DTaps(ch);
        }
        nMakeCalls = 0;
        for (int32_t b = 0; b < 12; ++b) {
          RenderRecordBlock(kOutBufBytes);
          const auto v = Samples(0, kOutBufBytes / 4);
          aOut[bSkip].insert(aOut[bSkip].end(), v.begin(), v.end());
        }
      }
      EXPECT_TRUE(aOut[0] == aOut[1]) << "depth " << nLength << " engine "
                                      << (pfn == Engine3DLight    ? 0
                                          : pfn == Engine3DMedium ? 1
                                                                  : 2);
    }
  }
  b3DSkipQuiet = 1;
  n3DLength = 0;
  pfn3DEngine = Engine3DLight;
}

// A saved depth beyond the bound, as a damaged settings file may hold, plays
// as the stage off; its arithmetic must not overflow on the way.
TEST_F(RenderTest, DepthsBeyondTheBoundPlayWithout3D) {
  pfnWave = Wave;
  anSigL[4] = 3000;
  pfn3DEngine = Engine3DHeavy;
  ResetEffects();
  RenderRecordBlock(8192);
  const auto dry = Samples(0, 2048);
  for (const int32_t nLength : {kMax3DDepth + 1, INT32_MAX, -kMax3DDepth - 1, INT32_MIN}) {
    n3DLength = nLength;
    ResetEffects();
    for (int32_t ch = 0; ch < 16; ++ch) {
      Update3DTaps(ch);
    }
    nMakeCalls = 0;
    RenderRecordBlock(8192);
    EXPECT_EQ(Samples(0, 2048), dry) << "depth " << nLength;
  }
  n3DLength = 0;
  pfn3DEngine = Engine3DLight;
}

TEST_F(RenderTest, SongEndCountsOnlySilentBlocks) {
  const int32_t nSounding[] = {0, 0, 0, 0, 0, 1, 1, 0};
  int32_t nBlocks = 0;
  for (int32_t bVoice : nSounding) {
    anSigVoices[6] = bVoice;
    RenderBlock(nBlocks % 8, 64);
    ++nBlocks;
    EXPECT_EQ(bPlaying, 1);
  }
  EXPECT_EQ(nTailBlocks, 10);
  EXPECT_EQ(nNotesOffSeen, 16 * nBlocks); // all-notes-off to every channel after every block
  anSigVoices[6] = 0;
  for (int32_t i = 0; i < 9; ++i) {
    RenderBlock(0, 64);
    EXPECT_EQ(bPlaying, 1);
  }
  RenderBlock(0, 64); // the 16th silent block
  EXPECT_EQ(bPlaying, 0);

  // While a track is active nothing counts and no all-notes-off goes out.
  bPlaying = 1;
  nTailBlocks = 16;
  nTracks = 1;
  abTrackActive[0] = 1;
  anTrackDelta[0] = 1 << 30;
  nNotesOffSeen = 0;
  for (int32_t i = 0; i < 20; ++i) {
    RenderRecordBlock(64);
  }
  EXPECT_EQ(bPlaying, 1);
  EXPECT_EQ(nTailBlocks, 16);
  EXPECT_EQ(nNotesOffSeen, 0);
  abTrackActive[0] = 0;
  nTracks = 0;
}

TEST_F(RenderTest, MeterFrameCarriesThePosition) {
  nMeasure = 2;
  nBeatInMeasure = 1;
  nTickInBeat = 5;
  RenderBlock(4, 64);
  EXPECT_EQ(aMeterFrames[4].anSummary[kMeterMeasure], 3);
  EXPECT_EQ(aMeterFrames[4].anSummary[kMeterBeatTick], (1 << 16) | 5);
  nMeasure = nBeatInMeasure = nTickInBeat = 0;
}

TEST_F(RenderTest, LoadFigureSmoothsTowardsTheRenderTime) {
  fBlockSeconds = 8188 * 0.25f / 44100;
  UpdateLoadFigure(10, 1);
  EXPECT_EQ(anLoadHist[6], 10);
  EXPECT_EQ(anLoadHist[0], 5); // (10 + 0 + 0 + 0) >> 1
  EXPECT_EQ(nLoadPercent, 0);  // 5 / 6 truncates to 0
  for (int32_t i = 0; i < 20; ++i) {
    UpdateLoadFigure(8, 1);
  }
  EXPECT_EQ(anLoadHist[0], 8); // steady state: x equals e
  // s = 48, a = 8; 8 / (0.046417 * 10) = 17.2
  EXPECT_EQ(nLoadPercent, 17);

  fBlockSeconds = 0.0f; // not yet set: no figure, no fault
  UpdateLoadFigure(8, 1);
  EXPECT_EQ(nLoadPercent, 0);

  // A block that takes longer than its own duration shows as overload.
  ResetRenderStats();
  fBlockSeconds = 1e-5f;
  aUnitSlots[kSlot].pfnMake = SlowMake;
  for (int32_t i = 0; i < 6; ++i) {
    nSleepMsOnFirst = 5;
    RenderBlock(0, 4);
  }
  EXPECT_GE(aMeterFrames[0].anSummary[kMeterLoadPercent], 90);
  EXPECT_EQ(aMeterFrames[0].anSummary[kMeterOverload], 1);
}

TEST_F(RenderTest, RequestsOutsideTheRingAreRefused) {
  EXPECT_EQ(RenderBlock(8, 64), 0);
  EXPECT_EQ(RenderBlock(-1, 64), 0);
  EXPECT_EQ(RenderTestBlock(8, 64), 0);
  EXPECT_EQ(RenderBlock(0, 1 << 20), kOutBufBytes / 4); // bounded by the buffer
}

TEST_F(RenderTest, ExtremeUnitOutputDoesNotOverflow) {
  for (int32_t ch = 0; ch < 16; ++ch) {
    anSigL[ch] = INT32_MAX;
    anSigR[ch] = INT32_MIN;
    aChannels[ch].nReverbSendSq = 16129;
    aChannels[ch].nChorusSend = 127;
  }
  bUseEff1 = bUseEff3 = 1;
  bLPF = 1;
  nPCMRate = 22050;
  nOutVolume = 714;
  n3DLength = 1600;
  ResetEffects();
  for (Pfn3DEngine pfn : {Engine3DLight, Engine3DMedium, Engine3DHeavy}) {
    pfn3DEngine = pfn;
    RenderBlock(0, 4096);
    RenderRecordBlock(4096);
    RenderTestBlock(1, 4096);
  }
  pfn3DEngine = Engine3DLight;
  SUCCEED(); // the sanitizer build checks for signed overflow
}

} // namespace
