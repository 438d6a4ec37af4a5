// MIDI file loader and sequencer: load the bytes, then walk the song tick by
// tick as playback does, with two fake units whose MidiIn checks every
// message the sequencer hands them. The song image must come through the walk
// unchanged, and every cursor must stay inside it.
#include <cstring>
#include <vector>

#include "common/unit_interface.h"
#include "fuzz_check.h"
#include "platform/message_box.h"
#include "player/render/effects.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"

namespace {

// A bounded walk: enough ticks to reach deep into a song, few enough samples
// that one input takes about a millisecond.
constexpr int32_t kMaxTicks = 2048;
constexpr int32_t kMaxSamples = 1 << 15;
constexpr int32_t kWalkRate = 5200;     // the lowest rate: the fewest samples per tick
constexpr int32_t kWalkTickStep = 1024; // four times normal speed, the fastest setting

class SilentSink : public MessageSink {
public:
  void Show(void *, const char *, const char *, MsgIcon) override {}
};

int64_t gnMessages = 0;

// Each message must be complete and consistent: its length field matches its
// status, data bytes are 7-bit, a system-exclusive message fits the
// 1024-byte assembly buffer with its closing 0x00.
FUZZ_NO_COVERAGE void CheckingMidiIn(const uint8_t *pMsg, int32_t nSource) {
  FUZZ_CHECK(pMsg != nullptr);
  FUZZ_CHECK(nSource == kSourcePlayer || (nSource >= 0 && nSource < nTracks));
  const int32_t nLength = pMsg[kMsgLenLo] | pMsg[kMsgLenHi] << 8;
  const int32_t nStatus = pMsg[kMsgStatus];
  int32_t nBytes = 0;
  if (nStatus == 0xF0) {
    nBytes = nLength + 4;
    FUZZ_CHECK(nBytes <= kEventMessageBytes);
    FUZZ_CHECK(pMsg[3 + nLength] == 0x00);
  } else {
    FUZZ_CHECK(nStatus >= 0x80 && nStatus < 0xF0);
    const int32_t nKind = nStatus & 0xF0;
    FUZZ_CHECK(nLength == (nKind == 0xC0 || nKind == 0xD0 ? 2 : 3));
    for (int32_t i = 1; i < nLength; ++i)
      FUZZ_CHECK(pMsg[kMsgStatus + i] < 0x80);
    nBytes = nLength + 2;
  }
  // Touch every byte the length announces, so a short buffer shows up.
  uint32_t nSum = 0;
  for (int32_t i = 0; i < nBytes; ++i)
    nSum += pMsg[i];
  volatile uint32_t nSink = nSum;
  (void)nSink;
  ++gnMessages;
}

int gModule; // stands for a loaded library

void InstallCheckingUnits() {
  std::memset(aUnitSlots, 0, sizeof aUnitSlots);
  aUnitSlots[0].hModule = &gModule; // active: gets every message
  aUnitSlots[0].bActive = 1;
  aUnitSlots[0].pfnMidiIn = CheckingMidiIn;
  aUnitSlots[3].hModule = &gModule; // loaded but switched off: no note-ons
  aUnitSlots[3].bActive = 0;
  aUnitSlots[3].pfnMidiIn = CheckingMidiIn;
}

FUZZ_NO_COVERAGE void CheckCursors() {
  const int32_t nEnd = SongImageEnd();
  for (int32_t t = 0; t < kMaxTracks; ++t) {
    if (t < nTracks)
      FUZZ_CHECK(anTrackPos[t] >= 0 && anTrackPos[t] <= nEnd);
    FUZZ_CHECK(abTrackActive[t] == 0 || abTrackActive[t] == 1);
    FUZZ_CHECK(t < nTracks || abTrackActive[t] == 0);
  }
  FUZZ_CHECK(nMeasure >= 0 && nBeatInMeasure >= 0 && nTickInBeat >= 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
  static SilentSink sink;
  SetMessageSink(&sink);
  if (nSize > (1u << 20))
    return 0; // the walk is bounded, the copy below is not worth it for huge inputs
  InstallCheckingUnits();
  bUseEff3 = 0; // no chorus line is allocated here
  nTickStep = kWalkTickStep;
  bSuppressNoteOn = 0;
  for (ChannelState &channel : aChannels)
    channel.bMute = 0;
  aChannels[5].bMute = 1; // one muted channel: its note-ons stop here

  if (!LoadSmfBytes(pData, static_cast<int32_t>(nSize))) {
    FUZZ_CHECK(hSongMem == nullptr);
    return 0;
  }
  FUZZ_CHECK(nSmfFormat == 0 || nSmfFormat == 1);
  FUZZ_CHECK(nTracks >= 0 && nTracks <= kMaxTracks);
  FUZZ_CHECK(nDivision > 0 && nDivision < 0x8000);
  FUZZ_CHECK(nSongBytes == static_cast<int32_t>(nSize));
  for (int32_t t = 0; t < kMaxTracks; ++t)
    FUZZ_CHECK(std::memchr(aTrackInfo[t].szName, 0, sizeof aTrackInfo[t].szName) != nullptr);

  // The image as loaded: the file and 64 zero bytes.
  std::vector<uint8_t> abImage(pData, pData + nSize);
  abImage.resize(nSize + kSongSlack, 0);
  FUZZ_CHECK(std::memcmp(hSongMem, abImage.data(), abImage.size()) == 0);

  // What playback does before its first block.
  nPCMRate = kWalkRate;
  ResetSequencer();
  LockSong();
  PrepareSong();
  SetTempoBpm(nTempoBpm);
  ResetTimeSignature();
  SendResetSequence();
  CheckCursors();

  int32_t nTicks = 0;
  int32_t nActive = ActiveTrackCount();
  for (int32_t i = 0; i < kMaxSamples && nTicks < kMaxTicks && nActive > 0; ++i) {
    if (SequencerClock()) {
      ++nTicks;
      nActive = ActiveTrackCount();
    }
  }
  FUZZ_CHECK(nSamplesPerTick >= 0);
  CheckCursors();
  SendAllNotesOff();

  FUZZ_CHECK(std::memcmp(hSongMem, abImage.data(), abImage.size()) == 0);
  UnlockSong();
  FreeSong();
  return 0;
}
