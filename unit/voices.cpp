// Starting, releasing, retuning and stopping voices.
#include "unit/voices.h"
#include "unit/channels.h"
#include "unit/soundset.h"
#include "unit/unit_state.h"

namespace vokra {

Voice aVoice[kVoiceCount];

namespace {

constexpr int32_t kEnvClockBase = 512;   // envelope ticks per second added to the pitch part
constexpr int32_t kEnvClockRate = 22050; // nStep x nRate / 22050: pitch part of the clock
constexpr int32_t kStoppedEnvClock = 0x4000;
constexpr int32_t kDrumRootNote = 60; // drum samples play at note 60 + key shift
constexpr int32_t kNoteFloor = -1024; // shifted notes beyond these sound as 0 or 143
constexpr int32_t kNoteCeiling = 1024;

// Exclusive groups on rhythm channels: a note of a group releases the group.
constexpr int32_t kGroupEnd = -1;
constexpr int32_t anExclusiveGroups[][4] = {
    {42, 44, 46, kGroupEnd}, {71, 72, kGroupEnd}, {73, 74, kGroupEnd},
    {78, 79, kGroupEnd},     {80, 81, kGroupEnd},
};

int32_t EnvClock(int32_t nStep) {
  return static_cast<int32_t>(static_cast<int64_t>(nStep) * nRate / kEnvClockRate) + kEnvClockBase;
}

// Note number plus key shift, transposition and coarse tune, summed wide
// (the key shift is an unchecked configuration value) and bounded to a range
// in which NoteToStep clamps the same way.
int32_t ShiftedNote(int64_t n) {
  if (n < kNoteFloor)
    return kNoteFloor;
  if (n > kNoteCeiling)
    return kNoteCeiling;
  return static_cast<int32_t>(n);
}

bool IsFree(const Voice &rVoice) {
  return rVoice.nStage > ReleaseStage(rVoice.nType);
}

// Moves a voice into its release stage; true when the stage changed.
bool Release(Voice &rVoice) {
  const int32_t nStage = ReleaseStage(rVoice.nType);
  if (rVoice.nStage >= nStage)
    return false;
  rVoice.nStage = nStage;
  return true;
}

const int32_t *FindGroup(int32_t nNote) {
  for (const auto &anGroup : anExclusiveGroups)
    for (const int32_t *p = anGroup; *p != kGroupEnd; ++p)
      if (*p == nNote)
        return anGroup;
  return nullptr;
}

bool InGroup(const int32_t *pGroup, int32_t nNote) {
  for (const int32_t *p = pGroup; *p != kGroupEnd; ++p)
    if (*p == nNote)
      return true;
  return false;
}

} // namespace

void CountVoices() {
  int32_t nTop = kVoiceCount;
  while (nTop > 0 && !aVoice[nTop - 1].bActive)
    --nTop;
  nVoiceTop = nTop;
}

void StopAllVoices() {
  for (Voice &rVoice : aVoice) {
    rVoice.nInstrument = 0;
    rVoice.nStep = 0;
    rVoice.nNote = 0;
    rVoice.nKeyNote = 0;
    rVoice.nEnvTimer = 0;
    rVoice.nEnvClock = kStoppedEnvClock;
    rVoice.nStage = kStageEnded;
    rVoice.bHeldOff = 0;
    rVoice.bActive = 0;
  }
  nVoiceTop = 0;
}

void NoteOn(int32_t nChannel, int32_t nNote, int32_t nVelocity) {
  UnitChannel &rChannel = aUnitChannel[nChannel];

  // Retrigger: the sounding voice of this key releases but keeps its note.
  for (int32_t v = 0; v < nVoiceTop; ++v)
    if (aVoice[v].nChannel == nChannel && aVoice[v].nNote == nNote)
      Release(aVoice[v]);

  if (rChannel.bRhythm) {
    if (const int32_t *pGroup = FindGroup(nNote)) {
      for (int32_t v = 0; v < nVoiceTop; ++v)
        if (aVoice[v].nChannel == nChannel && InGroup(pGroup, aVoice[v].nNote))
          Release(aVoice[v]);
    }
  }

  int32_t nFree = 0;
  while (nFree < kVoiceCount && !IsFree(aVoice[nFree]))
    ++nFree;
  if (nFree < kVoiceCount) {
    Voice &rVoice = aVoice[nFree];
    int32_t nInst;
    int32_t nStep;
    if (rChannel.bRhythm) {
      nInst = anDrumMap[nNote][rChannel.nProgram];
      nStep = NoteToStep(ShiftedNote(int64_t{aInstrument[nInst].nKeyShift} + kDrumRootNote));
    } else {
      nInst = anProgramMap[rChannel.nProgram][rChannel.nBank];
      const Instrument &rInst = aInstrument[nInst];
      nStep = BendStep(rChannel.nPitchBend, rChannel.nBendRange,
                       ShiftedNote(int64_t{nNote} + rInst.nKeyShift + rInst.nTranspose +
                                   rChannel.nCoarseTune - 64),
                       rChannel.nFineTune - 8192);
    }
    const Instrument &rInst = aInstrument[nInst];
    rVoice.nStep = nStep;
    rVoice.nEnvClock = EnvClock(nStep);
    rVoice.nNote = nNote;
    rVoice.nKeyNote = nNote;
    rVoice.nChannel = nChannel;
    rVoice.nInstrument = nInst;
    rVoice.nStage = 0;
    rVoice.nEnvTimer = 0;
    rVoice.nLevel = 0;
    rVoice.nFrac = 0;
    rVoice.nEnvCount = 0;
    rVoice.nEnvSub = 0;
    rVoice.bHeldOff = 0;
    rVoice.nPos = rInst.nStart;
    rVoice.nVelGain = anVelocityCurve[nVelocity];
    rVoice.nInstGain = rInst.nInstGain;
    rVoice.pnSum = &rChannel.nSum;
    rVoice.pnVoiceCount = &rChannel.nVoiceCount;
    rVoice.nType = rInst.nType;
    rVoice.bActive = 1;
    if (rVoice.nType == 3) {
      rVoice.nLevel = rInst.nStartLevel + 1;
      rVoice.pfnRender = bOverSample ? RenderFiveStageInterp : RenderFiveStage;
    } else {
      rVoice.pfnRender = bOverSample ? RenderSimpleInterp : RenderSimple;
    }
    rVoice.nAmp = rVoice.nLevel * rVoice.nVelGain;
  }
  CountVoices();
}

void NoteOff(int32_t nChannel, int32_t nNote) {
  const UnitChannel &rChannel = aUnitChannel[nChannel];
  if (rChannel.bRhythm)
    return;
  for (int32_t v = 0; v < nVoiceTop; ++v) {
    Voice &rVoice = aVoice[v];
    if (rVoice.nChannel != nChannel || rVoice.nNote != nNote)
      continue;
    if (rChannel.bHold) {
      rVoice.bHeldOff = 1;
    } else {
      // The release starts at the next envelope tick.
      if (Release(rVoice))
        rVoice.nEnvCount = 0;
      rVoice.nNote = kNoteReleased;
    }
    return;
  }
}

void ReleaseHeld(int32_t nChannel) {
  for (int32_t v = 0; v < nVoiceTop; ++v) {
    Voice &rVoice = aVoice[v];
    if (rVoice.nChannel == nChannel && rVoice.bHeldOff) {
      Release(rVoice);
      rVoice.nNote = kNoteReleased;
      rVoice.bHeldOff = 0;
    }
  }
}

void RetuneChannel(int32_t nChannel) {
  const UnitChannel &rChannel = aUnitChannel[nChannel];
  // The instrument the channel selects now gives key shift and transposition.
  const Instrument &rInst = aInstrument[anProgramMap[rChannel.nProgram][rChannel.nBank]];
  for (int32_t v = 0; v < nVoiceTop; ++v) {
    Voice &rVoice = aVoice[v];
    if (!rVoice.bActive || rVoice.nChannel != nChannel)
      continue;
    rVoice.nStep = BendStep(rChannel.nPitchBend, rChannel.nBendRange,
                            ShiftedNote(int64_t{rVoice.nKeyNote} + rInst.nKeyShift +
                                        rInst.nTranspose + rChannel.nCoarseTune - 64),
                            rChannel.nFineTune - 8192);
    rVoice.nEnvClock = EnvClock(rVoice.nStep);
  }
}

void ApplyPolyPressure(int32_t nChannel, int32_t nNote, int32_t nValue) {
  for (int32_t v = 0; v < nVoiceTop; ++v) {
    Voice &rVoice = aVoice[v];
    if (rVoice.nChannel == nChannel && rVoice.nNote == nNote) {
      rVoice.nVelGain = anVelocityCurve[nValue];
      rVoice.nAmp = rVoice.nLevel * rVoice.nVelGain;
      return;
    }
  }
}

} // namespace vokra
