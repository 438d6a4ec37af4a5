#include "support/fake_wave_out.h"

int32_t FakeWaveOutDevice::Write(WaveHeader *pHdr) {
  queue.push_back(pHdr);
  pDriver_->log.push_back("write " + std::to_string(pHdr->dwUser));
  return 1;
}

void FakeWaveOutDevice::Pause() {
  bPaused = 1;
  pDriver_->log.push_back("pause");
}

void FakeWaveOutDevice::Restart() {
  if (bPaused && pDriver_->nQueuedAtStart < 0)
    pDriver_->nQueuedAtStart = static_cast<int32_t>(queue.size());
  bPaused = 0;
  pDriver_->log.push_back("restart");
}

void FakeWaveOutDevice::Reset() {
  pDriver_->log.push_back("reset");
  while (!queue.empty()) {
    PostWaveDone(this, queue.front());
    queue.pop_front();
  }
}

int32_t FakeWaveOutDriver::Supports(int32_t nDevice, int32_t nRate) {
  if (nOnlyRate == 0)
    return 1;
  return nDevice == nOnlyDevice && nRate == nOnlyRate;
}

WaveOutDevice *FakeWaveOutDriver::Open(int32_t nDevice, int32_t nRate, uint32_t nSerial) {
  if (bFailOpen)
    return nullptr;
  auto *pDev = new FakeWaveOutDevice(this);
  pDev->nSerial = nSerial;
  pDev->nRate = nRate;
  pDev->bPaused = 1; // stopped until the first restart
  nQueuedAtStart = -1;
  pOpen = pDev;
  nOpenDevice = nDevice;
  nOpens++;
  log.push_back("open");
  return pDev;
}

void FakeWaveOutDriver::Close(WaveOutDevice *pDevice) {
  if (pDevice == pOpen)
    pOpen = nullptr;
  nCloses++;
  log.push_back("close");
  delete static_cast<FakeWaveOutDevice *>(pDevice);
}

int32_t FakeWaveOutDriver::Step() {
  if (!pOpen || pOpen->bPaused || pOpen->queue.empty())
    return 0;
  WaveHeader *pHdr = pOpen->queue.front();
  pOpen->queue.pop_front();
  abPlayed.insert(abPlayed.end(), pHdr->pData, pHdr->pData + pHdr->nBufferLength);
  PostWaveDone(pOpen, pHdr);
  return 1;
}
