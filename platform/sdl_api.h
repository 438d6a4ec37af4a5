// SDL2's audio calls, taken from the library when a sound device is first
// wanted: a program that only renders to files never loads SDL and the
// fifty-odd libraries it pulls in, which took most of its start-up time.
#pragma once

#include <SDL.h>

struct SdlApi {
  decltype(&SDL_WasInit) WasInit;
  decltype(&SDL_InitSubSystem) InitSubSystem;
  decltype(&SDL_QuitSubSystem) QuitSubSystem;
  decltype(&SDL_GetVersion) GetVersion;
  decltype(&SDL_GetNumAudioDevices) GetNumAudioDevices;
  decltype(&SDL_GetAudioDeviceName) GetAudioDeviceName;
  decltype(&SDL_GetAudioDeviceSpec) GetAudioDeviceSpec;
  decltype(&SDL_OpenAudioDevice) OpenAudioDevice;
  decltype(&SDL_CloseAudioDevice) CloseAudioDevice;
  decltype(&SDL_PauseAudioDevice) PauseAudioDevice;
  decltype(&SDL_LockAudioDevice) LockAudioDevice;
  decltype(&SDL_UnlockAudioDevice) UnlockAudioDevice;
};

// The calls, loaded on the first use and kept; null when the library or one
// of them cannot be found (then there is no sound device).
const SdlApi *Sdl();
