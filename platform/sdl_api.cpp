#include "platform/sdl_api.h"

#include <type_traits>

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
#define TORQA_SDL_TAKE(name) Take(api.name, "SDL_" #name);
  TORQA_SDL_CALLS(TORQA_SDL_TAKE)
#undef TORQA_SDL_TAKE
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
