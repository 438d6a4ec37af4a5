#include "player/render/wav_recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/event_loop.h"
#include "platform/message_box.h"
#include "player/render/effects.h"
#include "player/render/render_loop.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_hooks.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"

int32_t bRecording = 0;

constexpr int32_t kNormalTickStep = 256; // nTickStep of normal speed
constexpr int32_t kRiffSizeExtra = 36;   // RIFF chunk size = data bytes + 36
// The largest whole number of blocks whose RIFF size still fits 32 bits.
constexpr int64_t kMaxWavDataBytes =
    (int64_t{0xFFFFFFFF} - kRiffSizeExtra) / kRecordBlockBytes * kRecordBlockBytes;
// A stream (pipe, terminal, device) cannot be sought back to: its header states
// the largest size, as sox writes it, and readers take the data to its end.
constexpr uint32_t kStreamedDataBytes = 0x7FFFF000;
// A file's header is brought up to date this often (about 3 s at 44100 Hz), so
// that a killed recording leaves a valid file of nearly all it wrote.
constexpr int64_t kHeaderUpdateBytes = int64_t{kRecordBlockBytes} * 64;

static const char kMinorFaultCaption[] = "軽度機能障害";

static void PutLe16(uint8_t *p, uint32_t n) {
  p[0] = static_cast<uint8_t>(n);
  p[1] = static_cast<uint8_t>(n >> 8);
}

static void PutLe32(uint8_t *p, uint32_t n) {
  PutLe16(p, n & 0xFFFF);
  PutLe16(p + 2, n >> 16);
}

void BuildWavHeader(uint8_t *pHeader) {
  std::memcpy(pHeader + 0, "RIFF", 4);
  PutLe32(pHeader + 4, 0); // RIFF size, final value at the end
  std::memcpy(pHeader + 8, "WAVE", 4);
  std::memcpy(pHeader + 12, "fmt ", 4);
  PutLe32(pHeader + 16, 16); // format chunk size
  PutLe16(pHeader + 20, 1);  // PCM
  PutLe16(pHeader + 22, 2);  // channels
  PutLe32(pHeader + 24, static_cast<uint32_t>(nPCMRate));
  PutLe32(pHeader + 28, static_cast<uint32_t>(nPCMRate) * 4); // bytes per second
  PutLe16(pHeader + 32, 4);                                   // block alignment
  PutLe16(pHeader + 34, 16);                                  // bits per sample
  std::memcpy(pHeader + 36, "data", 4);
  PutLe32(pHeader + 40, 0); // data size, final value at the end
}

void SetWavHeaderSizes(uint8_t *pHeader, uint32_t nDataBytes) {
  PutLe32(pHeader + 4, nDataBytes + kRiffSizeExtra);
  PutLe32(pHeader + 40, nDataBytes);
}

void FormatRecordTime(char *pszOut, size_t nSize, int64_t nBytes, int32_t nRate) {
  std::snprintf(pszOut, nSize, "%8.2f[Sec]",
                nRate > 0 ? static_cast<double>(nBytes) / nRate * 0.25 : 0.0);
}

void FormatRecordMeasure(char *pszOut, size_t nSize, const RecordProgress &progress) {
  std::snprintf(pszOut, nSize, "%d", progress.nMeasure);
}

void FormatRecordBeat(char *pszOut, size_t nSize, const RecordProgress &progress) {
  std::snprintf(pszOut, nSize, "%d.%04d", progress.nBeat, progress.nTick);
}

// Writes all n bytes at the file position; 0 with errno set when it cannot.
static int32_t WriteAll(int nFd, const uint8_t *p, size_t n) {
  while (n > 0) {
    ssize_t nDone = write(nFd, p, n);
    if (nDone < 0 && errno == EINTR)
      continue;
    if (nDone <= 0) {
      if (nDone == 0)
        errno = ENOSPC;
      return 0;
    }
    p += nDone;
    n -= static_cast<size_t>(nDone);
  }
  return 1;
}

// States the size of the blocks written so far in the file's header, in
// place, leaving the write position where it is.
static int32_t UpdateHeader(int nFd, uint8_t *pHeader, int64_t nDataBytes) {
  SetWavHeaderSizes(pHeader, static_cast<uint32_t>(nDataBytes));
  for (;;) {
    const ssize_t n = pwrite(nFd, pHeader, kWavHeaderBytes, 0);
    if (n == kWavHeaderBytes)
      return 1;
    if (n >= 0)
      errno = ENOSPC;
    else if (errno == EINTR)
      continue;
    return 0;
  }
}

// Cuts the file back to the blocks fully written and states their size in the
// header. Returns 0 with errno set when the file could not be finished. A
// stream has nothing to finish.
static int32_t FinishFile(int nFd, int32_t bStream, uint8_t *pHeader, int64_t nDataBytes) {
  if (bStream)
    return 1;
  if (ftruncate(nFd, kWavHeaderBytes + nDataBytes) != 0)
    return 0;
  return UpdateHeader(nFd, pHeader, nDataBytes);
}

static void ShowWriteFailure(void *hwndOwner, const char *pszPath, int32_t nErrno) {
  char szText[1200];
  std::snprintf(szText, sizeof szText,
                "WAVファイルへの書き込みに失敗したため、録音を中止しました\r\n%s\r\n%s\r\n"
                "ファイルには、それまでに録音された部分が残っています",
                pszPath, std::strerror(nErrno));
  ShowMessageBox(hwndOwner, szText, kMinorFaultCaption, MsgIcon::Warning);
}

static void ShowTooLong(void *hwndOwner, const char *pszPath) {
  char szText[1200];
  std::snprintf(szText, sizeof szText,
                "WAVファイルの大きさが上限(4GB)に達したため、録音を打ち切りました\r\n%s", pszPath);
  ShowMessageBox(hwndOwner, szText, kMinorFaultCaption, MsgIcon::Warning);
}

// The song is prepared as at playback start, but always from its first
// measure and at normal speed.
static void PrepareRecording(int32_t nRate) {
  ConnectRenderHooks();
  for (UnitSlot &slot : aUnitSlots)
    if (slot.hModule && slot.pfnSetRate)
      slot.pfnSetRate(nRate);
  ResetEngineForStart();
  bSuppressNoteOn = 0;
  bPlaying = 1;
  nTickStep = kNormalTickStep;
}

RecordResult RecordWavFile(const char *pszPath, int32_t nRate, PfnRecordProgress pfnProgress,
                           void *pUser, void *hwndOwner) {
  RecordResult result{kRecordDone, 0, 0};
  // The units, the song and the first ring buffer would be shared with the
  // running operation; a nested recording would also end the outer one.
  if (bOutputOpen || hwndTest || bRecording) {
    result.nStatus = kRecordBusy;
    return result;
  }
  if (!hSongMem) {
    result.nStatus = kRecordNoSong;
    bRecording = 0;
    return result;
  }
  const int32_t bOwnBuffers = apOutBuf[0] == nullptr;
  if (bOwnBuffers && !AllocOutRing(1)) { // a recording renders into the first only
    result.nStatus = kRecordNoMemory;
    bRecording = 0;
    return result;
  }
  const int32_t nSavedRate = nPCMRate;
  nPCMRate = nRate;
  bRecording = 1;

  LockSong();
  ResetRenderStats();
  DragAcceptMainWindow(0);
  PrepareRecording(nRate);

  const int nFd = open(pszPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (nFd < 0) {
    result.nStatus = kRecordNotCreated;
    result.nErrno = errno;
  } else {
    struct stat st;
    const int32_t bStream = fstat(nFd, &st) != 0 || !S_ISREG(st.st_mode);
    uint8_t abHeader[kWavHeaderBytes];
    BuildWavHeader(abHeader);
    if (bStream)
      SetWavHeaderSizes(abHeader, kStreamedDataBytes);
    int32_t bWriteOk = WriteAll(nFd, abHeader, kWavHeaderBytes);
    while (bWriteOk && bRecording == 1) {
      PumpOneMessage();
      if (result.nDataBytes + kRecordBlockBytes > kMaxWavDataBytes) {
        result.nStatus = kRecordTooLong;
        break;
      }
      RenderRecordBlock(kRecordBlockBytes);
      bWriteOk = WriteAll(nFd, apOutBuf[0], kRecordBlockBytes);
      if (!bWriteOk)
        break;
      result.nDataBytes += kRecordBlockBytes;
      if (!bStream && result.nDataBytes % kHeaderUpdateBytes == 0 &&
          !UpdateHeader(nFd, abHeader, result.nDataBytes)) {
        bWriteOk = 0;
        break;
      }
      if (bPlaying == 0)
        bRecording = 0; // the song and its tail are done: this block was the last
      if (pfnProgress) {
        RecordProgress progress{result.nDataBytes, nRate, nMeasure + 1, nBeatInMeasure + 1,
                                nTickInBeat};
        pfnProgress(pUser, progress);
      }
      PumpOneMessage();
      PumpOneMessage();
      PumpOneMessage();
    }
    if (!bWriteOk) {
      result.nStatus = kRecordWriteFailed;
      result.nErrno = errno;
    } else if (result.nStatus == kRecordDone && bPlaying) {
      result.nStatus = kRecordAborted;
    }
    if (!FinishFile(nFd, bStream, abHeader, result.nDataBytes) &&
        result.nStatus != kRecordWriteFailed) {
      result.nStatus = kRecordWriteFailed;
      result.nErrno = errno;
    }
    if (close(nFd) != 0 && result.nStatus != kRecordWriteFailed) {
      result.nStatus = kRecordWriteFailed;
      result.nErrno = errno;
    }
    if (result.nStatus == kRecordWriteFailed)
      ShowWriteFailure(hwndOwner, pszPath, result.nErrno);
    else if (result.nStatus == kRecordTooLong)
      ShowTooLong(hwndOwner, pszPath);
  }

  DragAcceptMainWindow(1);
  UnlockSong();
  for (UnitSlot &slot : aUnitSlots)
    if (slot.hModule && slot.pfnFreeLockCFG)
      slot.pfnFreeLockCFG();
  nPCMRate = nSavedRate;
  bPlaying = 0;
  bRecording = 0;
  if (bOwnBuffers)
    FreeOutRing();
  return result;
}
