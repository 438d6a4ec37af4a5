// torqa-cli info SONG: what the loader makes of a MIDI file, and a silent run of
// its events through the sequencer at 44100 Hz (no unit bound) for its length
// and event counts.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "player/song/sequencer.h"
#include "player/song/sjis_text.h"
#include "player/song/song.h"
#include "player/state/engine_state.h"
#include "tools/cli/commands.h"
#include "tools/cli/song_file.h"

namespace {

constexpr int32_t kWalkRate = 44100;
// Counted from the tempo map, a length costs a step per event, not per tick:
// no song file comes near this.
constexpr int64_t kWalkLimitSamples = INT64_MAX;

enum EventKind {
  kNoteOn,
  kNoteOnZero,
  kNoteOff,
  kPolyPressure,
  kControl,
  kProgram,
  kChannelPressure,
  kPitchBend,
  kSysEx,
  kSysExPacket,
  kSystemCommon,
  kTempo,
  kTimeSignature,
  kText,
  kTrackName,
  kOtherMeta,
  kEndOfTrack,
  kKindCount,
};

const char *const kKindNames[kKindCount] = {
    "note on",          "note on, velocity 0",
    "note off",         "polyphonic pressure",
    "control change",   "program change",
    "channel pressure", "pitch bend",
    "system exclusive", "sysex packet (F7)",
    "system common",    "tempo",
    "time signature",   "text",
    "track name",       "other meta",
    "end of track",
};

int64_t anEventCount[kKindCount];

void CountEvent(int32_t, int32_t nStatus, int32_t nData1, int32_t nData2) {
  int nKind = kSystemCommon;
  switch (nStatus & 0xF0) {
  case 0x80:
    nKind = kNoteOff;
    break;
  case 0x90:
    nKind = nData2 ? kNoteOn : kNoteOnZero;
    break;
  case 0xA0:
    nKind = kPolyPressure;
    break;
  case 0xB0:
    nKind = kControl;
    break;
  case 0xC0:
    nKind = kProgram;
    break;
  case 0xD0:
    nKind = kChannelPressure;
    break;
  case 0xE0:
    nKind = kPitchBend;
    break;
  default:
    if (nStatus == 0xF0)
      nKind = kSysEx;
    else if (nStatus == 0xF7)
      nKind = kSysExPacket;
    else if (nStatus == 0xFF)
      nKind = nData1 == 0x51   ? kTempo
              : nData1 == 0x58 ? kTimeSignature
              : nData1 == 0x01 ? kText
              : nData1 == 0x03 ? kTrackName
              : nData1 == 0x2F ? kEndOfTrack
                               : kOtherMeta;
    break;
  }
  ++anEventCount[nKind];
}

} // namespace

int CmdInfo(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: torqa-cli info SONG\n");
    return 2;
  }
  const char *pszPath = argv[1];
  std::vector<uint8_t> aBytes;
  std::string sWhy;
  if (!ReadSongFile(pszPath, &aBytes, &sWhy)) {
    std::fprintf(stderr, "torqa-cli: %s: %s\n", pszPath, sWhy.c_str());
    return 1;
  }
  if (!LoadSongBytes(pszPath, aBytes))
    return 1;
  std::vector<uint8_t>().swap(aBytes);

  std::printf("file: %s\n", pszPath);
  std::printf("format: %d\n", nSmfFormat);
  if (nTracksInHeader > nTracks)
    std::printf("tracks: %d (the header declares %d; the rest are ignored)\n", nTracks,
                nTracksInHeader);
  else
    std::printf("tracks: %d\n", nTracks);
  std::printf("division: %d ticks per quarter note\n", nDivision);
  for (int32_t t = 0; t < nTracks; ++t)
    std::printf("track %03d: %s\n", t, TrackNameToUtf8(aTrackInfo[t].szName).c_str());

  pfnSequencerObserver = CountEvent;
  BeginSongWalk(kWalkRate);
  const int64_t nSamples = SongLengthSamples(kWalkLimitSamples);
  const int32_t bEnded = ActiveTrackCount() == 0;
  EndSongWalk();
  pfnSequencerObserver = nullptr;

  const double dSeconds = static_cast<double>(nSamples) / kWalkRate;
  std::printf("length: %d measures %d beats %d ticks (%d ticks), %.3f s (%lld samples at %d "
              "Hz)%s\n",
              nMeasure, nBeatInMeasure, nTickInBeat, nSongTick, dSeconds,
              static_cast<long long>(nSamples), kWalkRate,
              bEnded ? "" : " - stopped: the song had not ended");
  std::printf("events:\n");
  for (int k = 0; k < kKindCount; ++k)
    std::printf("  %-20s %lld\n", kKindNames[k], static_cast<long long>(anEventCount[k]));
  FreeSong();
  return 0;
}
