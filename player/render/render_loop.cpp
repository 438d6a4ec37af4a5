// The three block renderers around the two loops: what a block reads once,
// the choice between the run loop and the sample loop, and per block the
// end-of-song countdown, the meter frame and the load figure.
#include <cstring>

#include "common/audio_math.h"
#include "common/unit_interface.h"
#include "player/render/effects.h"
#include "player/render/meters.h"
#include "player/render/render_frame.h"
#include "player/render/render_loop.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"

constexpr int32_t kTestLevelSum = 127; // summary slot 2 during the sound test
constexpr int32_t kOverloadPercent = 90;

int32_t bBlockRender = 1;

void LoadChannelSends(ChannelSends &s) {
  s.nMuted = 0;
  for (int32_t ch = 0; ch < 16; ++ch) {
    const ChannelState &c = aChannels[ch];
    s.anReverb[ch] = c.nReverbSendSq;
    s.anChorus[ch] = c.nChorusSend;
    s.nMuted |= static_cast<uint32_t>(c.bMute != 0) << ch;
  }
  s.bPlain = s.nMuted == 0;
  s.nReverbQuads = 0;
  s.nChorusQuads = 0;
  for (int32_t ch = 0; ch < 16; ++ch) {
    s.bPlain = s.bPlain && s.anReverb[ch] >= 0 && s.anChorus[ch] >= 0;
    s.nReverbQuads |= static_cast<uint32_t>(s.anReverb[ch] != 0) << (ch / 4);
    s.nChorusQuads |= static_cast<uint32_t>(s.anChorus[ch] != 0) << (ch / 4);
  }
}

namespace {

// Renders nFrames frames into pOut: reads the block's settings, state and
// units once, runs the run loop or the sample loop, and writes the moved
// state back to its globals.
template <RenderMode M> void RenderFrames(uint8_t *pOut, int32_t nFrames, OutMeters &meters) {
  constexpr bool bTest = M == RenderMode::Test;
  BlockState b;
  b.bReverb = !bTest && bUseEff1;
  b.bChorus = !bTest && bUseEff3;
  b.bLfo = M != RenderMode::Play || bUseEff3;
  b.b3D = !bTest && Effective3DDepth(n3DLength) != 0 && pfn3DEngine;
  b.pfnEngine = pfn3DEngine;

  // The units bound for this block (the panel binds and toggles between blocks).
  b.nMakes = 0;
  bool bAllBlocks = true; // every unit has the block form of Make
  for (const UnitSlot &s : aUnitSlots) {
    if (s.bActive && s.pfnMake) {
      b.apfnMakeBlock[b.nMakes] = s.pfnMakeBlock;
      bAllBlocks = bAllBlocks && s.pfnMakeBlock;
      b.apfnMake[b.nMakes++] = s.pfnMake;
    }
  }
  LoadChannelSends(b.sends);
  if constexpr (M != RenderMode::Record) {
    for (int32_t ch = 0; ch < 16; ++ch) {
      b.anPeakL[ch] = aChannels[ch].nPeakL;
      b.anPeakR[ch] = aChannels[ch].nPeakR;
    }
  }

  OutputStage &o = b.out;
  o.nGain = nMasterGain;
  o.nVolume = nOutVolume;
  o.nRate = nPCMRate;
  o.nFilterRatio = o.nRate > 0 && kFilterRate % o.nRate == 0 ? kFilterRate / o.nRate : 0;
  o.bFilter = !bTest && bLPF && o.nRate <= kFilterRate && o.nRate > 0;
  o.bMono = M == RenderMode::Play && bMonoMix;
  o.nFiltL = nLpfL;
  o.nFiltR = nLpfR;
  b.rev = {pReverbLine, nReverbDelay, nReverbReadPos, nReverbWritePos,
           nReverbInL,  nReverbInR,   nReverbQuiet};
  b.cho = {pChorusLine,  nChorusReadPos, nChorusWritePos,          nChorusInL,  nChorusInR,
           nChorusPhase, nChorusCount,   o.nRate / kChorusStepDiv, nChorusQuiet};

  // The sound test has no sequencer: it keeps the sample loop, as do units
  // without the block form and a 3D engine without a run form.
  if constexpr (!bTest) {
    if (bAllBlocks && (!b.b3D || Select3DRun(b.pfnEngine)) && bBlockRender) {
      RenderRuns<M>(b, pOut, nFrames, meters);
    } else {
      RenderSamples<M>(b, pOut, nFrames, meters);
    }
  } else {
    RenderSamples<M>(b, pOut, nFrames, meters);
  }

  if constexpr (M != RenderMode::Record) {
    for (int32_t ch = 0; ch < 16; ++ch) {
      aChannels[ch].nPeakL = b.anPeakL[ch];
      aChannels[ch].nPeakR = b.anPeakR[ch];
    }
  }
  nReverbReadPos = b.rev.nRead;
  nReverbWritePos = b.rev.nWrite;
  nReverbInL = b.rev.nInL;
  nReverbInR = b.rev.nInR;
  nReverbQuiet = b.rev.nQuiet;
  nChorusReadPos = b.cho.nRead;
  nChorusWritePos = b.cho.nWrite;
  nChorusInL = b.cho.nInL;
  nChorusInR = b.cho.nInR;
  nChorusPhase = b.cho.nPhase;
  nChorusCount = b.cho.nCount;
  nChorusQuiet = b.cho.nQuiet;
  nLpfL = o.nFiltL;
  nLpfR = o.nFiltR;
}

// Frames of a request, bounded by the buffer (the length is a multiple of 4).
int32_t FramesFor(int32_t nIndex, int32_t nBytes) {
  if (nIndex < 0 || nIndex >= kOutBufCount || !apOutBuf[nIndex] || nBytes <= 0) {
    return 0;
  }
  return (nBytes > kOutBufBytes ? kOutBufBytes : nBytes) / 4;
}

// End of song: all-notes-off after every block once no track is active, and
// the countdown of silent blocks that ends playback. Returns the level sum.
int32_t EndOfBlock() {
  const int32_t nActive = ActiveTrackCount();
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

int32_t RenderBlock(int32_t nIndex, int32_t nBytes) {
  const int32_t nFrames = FramesFor(nIndex, nBytes);
  if (nFrames == 0 && (nIndex < 0 || nIndex >= kOutBufCount)) {
    return 0;
  }
  anBufState[nIndex] = 1;
  const int64_t nStart = ReadLoadClock();
  ClearBlockMeters();
  OutMeters meters{0, 0, 0};

  RenderFrames<RenderMode::Play>(apOutBuf[nIndex], nFrames, meters);

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

  RenderFrames<RenderMode::Test>(apOutBuf[nIndex], nFrames, meters);

  FillChannelMeters(aMeterFrames[nIndex], meters, kTestLevelSum);
  abMeterReady[nIndex] = 1;
  UpdateLoadFigure(ElapsedMs(nStart), 0);
  return nFrames * 4;
}

void RenderRecordBlock(int32_t nBytes) {
  const int32_t nFrames = FramesFor(0, nBytes);
  OutMeters meters{0, 0, 0};
  if (nFrames > 0) {
    RenderFrames<RenderMode::Record>(apOutBuf[0], nFrames, meters);
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
