// The WAV recorder ("HDDR"): renders the loaded song from its start to its end
// into a 16-bit stereo PCM WAV file, faster than real time. This is the core
// the window's HDDR command (save dialog, "HDR2" progress window) and the
// terminal tool's render command both run.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int32_t kWavHeaderBytes = 44;
constexpr int32_t kRecordBlockBytes = 8192; // 2048 frames; the file grows in whole blocks
constexpr int32_t kMinRecordRate = 5200;
constexpr int32_t kMaxRecordRate = 96000;

extern int32_t bRecording; // 1 while a recording runs; abort = set to 0 (window, progress callback)

// What the recording has reached after a block; the progress window's fields.
struct RecordProgress {
  int64_t nBytes;   // data bytes written so far
  int32_t nRate;    // recording rate, Hz
  int32_t nMeasure; // nMeasure + 1
  int32_t nBeat;    // nBeatInMeasure + 1
  int32_t nTick;    // nTickInBeat
};
// Called after every block; it may clear bRecording to abort after that block.
typedef void (*PfnRecordProgress)(void *pUser, const RecordProgress &progress);

enum RecordStatus : int32_t {
  kRecordDone = 0,        // the song ended and its tail was recorded
  kRecordAborted = 1,     // bRecording was cleared; the file holds what was recorded
  kRecordNoSong = 2,      // nothing was written
  kRecordNoMemory = 3,    // the output buffers could not be allocated; nothing was written
  kRecordNotCreated = 4,  // the file could not be created (nErrno); nothing was written
  kRecordWriteFailed = 5, // a write failed (nErrno); the file holds the blocks before it
  kRecordTooLong = 6,     // the data reached the largest size a WAV header can state
  kRecordBusy = 7, // output or the sound test is open, or a recording runs; nothing was written
};

struct RecordResult {
  RecordStatus nStatus;
  int64_t nDataBytes; // data bytes in the finished file (a multiple of 8192)
  int32_t nErrno;     // the system's reason for kRecordNotCreated / kRecordWriteFailed
};

// Fills the 44-byte header for a recording at nPCMRate; both size fields 0.
void BuildWavHeader(uint8_t *pHeader);
// Stores the final RIFF size (nDataBytes + 36) and data size.
void SetWavHeaderSizes(uint8_t *pHeader, uint32_t nDataBytes);

// Records the loaded song to pszPath at nRate: nPCMRate holds nRate for the
// duration and its old value afterwards; every loaded unit is set to nRate,
// reset and, at the end, told FreeLockCFG. The song always starts at its first
// measure at normal speed. A failed write stops the recording, leaves a valid
// file of the blocks written before it and shows a message naming the file and
// the reason (owned by hwndOwner). bRecording and bPlaying are 0 afterwards.
// A regular file's header states the size written so far every 64 blocks, so a
// killed recording leaves a valid file; a stream (pipe, /dev/null) is written
// straight through, its header stating the largest size as sox writes it.
// Refused (kRecordBusy, nothing changed) while output or the sound test is
// open or a recording runs.
RecordResult RecordWavFile(const char *pszPath, int32_t nRate, PfnRecordProgress pfnProgress,
                           void *pUser, void *hwndOwner);

// The progress window's texts: time recorded "%8.2f[Sec]", measure "%d" and
// beat.tick "%d.%04d".
void FormatRecordTime(char *pszOut, size_t nSize, int64_t nBytes, int32_t nRate);
void FormatRecordMeasure(char *pszOut, size_t nSize, const RecordProgress &progress);
void FormatRecordBeat(char *pszOut, size_t nSize, const RecordProgress &progress);
