#include "player/output/playback.h"

#include <cstring>

#include "platform/message_box.h"
#include "player/render/effects.h"
#include "player/render/render_loop.h"
#include "player/song/routing.h"
#include "player/song/sequencer.h"
#include "player/song/song.h"
#include "player/state/engine_hooks.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"

constexpr int32_t kPowerSaveMaxRate = 22050; // low-load blocks only up to this rate
constexpr int32_t kBlockRefRate = 96000;     // rate at which a normal block fills a buffer
constexpr int32_t kPumpPerStep = 2;          // messages handled before and after each refill

WaveOutDevice *hWaveOut = nullptr;
WaveHeader aWaveHeaders[kOutBufCount];

static int32_t bRefilling = 0;  // re-entry guard of the refill loop
static int32_t bSongLocked = 0; // the song image is locked by this playback
static int32_t bUnitsInUse = 0; // units have played since the last FreeLockCFG

static void DragAccept(void *hwnd, int32_t bAccept) {
  if (Hooks.pfnDragAcceptFiles)
    Hooks.pfnDragAcceptFiles(hwnd, bAccept);
}

int32_t AllocOutputBuffers() {
  return AllocOutRing();
}

void FreeOutputBuffers() {
  FreeOutRing();
}

int32_t AllocOutputBuffersOrReport(void *hwnd) {
  if (AllocOutputBuffers())
    return 1;
  ShowMessageBox(hwnd, kNoMemoryText, kPcmBufferCaption, MsgIcon::Error);
  return 0;
}

int32_t OpenWaveDevice(void *, WaveOutDevice **phOut, int32_t nRate) {
  return WaveOutOpen(phOut, nSelDevice, nRate);
}

int32_t TestRate(int32_t nRate) {
  int32_t nCount = WaveOutGetNumDevs();
  for (int32_t i = 0; i < nCount; i++)
    if (WaveOutQuery(i, nRate))
      return 1;
  return 0;
}

int32_t TestRateOrWarn(void *hwndDlg, int32_t nRate) {
  if (TestRate(nRate))
    return 1;
  ShowMessageBox(hwndDlg, kNoRateText, kSoundDeviceCaption, MsgIcon::Warning);
  return 0;
}

void CloseWaveDevice(WaveOutDevice *hOut) {
  WaveOutReset(hOut);
  for (WaveHeader &hdr : aWaveHeaders)
    WaveOutUnprepareHeader(hOut, &hdr);
  WaveOutClose(hOut);
}

void PrepareHeaders(int32_t nBytes) {
  for (int32_t i = 0; i < kOutBufCount; i++) {
    aWaveHeaders[i].pData = apOutBuf[i];
    aWaveHeaders[i].nBufferLength = static_cast<uint32_t>(nBytes);
    aWaveHeaders[i].dwUser = static_cast<uintptr_t>(i);
    aWaveHeaders[i].dwFlags = 0;
    ClearWaveDone(&aWaveHeaders[i]);
  }
}

int32_t BlockBytesForRate(int32_t nRate, int32_t bPowerSave) {
  int32_t nDivisor = (nRate <= kPowerSaveMaxRate && bPowerSave) ? kPowerSaveMaxRate : kBlockRefRate;
  int64_t nBytes = int64_t{nRate} * kOutBufBytes / nDivisor;
  // A rate above the largest the settings allow would overrun the buffers.
  if (nBytes > kOutBufBytes)
    nBytes = kOutBufBytes;
  if (nBytes < 0)
    nBytes = 0;
  return static_cast<int32_t>(nBytes) & ~3;
}

static void SetBlockSize() {
  nBlockBytes = BlockBytesForRate(nPCMRate, bPowerSave1);
  fBlockSeconds = nBlockBytes * 0.25 / nPCMRate;
}

static int32_t BuffersReady() {
  for (uint8_t *p : apOutBuf)
    if (!p)
      return 0;
  return 1;
}

static void ClearRing() {
  for (int32_t i = 0; i < kOutBufCount; i++) {
    std::memset(apOutBuf[i], 0, kOutBufBytes);
    abMeterReady[i] = 0;
    anBufState[i] = 0;
  }
}

static void QueueBuffer(int32_t i) {
  WaveOutPrepareHeader(hWaveOut, &aWaveHeaders[i]);
  WaveOutWrite(hWaveOut, &aWaveHeaders[i]);
  anBufState[i] = 2;
}

void StartPlayback(void *hwnd) {
  if (!hSongMem || hwndTest)
    return;
  // A start while the ring drains would open a second device and orphan the first.
  if (bOutputOpen)
    StopPlayback(hwnd);
  if (!BuffersReady())
    return;
  if (!OpenWaveDevice(hwnd, &hWaveOut, nPCMRate))
    return;
  LockSong();
  bSongLocked = 1;
  ConnectRenderHooks();
  ClearRing();
  ResetRenderStats();
  SetBlockSize();
  for (UnitSlot &slot : aUnitSlots)
    if (slot.hModule && slot.pfnSetRate)
      slot.pfnSetRate(nPCMRate);
  PrepareHeaders(nBlockBytes);
  DragAccept(hwnd, 0);
  bPlaying = 1;
  bOutputOpen = 1;
  bUnitsInUse = 1;

  ResetEngineForStart();

  int32_t nFrom = nStartMeasure < 0 ? 0 : nStartMeasure;
  if (nFrom > 0) {
    bSuppressNoteOn = 1;
    SeekToMeasure(nFrom);
    bSuppressNoteOn = 0;
  }
  if (Hooks.pfnInvalidate)
    Hooks.pfnInvalidate(hwnd);
  bRefilling = 0;

  if (!bPlaying) {
    // Nothing was queued, so no buffer will come back to close the device.
    StopPlayback(hwnd);
    return;
  }
  // The device opened stopped: it starts with all eight queued.
  for (int32_t i = 0; i < kOutBufCount; i++) {
    RenderBlock(i, nBlockBytes);
    QueueBuffer(i);
  }
  WaveOutRestart(hWaveOut);
  anBufState[0] = 3;
  DragAccept(hwnd, 1);
}

void StartSoundTest(int32_t nProgram, int32_t nBank, int32_t nKey, int32_t nChannel) {
  // The test dialog ignores its button while the device is open; so does this.
  if (bOutputOpen || !BuffersReady())
    return;
  if (!OpenWaveDevice(Hooks.hwndOwner, &hWaveOut, nPCMRate))
    return;
  bSuppressNoteOn = 0;
  ConnectRenderHooks();
  for (int32_t i = 0; i < kOutBufCount; i++) {
    abMeterReady[i] = 0;
    anBufState[i] = 0;
  }
  ResetRenderStats();
  nBlockBytes = BlockBytesForRate(nPCMRate, bPowerSave1);
  PrepareHeaders(nBlockBytes);
  bPlaying = 1;
  bOutputOpen = 1;
  bUnitsInUse = 1;

  ResetEffects();
  ResetSequencer();
  SendSoundTestMessages(nProgram, nBank, nKey, nChannel);
  std::memset(anChannelAcc, 0, sizeof anChannelAcc);
  bRefilling = 0;

  if (bPlaying) {
    for (int32_t i = 0; i < kOutBufCount; i++) {
      RenderTestBlock(i, nBlockBytes);
      QueueBuffer(i);
    }
    // No refill: the test is exactly these eight blocks.
    bPlaying = 0;
    WaveOutRestart(hWaveOut);
  }
}

void StopPlayback(void *hwnd) {
  bPlaying = 0;
  bOutputOpen = 0;
  if (hWaveOut) {
    CloseWaveDevice(hWaveOut);
    hWaveOut = nullptr;
    DragAccept(hwnd, 1);
  }
  if (bSongLocked) {
    UnlockSong();
    bSongLocked = 0;
  }
  if (bUnitsInUse) {
    for (UnitSlot &slot : aUnitSlots)
      if (slot.hModule && slot.pfnFreeLockCFG)
        slot.pfnFreeLockCFG();
    bUnitsInUse = 0;
  }
}

static void PumpMessages() {
  for (int32_t n = 0; n < kPumpPerStep; n++)
    PumpOneMessage();
}

void OnBufferDone(WaveHeader *pHdr) {
  if (!pHdr || pHdr->dwUser >= static_cast<uintptr_t>(kOutBufCount))
    return;
  int32_t i = static_cast<int32_t>(pHdr->dwUser);
  abMeterReady[i] = 0;
  anBufState[i] = 0;
  int32_t j = (i + 1) % kOutBufCount;
  if (anBufState[j] == 2)
    anBufState[j] = 3;
  if (bPlaying) {
    CurMeterFrame = aMeterFrames[i];
    PostLoopMessage(UM_REDRAW, 0, 0);
  }

  if (!bRefilling) {
    bRefilling = 1;
    // A handler run by the pumping may stop and start a new playback; this
    // loop belongs to the device it began with and must not write to another.
    uint32_t nSerial = WaveOutSerial(hWaveOut);
    int32_t k = i;
    while (anBufState[k] == 0 && bPlaying && WaveOutSerial(hWaveOut) == nSerial) {
      PumpMessages();
      if (bPlaying && anBufState[k] == 0 && WaveOutSerial(hWaveOut) == nSerial) {
        RenderBlock(k, nBlockBytes);
        WaveOutWrite(hWaveOut, &aWaveHeaders[k]);
        anBufState[k] = 2;
      }
      PumpMessages();
      k = (k + 1) % kOutBufCount;
    }
    bRefilling = 0;
  }

  if (!bPlaying) {
    for (int32_t s : anBufState)
      if (s != 0)
        return;
    StopPlayback(Hooks.hwndOwner);
  }
}

void OnWaveDoneMessage(uintptr_t wParam, intptr_t lParam) {
  if (lParam == 0) {
    // The reserved wake-up of a full queue: every buffer that finished, in
    // ring order from the one playing.
    int32_t nFirst = 0;
    for (int32_t i = 0; i < kOutBufCount; i++)
      if (anBufState[i] == 3)
        nFirst = i;
    for (int32_t n = 0; n < kOutBufCount; n++) {
      WaveHeader *pHdr = &aWaveHeaders[(nFirst + n) % kOutBufCount];
      if (TakeWaveDone(pHdr))
        OnBufferDone(pHdr);
    }
    return;
  }
  if (bOutputOpen && hWaveOut && wParam != WaveOutSerial(hWaveOut))
    return;
  WaveHeader *pHdr = reinterpret_cast<WaveHeader *>(lParam);
  if (TakeWaveDone(pHdr)) // else the reserved wake-up took it already
    OnBufferDone(pHdr);
}
