// What the sample loop (sample_loop.cpp) and the run loop (run_loop.cpp)
// share: the renderer a block is for, the channel sends, the output stage of
// a frame and the block's copies of the effect lines' state. render_loop.cpp
// fills a BlockState from the globals, runs one of the loops over it and
// writes the state back.
#pragma once

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/audio_math.h"
#include "common/unit_interface.h"
#include "player/render/effects.h"
#include "player/render/meters.h"
#include "player/render/row_mix.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"

// The three renderers; the mode decides, at compile time, which steps run.
enum class RenderMode { Play, Test, Record };

constexpr int32_t kOutVolumeDiv = 128; // nOutVolume 127 is about 0 dB
constexpr int32_t kFilterRate = 44100; // the band filter is transparent at this rate
constexpr int32_t kMuteDiv = 12;       // a muted channel plays at 1/12

// Copies of the channel fields the mix reads per sample. Only a tick's events
// change them inside a block, so they are taken again after every tick.
struct ChannelSends {
  alignas(16) int32_t anReverb[16]; // nReverbSendSq
  alignas(16) int32_t anChorus[16]; // nChorusSend
  uint32_t nMuted;                  // bit ch set: bMute
  bool bPlain;                      // no channel muted, no send negative
  uint32_t nReverbQuads;            // bit q set: a send of channels 4q..4q+3 is not 0
  uint32_t nChorusQuads;
};
void LoadChannelSends(ChannelSends &s);

// A channel's sends of one frame into the reverb and chorus inputs, wrapping;
// a send of 0 adds nothing.
inline void AddSends(int32_t nL, int32_t nR, int32_t nRev, int32_t nCho, int32_t &rRevL,
                     int32_t &rRevR, int32_t &rChoL, int32_t &rChoR) {
  if (nRev != 0) {
    rRevL = WrapAdd(rRevL, MulDiv(nL, nRev, kReverbSendDiv));
    rRevR = WrapAdd(rRevR, MulDiv(nR, nRev, kReverbSendDiv));
  }
  if (nCho != 0) {
    rChoL = WrapAdd(rChoL, MulDiv(nL, nCho, kChorusSendDiv));
    rChoR = WrapAdd(rChoR, MulDiv(nR, nCho, kChorusSendDiv));
  }
}

// Zeros nCount accumulators, a multiple of 4.
inline void ZeroAcc(int32_t *p, int32_t nCount) {
#if defined(__SSE2__)
  // Plain stores: the compiler would make a memset call of a loop it knows
  // stores zeros, and rows of a few kilobytes then take a slow string
  // instruction. The empty asm hides the zero from it.
  __m128i vZero = _mm_setzero_si128();
  asm("" : "+x"(vZero));
  for (int32_t k = 0; k < nCount; k += 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p + k), vZero);
  }
#else
  std::memset(p, 0, sizeof(int32_t) * static_cast<size_t>(nCount));
#endif
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

// Gains, band filter, mono switch and saturation: the settings of a block
// and the filter's state.
struct OutputStage {
  int32_t nGain;        // nMasterGain
  int32_t nVolume;      // nOutVolume (playback and sound test)
  int32_t nRate;        // nPCMRate
  int32_t nFilterRatio; // 44100 / rate when the rate divides 44100, else 0
  bool bFilter;         // band filter on and the rate at most 44100
  bool bMono;           // playback's debug mono switch
  int32_t nFiltL;       // nLpfL, nLpfR
  int32_t nFiltR;
};

// The output stage of one mixed frame (the effects' outputs added), stored
// at pFrame; the sound test stores the low 16 bits. With the filter's rate
// ratio, x * rate / 44100 is x / ratio and y * 44100 / rate is y * ratio,
// both exact.
template <RenderMode M>
[[gnu::always_inline]] inline void FinishFrame(OutputStage &o, OutMeters &meters, uint8_t *pFrame,
                                               int32_t nOutL, int32_t nOutR) {
  nOutL = MulDiv(nOutL, o.nGain, kMasterGainDiv);
  nOutR = MulDiv(nOutR, o.nGain, kMasterGainDiv);
  if constexpr (M != RenderMode::Record) {
    nOutL = MulDiv(nOutL, o.nVolume, kOutVolumeDiv);
    nOutR = MulDiv(nOutR, o.nVolume, kOutVolumeDiv);
  }
  if (o.bFilter) {
    // One-pole low-pass with coefficient rate/44100, its state scaled back up;
    // at 44100 it passes the input through.
    if (o.nFilterRatio == 1) {
      o.nFiltL = nOutL;
      o.nFiltR = nOutR;
    } else if (o.nFilterRatio == 2) {
      o.nFiltL = WrapAdd(o.nFiltL, Wrap32((static_cast<int64_t>(nOutL) - o.nFiltL) / 2));
      o.nFiltR = WrapAdd(o.nFiltR, Wrap32((static_cast<int64_t>(nOutR) - o.nFiltR) / 2));
      nOutL = Wrap32(static_cast<int64_t>(o.nFiltL) * 2);
      nOutR = Wrap32(static_cast<int64_t>(o.nFiltR) * 2);
    } else {
      o.nFiltL = WrapAdd(o.nFiltL,
                         Wrap32((static_cast<int64_t>(nOutL) - o.nFiltL) * o.nRate / kFilterRate));
      o.nFiltR = WrapAdd(o.nFiltR,
                         Wrap32((static_cast<int64_t>(nOutR) - o.nFiltR) * o.nRate / kFilterRate));
      nOutL = MulDiv(o.nFiltL, kFilterRate, o.nRate);
      nOutR = MulDiv(o.nFiltR, kFilterRate, o.nRate);
    }
  }
  if (o.bMono) {
    nOutL = static_cast<int32_t>((static_cast<int64_t>(nOutL) + nOutR) / 2);
    nOutR = nOutL;
  }
  if constexpr (M == RenderMode::Play) {
    nOutL = Saturate16(nOutL, meters.bClipped);
    nOutR = Saturate16(nOutR, meters.bClipped);
  } else if constexpr (M == RenderMode::Record) {
    int32_t bIgnored = 0; // recording keeps no clip flag
    nOutL = Saturate16(nOutL, bIgnored);
    nOutR = Saturate16(nOutR, bIgnored);
  }
  if constexpr (M != RenderMode::Record) {
    // The sound test meters see the unsaturated values.
    const int32_t nAL = Abs32(nOutL);
    const int32_t nAR = Abs32(nOutR);
    if (nAL > meters.nOutPeakL) {
      meters.nOutPeakL = nAL;
    }
    if (nAR > meters.nOutPeakR) {
      meters.nOutPeakR = nAR;
    }
  }
  WriteLineFrame(pFrame, 0, nOutL, nOutR); // an output frame has the lines' layout
}

// The reverb line's state during a block.
struct ReverbState {
  uint8_t *pLine;
  int32_t nDelay; // nReverbDelay
  int32_t nRead;  // nReverbReadPos
  int32_t nWrite; // nReverbWritePos
  int32_t nInL;   // nReverbInL, nReverbInR
  int32_t nInR;
  int32_t nQuiet; // nReverbQuiet
};

// The chorus line's and its sweep clock's state during a block.
struct ChorusState {
  uint8_t *pLine;
  int32_t nRead;  // nChorusReadPos
  int32_t nWrite; // nChorusWritePos
  int32_t nInL;   // nChorusInL, nChorusInR
  int32_t nInR;
  int32_t nPhase;  // nChorusPhase
  int32_t nCount;  // nChorusCount
  int32_t nReload; // nPCMRate / 400
  int32_t nQuiet;  // nChorusQuiet
};

// Everything a block reads once (the user interface changes it only between
// blocks) and the copies of the state it moves.
struct BlockState {
  bool bReverb; // bUseEff1, not in the sound test
  bool bChorus; // bUseEff3, not in the sound test
  bool bLfo;    // the chorus sweep clock runs
  bool b3D;     // the 3D stage runs
  Pfn3DEngine pfnEngine;
  PfnMake apfnMake[kUnitSlots]; // the active units in slot order
  PfnMakeBlock apfnMakeBlock[kUnitSlots];
  int32_t nMakes;
  ChannelSends sends;
  int32_t anPeakL[16]; // the channels' peaks (not kept while recording)
  int32_t anPeakR[16];
  OutputStage out;
  ReverbState rev;
  ChorusState cho;
};

// Renders nFrames frames into pOut one output sample at a time: every unit's
// Make, the 3D stage and the channel mix per sample. Every renderer can.
template <RenderMode M>
void RenderSamples(BlockState &b, uint8_t *pOut, int32_t nFrames, OutMeters &meters);
// Renders nFrames frames into pOut run by run, a run being the samples
// between two events: the units' block form, the 3D stage, a mix per channel
// row, reverb and chorus over the run. Playback and recording, when every
// unit has the block form and the 3D engine, if on, has a run form.
template <RenderMode M>
void RenderRuns(BlockState &b, uint8_t *pOut, int32_t nFrames, OutMeters &meters);
