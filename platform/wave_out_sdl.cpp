// The sound device on SDL2's audio subsystem. SDL's audio thread runs only
// FillStream: it copies bytes out of the queued headers and posts a done
// message for each header it used up. Writes, pause, restart, reset and close
// run on the event loop's thread.
#include "platform/sdl_api.h"

#include <atomic>
#include <cstring>

#include "platform/audio_devices.h"
#include "platform/wave_out.h"

namespace {

constexpr uint32_t kQueueSlots = 16; // headers queued at once (the player queues 8)
// SDL's period: at most about 11.6 ms, a quarter of a normal block. Closing a
// device waits up to three periods (the current one and a two-period drain),
// so a stop stays within one block.
constexpr int32_t kRatePerPeriodFrame = 86;

Uint16 PeriodFrames(int32_t nRate) {
  int32_t nFrames = 16;
  while (nFrames * 2 <= nRate / kRatePerPeriodFrame && nFrames < 4096)
    nFrames *= 2;
  return (Uint16)nFrames;
}

class SdlWaveOutDevice : public WaveOutDevice {
public:
  SDL_AudioDeviceID nDevId = 0;
  // Queue of written headers: the loop thread fills slots and advances
  // nPushed; the audio thread reads them and advances nPopped. Reset and
  // Close take the queue over while holding SDL's device lock.
  WaveHeader *apQueue[kQueueSlots] = {};
  std::atomic<uint32_t> nPushed{0};
  std::atomic<uint32_t> nPopped{0};
  uint32_t nReadPos = 0; // bytes of the oldest header already played (audio thread)

  int32_t Write(WaveHeader *pHdr) override {
    uint32_t nPush = nPushed.load(std::memory_order_relaxed);
    if (nPush - nPopped.load(std::memory_order_acquire) >= kQueueSlots)
      return 0;
    apQueue[nPush % kQueueSlots] = pHdr;
    nPushed.store(nPush + 1, std::memory_order_release);
    return 1;
  }
  void Pause() override { Sdl()->PauseAudioDevice(nDevId, 1); }
  void Restart() override { Sdl()->PauseAudioDevice(nDevId, 0); }
  void Reset() override {
    // The lock waits for a running callback to end and keeps the next one out
    // for the few microseconds this takes.
    Sdl()->LockAudioDevice(nDevId);
    uint32_t nPop = nPopped.load(std::memory_order_relaxed);
    uint32_t nPush = nPushed.load(std::memory_order_acquire);
    for (; nPop != nPush; nPop++)
      PostWaveDone(this, apQueue[nPop % kQueueSlots]);
    nReadPos = 0;
    nPopped.store(nPop, std::memory_order_release);
    Sdl()->UnlockAudioDevice(nDevId);
  }
};

// SDL's audio thread: fill the device's stream from the queue, silence when it
// runs dry (an underrun), post "done" for each header used up.
void SDLCALL FillStream(void *pUser, Uint8 *pStream, int nLen) {
  auto *pDev = static_cast<SdlWaveOutDevice *>(pUser);
  uint32_t nPop = pDev->nPopped.load(std::memory_order_relaxed);
  uint32_t nLeft = (uint32_t)nLen;
  while (nLeft > 0) {
    if (nPop == pDev->nPushed.load(std::memory_order_acquire)) {
      std::memset(pStream, 0, nLeft);
      break;
    }
    WaveHeader *pHdr = pDev->apQueue[nPop % kQueueSlots];
    uint32_t nAvail = pHdr->nBufferLength - pDev->nReadPos;
    uint32_t nCopy = nAvail < nLeft ? nAvail : nLeft;
    std::memcpy(pStream, pHdr->pData + pDev->nReadPos, nCopy);
    pStream += nCopy;
    nLeft -= nCopy;
    pDev->nReadPos += nCopy;
    if (pDev->nReadPos >= pHdr->nBufferLength) {
      pDev->nReadPos = 0;
      nPop++;
      pDev->nPopped.store(nPop, std::memory_order_release);
      PostWaveDone(pDev, pHdr);
    }
  }
}

class SdlWaveOutDriver : public WaveOutDriver {
public:
  // Device ids are indexes into the device list (DevCapsTable), which the
  // settings and the setup dialog use; devices are opened by their full name.
  int32_t DeviceCount() override { return nDevCount; }

  int32_t Supports(int32_t nDevice, int32_t nRate) override {
    // SDL converts to whatever the device plays, so a format is supported
    // exactly when the device opens with it.
    SDL_AudioSpec have;
    SDL_AudioDeviceID nId = OpenId(nDevice, nRate, nullptr, &have);
    if (nId == 0)
      return 0;
    Sdl()->CloseAudioDevice(nId);
    return 1;
  }

  WaveOutDevice *Open(int32_t nDevice, int32_t nRate, uint32_t nSerial) override {
    auto *pDev = new SdlWaveOutDevice;
    pDev->nSerial = nSerial;
    SDL_AudioSpec have;
    pDev->nDevId = OpenId(nDevice, nRate, pDev, &have);
    if (pDev->nDevId == 0) {
      delete pDev;
      return nullptr;
    }
    return pDev;
  }

  void Close(WaveOutDevice *pDevice) override {
    auto *pDev = static_cast<SdlWaveOutDevice *>(pDevice);
    Sdl()->CloseAudioDevice(pDev->nDevId); // joins SDL's audio thread
    delete pDev;
  }

private:
  // Opens paused; SDL converts if the device wants another format or rate.
  static SDL_AudioDeviceID OpenId(int32_t nDevice, int32_t nRate, SdlWaveOutDevice *pDev,
                                  SDL_AudioSpec *pHave) {
    SDL_AudioSpec want;
    std::memset(&want, 0, sizeof want); // SDL_zero would call into SDL
    want.freq = nRate;
    want.format = AUDIO_S16LSB;
    want.channels = 2;
    want.samples = PeriodFrames(nRate);
    want.callback = pDev ? FillStream : FillSilence;
    want.userdata = pDev;
    const char *pszName = DeviceFullName(nDevice);
    if (!pszName[0])
      return 0;
    return Sdl()->OpenAudioDevice(pszName, 0, &want, pHave, 0);
  }

  static void SDLCALL FillSilence(void *, Uint8 *pStream, int nLen) {
    std::memset(pStream, 0, (size_t)nLen);
  }
};

SdlWaveOutDriver gSdlDriver;
int32_t gSdlAudioUp = 0; // SDL's audio subsystem started by us

} // namespace

WaveOutDriver *GetSdlWaveOutDriver() {
  if (!gSdlAudioUp) {
    if (Sdl() == nullptr || Sdl()->InitSubSystem(SDL_INIT_AUDIO) != 0)
      return nullptr;
    gSdlAudioUp = 1;
    FillDeviceList(); // the list belongs to the SDL driver just started
  }
  return &gSdlDriver;
}

void ShutdownSdlWaveOut() {
  if (gSdlAudioUp) {
    Sdl()->QuitSubSystem(SDL_INIT_AUDIO);
    gSdlAudioUp = 0;
  }
}
