// The song image: the whole MIDI file in memory, unparsed, plus its header
// values and the track table the information dialog shows.
#pragma once

#include <cstdint>

constexpr int32_t kMaxTracks = 256; // size of the track table and sequencer arrays
constexpr int32_t kSongSlack = 64;  // zeroed bytes behind the file in the image

// Header field offsets from the MThd signature (the loader and PrepareSong).
enum : int32_t {
  kHdrFormatLow = 9, // low byte of the format field
  kHdrTracks = 10,
  kHdrDivision = 12,
  kHdrFirstChunk = 14, // the header length field is not read: 6 is assumed
};
// A chunk: 4-byte tag, 32-bit big-endian length, then the data.
enum : int32_t {
  kChunkLength = 4,
  kChunkData = 8,
};

struct TrackInfo {
  int32_t nLength;  // data length declared in the track chunk header
  char szName[256]; // last Sequence/Track Name text, raw bytes, NUL-terminated
};

extern uint8_t *hSongMem;       // song image block (file size + 64), null when no song
extern uint8_t *pSong;          // hSongMem while locked by playback or recording, else null
extern int32_t nSongBytes;      // file size; reads stop at nSongBytes + kSongSlack
extern int32_t nSongHeader;     // offset of the accepted MThd (PrepareSong starts there)
extern int32_t nSmfFormat;      // 0 or 1 after a successful load
extern int32_t nTracks;         // header track count, at most 256 (tracks past 256 are ignored)
extern int32_t nTracksInHeader; // the header's track count as declared, 0..65535
extern int32_t nDivision;       // ticks per quarter note
extern TrackInfo aTrackInfo[kMaxTracks];

// Loads a file into the song image. Returns 1 when a song is ready to play.
int32_t LoadSmf(const char *pszPath);
// Same, from bytes already in memory (the file is opened in one place only).
int32_t LoadSmfBytes(const uint8_t *pData, int32_t nSize);
// Fills the header values and aTrackInfo from the header at offset nHeader.
void ScanTrackNames(int32_t nHeader);
// Discards the song image.
void FreeSong();
// Offset one past the last readable byte of the image (file size + slack), 0 without a song.
int32_t SongImageEnd();
// Playback and recording lock the image for the time they run.
uint8_t *LockSong();
void UnlockSong();
