// Device list from SDL's audio output devices.
#include "platform/audio_devices.h"

#include "platform/sdl_api.h"

void FillDeviceList() {
  ClearDeviceList();
  const SdlApi *pSdl = Sdl();
  if (pSdl == nullptr)
    return;
  // Started here only for the list: stopped again afterwards, so the audio
  // back end's threads do not outlive it (a render forks after a first run's
  // listing).
  const bool bStartedHere = !pSdl->WasInit(SDL_INIT_AUDIO);
  if (bStartedHere && pSdl->InitSubSystem(SDL_INIT_AUDIO) != 0)
    return;
  SDL_version version;
  pSdl->GetVersion(&version);
  uint32_t vDriverVersion = (static_cast<uint32_t>(version.major) << 8) | version.minor;
  int nCount = pSdl->GetNumAudioDevices(0);
  for (int i = 0; i < nCount && nDevCount < kMaxDevices; i++) {
    const char *pszName = pSdl->GetAudioDeviceName(i, 0);
    if (!pszName)
      continue;
    SDL_AudioSpec format;
    uint16_t wChannels = 2;
    if (pSdl->GetAudioDeviceSpec(i, 0, &format) == 0 && format.channels == 1)
      wChannels = 1;
    AddDevice(pszName, wChannels, vDriverVersion);
  }
  if (bStartedHere)
    pSdl->QuitSubSystem(SDL_INIT_AUDIO);
}
