#include "tools/cli/cli_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "player/app/settings_store.h"
#include "player/app/startup.h"
#include "player/units/unit_host.h"

void CliLoadSettings() {
  SetStartValues();
  ClearUnitSlots();
  LoadSettings();
  AllocEffectLines();
}

const char *CliPluginDir() {
  return szPluginDir;
}

namespace {

// Binds the units as CliBindUnits says; returns the number bound.
int32_t BindUnits() {
  const char *pszDir = std::getenv("TORQA_PLUGIN_DIR");
  if (!SetProgramDirectories(pszDir)) {
    if (pszDir && pszDir[0])
      std::fprintf(stderr, "torqa-cli: TORQA_PLUGIN_DIR is too long (%zu bytes; at most %d)\n",
                   std::strlen(pszDir), kPathBytes - 2);
    else
      std::fprintf(stderr, "torqa-cli: the program's directory is too long for PLUGIN/\n");
    return 0;
  }
  int32_t nBound = BindSavedUnits();
  if (nBound == 0 && nUnitCount > 0) {
    int32_t bSaved = 0;
    for (const UnitSlot &slot : aUnitSlots)
      bSaved |= slot.szPath[0] != 0;
    if (bSaved)
      std::fprintf(stderr, "torqa-cli: the saved unit slots name no unit that loads; using %s\n",
                   aUnitEntries[0].szPath);
    std::memcpy(aUnitSlots[0].szPath, aUnitEntries[0].szPath, sizeof aUnitSlots[0].szPath);
    BindUnit(0);
    nBound = aUnitSlots[0].hModule ? 1 : 0;
  }
  if (nBound == 0)
    std::fprintf(stderr, "torqa-cli: no sound unit found in %s\n", szPluginDir);
  return nBound;
}

} // namespace

int32_t CliBindUnits() {
  if (BindUnits() == 0) {
    ShutDown();
    return 0;
  }
  for (int32_t s = 0; s < kUnitSlots; ++s)
    if (SlotCanSound(s))
      return 1;
  std::fprintf(stderr,
               "torqa-cli: no sound unit loaded an instrument (units in %s): it would be silent\n",
               szPluginDir);
  ShutDown();
  return 0;
}
