#include "platform/wave_out.h"

#include <atomic>

#include "platform/event_loop.h"

static WaveOutDriver *gDriver = nullptr;
static uint32_t gLastSerial = 0; // event loop thread only

WaveOutDriver *SetWaveOutDriver(WaveOutDriver *pDriver) {
  WaveOutDriver *pPrevious = gDriver;
  gDriver = pDriver;
  return pPrevious;
}

WaveOutDriver *GetWaveOutDriver() {
  return gDriver;
}

int32_t WaveOutGetNumDevs() {
  if (!gDriver)
    return 0;
  int32_t nCount = gDriver->DeviceCount();
  return nCount > 0 ? nCount : 0;
}

int32_t WaveOutQuery(int32_t nDevice, int32_t nRate) {
  if (!gDriver || nDevice < 0 || nDevice >= gDriver->DeviceCount() || nRate <= 0)
    return 0;
  return gDriver->Supports(nDevice, nRate) ? 1 : 0;
}

int32_t WaveOutOpen(WaveOutDevice **phOut, int32_t nDevice, int32_t nRate) {
  *phOut = nullptr;
  if (!gDriver || nDevice < 0 || nDevice >= gDriver->DeviceCount() || nRate <= 0)
    return 0;
  uint32_t nSerial = ++gLastSerial;
  if (nSerial == 0) // 0 means "no device" in done messages
    nSerial = ++gLastSerial;
  *phOut = gDriver->Open(nDevice, nRate, nSerial);
  return *phOut ? 1 : 0;
}

int32_t WaveOutPrepareHeader(WaveOutDevice *hOut, WaveHeader *pHdr) {
  if (!hOut || !pHdr || !pHdr->pData)
    return 0;
  pHdr->dwFlags |= kWhdrPrepared;
  return 1;
}

int32_t WaveOutUnprepareHeader(WaveOutDevice *hOut, WaveHeader *pHdr) {
  if (!hOut || !pHdr)
    return 0;
  pHdr->dwFlags &= ~kWhdrPrepared;
  return 1;
}

int32_t WaveOutWrite(WaveOutDevice *hOut, WaveHeader *pHdr) {
  if (!hOut || !pHdr || !(pHdr->dwFlags & kWhdrPrepared) || (pHdr->nBufferLength & 3))
    return 0;
  return hOut->Write(pHdr);
}

int32_t WaveOutPause(WaveOutDevice *hOut) {
  if (!hOut)
    return 0;
  hOut->Pause();
  return 1;
}

int32_t WaveOutRestart(WaveOutDevice *hOut) {
  if (!hOut)
    return 0;
  hOut->Restart();
  return 1;
}

int32_t WaveOutReset(WaveOutDevice *hOut) {
  if (!hOut)
    return 0;
  hOut->Reset();
  return 1;
}

int32_t WaveOutClose(WaveOutDevice *hOut) {
  if (!hOut || !gDriver)
    return 0;
  hOut->Reset();
  gDriver->Close(hOut);
  return 1;
}

uint32_t WaveOutSerial(const WaveOutDevice *hOut) {
  return hOut ? hOut->nSerial : 0;
}

void PostWaveDone(const WaveOutDevice *pDevice, WaveHeader *pHdr) {
  std::atomic_ref<uint32_t>(pHdr->dwDone).store(1, std::memory_order_release);
  if (!PostLoopMessage(MM_WOM_DONE, pDevice->nSerial, reinterpret_cast<intptr_t>(pHdr)))
    GetEventLoop()->PostReserved(MM_WOM_DONE);
}

int32_t TakeWaveDone(WaveHeader *pHdr) {
  return std::atomic_ref<uint32_t>(pHdr->dwDone).exchange(0, std::memory_order_acq_rel) != 0;
}

void ClearWaveDone(WaveHeader *pHdr) {
  std::atomic_ref<uint32_t>(pHdr->dwDone).store(0, std::memory_order_relaxed);
}
