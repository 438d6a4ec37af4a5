// SDL2's audio calls, taken from the library when a sound device is first
// wanted: a program that only renders to files never loads SDL and the
// fifty-odd libraries it pulls in, which took most of its start-up time.
#pragma once

#include <SDL.h>

// The calls taken from the library, each by its name after "SDL_": one list
// for the record and for the loading.
#define TORQA_SDL_CALLS(X)                                                                         \
  X(WasInit)                                                                                       \
  X(InitSubSystem)                                                                                 \
  X(QuitSubSystem)                                                                                 \
  X(GetVersion)                                                                                    \
  X(GetNumAudioDevices)                                                                            \
  X(GetAudioDeviceName)                                                                            \
  X(GetAudioDeviceSpec)                                                                            \
  X(OpenAudioDevice)                                                                               \
  X(CloseAudioDevice)                                                                              \
  X(PauseAudioDevice)                                                                              \
  X(LockAudioDevice)                                                                               \
  X(UnlockAudioDevice)

struct SdlApi {
#define TORQA_SDL_FIELD(name) decltype(&SDL_##name) name;
  TORQA_SDL_CALLS(TORQA_SDL_FIELD)
#undef TORQA_SDL_FIELD
};

// The calls, loaded on the first use and kept; null when the library or one
// of them cannot be found (then there is no sound device).
const SdlApi *Sdl();
