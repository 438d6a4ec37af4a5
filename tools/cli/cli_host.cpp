#include "tools/cli/cli_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "player/render/effects.h"
#include "player/app/settings_store.h"
#include "player/units/unit_host.h"

void CliLoadSettings() {
  LoadSettings();
  AllocReverbLine();
  AllocChorusLine();
}

const char *CliPluginDir() {
  return szPluginDir;
}

int32_t CliBindUnits() {
  const char *pszDir = std::getenv("TORQA_PLUGIN_DIR");
  if (pszDir && pszDir[0])
    SetPluginDirectory(pszDir);
  ScanUnits();
  ApplyUnitSlots();
  int32_t nBound = 0;
  int32_t bSaved = 0;
  for (const UnitSlot &slot : aUnitSlots) {
    nBound += slot.hModule != nullptr;
    bSaved |= slot.szPath[0] != 0;
  }
  if (nBound > 0 || nUnitCount == 0)
    return nBound;
  if (bSaved)
    std::fprintf(stderr, "torqa-cli: the saved unit slots name no unit that loads; using %s\n",
                 aUnitEntries[0].szPath);
  if (std::strlen(aUnitEntries[0].szPath) >= sizeof aUnitSlots[0].szPath)
    return 0; // a slot cannot name it
  std::memcpy(aUnitSlots[0].szPath, aUnitEntries[0].szPath, sizeof aUnitSlots[0].szPath);
  BindUnit(0);
  return aUnitSlots[0].hModule ? 1 : 0;
}

void CliReleaseUnits() {
  UnbindAllUnits();
}
