// The block renderers: per output sample the sequencer clock, the units, the
// 3D stage, the channel mix with its sends, reverb, chorus, gains, band filter
// and saturation; per block the end-of-song countdown, meters and load figure.
#include <chrono>
#include <cstring>

#include "common/unit_interface.h"
#include "player/render/audio_math.h"
#include "player/render/effects.h"
#include "player/render/engine_state.h"
#include "player/render/render_loop.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/units/unit_host.h"

constexpr int32_t kReverbSendDiv = 131072; // controller 91 squared (max 16129) to a send
constexpr int32_t kChorusSendDiv = 512;    // controller 93 (max 127) to a send
constexpr int32_t kMasterGainDiv = 192;    // nMasterGain 127 is about -3.6 dB
constexpr int32_t kOutVolumeDiv = 128;     // nOutVolume 127 is about 0 dB
constexpr int32_t kFilterRate = 44100;     // the band filter is transparent at this rate
constexpr int32_t kMuteDiv = 12;           // a muted channel plays at 1/12
constexpr int32_t kTestLevelSum = 127;     // summary slot 2 during the sound test
constexpr int32_t kOverloadPercent = 90;
constexpr int32_t kMaxElapsedMs = 10000000; // keeps the load sums inside 32 bits

MeterFrame aMeterFrames[kOutBufCount];
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

inline void StoreFrame(uint8_t *p, int32_t nL, int32_t nR) {
  p[0] = static_cast<uint8_t>(nL);
  p[1] = static_cast<uint8_t>(static_cast<uint32_t>(nL) >> 8);
  p[2] = static_cast<uint8_t>(nR);
  p[3] = static_cast<uint8_t>(static_cast<uint32_t>(nR) >> 8);
}

// Renders nFrames frames into pOut. One body for the three renderers; the mode
// decides, at compile time, which steps run.
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

  for (int32_t f = 0; f < nFrames; ++f) {
    if (bLfo) {
      StepChorusLfo();
    }
    if constexpr (M != Mode::Test) {
      SequencerClock(); // dispatches at most one tick's events before the units render
    }
    for (const UnitSlot &s : aUnitSlots) {
      if (s.bActive && s.pfnMake) {
        s.pfnMake(anChannelAcc);
      }
    }
    if (b3D) {
      pfnEngine();
    }
    if (bReverb) {
      ReverbLoad();
    }
    if (bChorus) {
      ChorusClear();
    }

    int32_t nMixL = 0;
    int32_t nMixR = 0;
    for (int32_t ch = 0; ch < 16; ++ch) {
      ChannelState &c = aChannels[ch];
      c.nLevelOut = anChannelAcc[kAccVoices + ch];
      anChannelAcc[kAccVoices + ch] = 0;
      int32_t nL = anChannelAcc[kAccLeft + ch];
      int32_t nR = anChannelAcc[kAccRight + ch];
      // A silent channel adds 0 to the mix and the sends and raises no peak:
      // most channels are silent most of the time.
      if (nL == 0 && nR == 0) {
        continue;
      }
      if (c.bMute) {
        if constexpr (M == Mode::Record) {
          nL = 0;
          nR = 0;
        } else {
          nL /= kMuteDiv;
          nR /= kMuteDiv;
        }
      }
      nMixL = WrapAdd(nMixL, nL);
      nMixR = WrapAdd(nMixR, nR);
      anChannelAcc[kAccLeft + ch] = 0;
      anChannelAcc[kAccRight + ch] = 0;
      if (bReverb) {
        nReverbInL = WrapAdd(nReverbInL, MulDiv(nL, c.nReverbSendSq, kReverbSendDiv));
        nReverbInR = WrapAdd(nReverbInR, MulDiv(nR, c.nReverbSendSq, kReverbSendDiv));
      }
      if (bChorus) {
        nChorusInL = WrapAdd(nChorusInL, MulDiv(nL, c.nChorusSend, kChorusSendDiv));
        nChorusInR = WrapAdd(nChorusInR, MulDiv(nR, c.nChorusSend, kChorusSendDiv));
      }
      if constexpr (M != Mode::Record) {
        // Peaks in 1/1024 units, 1/256 in the sound test.
        const int32_t nScale = M == Mode::Play ? 1024 : 256;
        const int32_t nPL = Abs32(nL / nScale);
        const int32_t nPR = Abs32(nR / nScale);
        if (nPL > c.nPeakL) {
          c.nPeakL = nPL;
        }
        if (nPR > c.nPeakR) {
          c.nPeakR = nPR;
        }
      }
    }

    if (bReverb) {
      ReverbApply(nMixL, nMixR);
    }
    if (bChorus) {
      ChorusApply(nMixL, nMixR);
    }
    nMixL = MulDiv(nMixL, nGain, kMasterGainDiv);
    nMixR = MulDiv(nMixR, nGain, kMasterGainDiv);
    if constexpr (M != Mode::Record) {
      nMixL = MulDiv(nMixL, nVolume, kOutVolumeDiv);
      nMixR = MulDiv(nMixR, nVolume, kOutVolumeDiv);
    }
    if (bFilter) {
      // One-pole low-pass with coefficient rate/44100, its state scaled back up.
      nLpfL = WrapAdd(nLpfL, Wrap32((static_cast<int64_t>(nMixL) - nLpfL) * nRate / kFilterRate));
      nLpfR = WrapAdd(nLpfR, Wrap32((static_cast<int64_t>(nMixR) - nLpfR) * nRate / kFilterRate));
      nMixL = MulDiv(nLpfL, kFilterRate, nRate);
      nMixR = MulDiv(nLpfR, kFilterRate, nRate);
    }
    if (bMono) {
      nMixL = static_cast<int32_t>((static_cast<int64_t>(nMixL) + nMixR) / 2);
      nMixR = nMixL;
    }
    if constexpr (M == Mode::Play) {
      nMixL = Saturate16(nMixL, meters.bClipped);
      nMixR = Saturate16(nMixR, meters.bClipped);
    } else if constexpr (M == Mode::Record) {
      int32_t bIgnored = 0; // recording keeps no clip flag
      nMixL = Saturate16(nMixL, bIgnored);
      nMixR = Saturate16(nMixR, bIgnored);
    }
    if constexpr (M != Mode::Record) {
      // The sound test meters see the unsaturated values.
      const int32_t nAL = Abs32(nMixL);
      const int32_t nAR = Abs32(nMixR);
      if (nAL > meters.nOutPeakL) {
        meters.nOutPeakL = nAL;
      }
      if (nAR > meters.nOutPeakR) {
        meters.nOutPeakR = nAR;
      }
    }
    StoreFrame(pOut + 4 * f, nMixL, nMixR); // the sound test stores the low 16 bits
  }
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
