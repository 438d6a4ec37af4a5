#include "capture_unit.h"

#include <cstdio>
#include <cstring>

#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"

std::vector<CapturedMessage> gCaptured;
int64_t gnWalkSample = 0;

// Each slot gets its own MidiIn so a message can be traced to its recipient.
template <int32_t kSlot> static void CaptureMidiIn(const uint8_t *pMsg, int32_t nSource) {
  int32_t nBytes = pMsg[0] | pMsg[1] << 8;
  if (pMsg[2] == 0xF0)
    nBytes += 4; // length, 0xF0, data, 0x00
  else
    nBytes += 2;
  CapturedMessage message;
  message.nSlot = kSlot;
  message.ab.assign(pMsg, pMsg + nBytes);
  message.nSource = nSource;
  message.nSongTick = nSongTick;
  message.nSample = gnWalkSample;
  gCaptured.push_back(std::move(message));
}

static const PfnMidiIn kCaptureMidiIn[kUnitSlots] = {
    CaptureMidiIn<0>, CaptureMidiIn<1>, CaptureMidiIn<2>, CaptureMidiIn<3>,
    CaptureMidiIn<4>, CaptureMidiIn<5>, CaptureMidiIn<6>, CaptureMidiIn<7>};

static int gDummyModule; // stands for a loaded library

void ResetSongTestState() {
  std::memset(aUnitSlots, 0, sizeof aUnitSlots);
  gCaptured.clear();
  gnWalkSample = 0;
  for (ChannelState &channel : aChannels)
    channel.bMute = 0;
  bSuppressNoteOn = 0;
  bTextChanged = 0;
  nTickStep = 256;
  bUseEff3 = 0; // no chorus line is allocated in these tests
  pfnSequencerObserver = nullptr;
}

void InstallCaptureUnit(int32_t nSlot, int32_t bActive) {
  aUnitSlots[nSlot].hModule = &gDummyModule;
  aUnitSlots[nSlot].bActive = bActive;
  aUnitSlots[nSlot].pfnMidiIn = kCaptureMidiIn[nSlot];
}

int32_t StartSong(const smfw::Bytes &abFile, int32_t nRate) {
  if (!LoadSmfBytes(abFile.data(), static_cast<int32_t>(abFile.size())))
    return 0;
  StartLoadedSong(nRate);
  return 1;
}

void StartLoadedSong(int32_t nRate) {
  nPCMRate = nRate;
  ResetSequencer();
  LockSong();
  PrepareSong();
  SetTempoBpm(nTempoBpm);
  ResetTimeSignature();
  gnWalkSample = 0;
}

int64_t WalkSong(int64_t nMaxSamples) {
  int64_t nDone = 0;
  while (nDone < nMaxSamples && ActiveTrackCount() > 0) {
    SequencerClock();
    ++gnWalkSample;
    ++nDone;
  }
  return nDone;
}

std::vector<CapturedMessage> SongMessages(int32_t nSlot) {
  std::vector<CapturedMessage> out;
  for (const CapturedMessage &message : gCaptured)
    if (message.nSlot == nSlot && message.nSource >= 0)
      out.push_back(message);
  return out;
}

std::string Hex(const std::vector<uint8_t> &ab) {
  std::string s;
  char sz[4];
  for (size_t i = 0; i < ab.size(); ++i) {
    std::snprintf(sz, sizeof sz, i ? " %02X" : "%02X", ab[i]);
    s += sz;
  }
  return s;
}
