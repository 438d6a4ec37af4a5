#include "platform/sdl_api.h"

#include "platform/dynlib.h"

namespace {

constexpr const char kSdlLibrary[] = "libSDL2-2.0.so.0"; // the runtime package's name

const SdlApi *LoadSdl() {
  static SdlApi api;
  void *hLib = LibOpen(kSdlLibrary);
  if (hLib == nullptr)
    return nullptr;
  bool bAll = true;
  const auto Take = [&](auto &pfn, const char *pszName) {
    pfn = reinterpret_cast<std::remove_reference_t<decltype(pfn)>>(LibSymbol(hLib, pszName));
    bAll = bAll && pfn != nullptr;
  };
  Take(api.WasInit, "SDL_WasInit");
  Take(api.InitSubSystem, "SDL_InitSubSystem");
  Take(api.QuitSubSystem, "SDL_QuitSubSystem");
  Take(api.GetVersion, "SDL_GetVersion");
  Take(api.GetNumAudioDevices, "SDL_GetNumAudioDevices");
  Take(api.GetAudioDeviceName, "SDL_GetAudioDeviceName");
  Take(api.GetAudioDeviceSpec, "SDL_GetAudioDeviceSpec");
  Take(api.OpenAudioDevice, "SDL_OpenAudioDevice");
  Take(api.CloseAudioDevice, "SDL_CloseAudioDevice");
  Take(api.PauseAudioDevice, "SDL_PauseAudioDevice");
  Take(api.LockAudioDevice, "SDL_LockAudioDevice");
  Take(api.UnlockAudioDevice, "SDL_UnlockAudioDevice");
  if (!bAll) {
    LibClose(hLib);
    return nullptr;
  }
  return &api; // the library stays loaded for the program's life
}

} // namespace

const SdlApi *Sdl() {
  static const SdlApi *const pApi = LoadSdl();
  return pApi;
}
