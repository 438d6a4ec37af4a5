// The unit catalogue and slot table: finds unit libraries in PLUGIN/, binds
// them into the eight slots and releases them.
#include <dirent.h>

#include <cstdio>
#include <cstring>

#include "platform/dynlib.h"
#include "platform/message_box.h"
#include "player/state/engine_hooks.h"
#include "player/state/engine_state.h"
#include "player/units/unit_host.h"

namespace {

constexpr int32_t kEntryPoints = kUnitEntryCount;
constexpr const char kUnitSuffix[] = ".so";

int32_t bPluginDirSet = 0; // 1 while SetPluginDirectory overrides the program's PLUGIN/ (even
                           // with a path too long to keep: then there is no directory)

// szPluginDir, from the program directory unless a test has set it.
void EnsurePluginDir() {
  if (bPluginDirSet) {
    return;
  }
  char szProgram[4096];
  if (!ProgramDirectory(szProgram, sizeof szProgram)) {
    std::snprintf(szProgram, sizeof szProgram, ".");
  }
  const int n = std::snprintf(szPluginDir, sizeof szPluginDir, "%s/PLUGIN/", szProgram);
  if (n < 0 || n >= static_cast<int>(sizeof szPluginDir)) {
    szPluginDir[0] = 0; // too long to name: no catalogue rather than a wrong directory
  }
}

// Resolves the thirteen entry points in table order; 1 only when all exist.
int32_t ResolveEntryPoints(void *hModule, void *apfn[kEntryPoints]) {
  int32_t bAll = 1;
  for (int32_t i = 0; i < kEntryPoints; ++i) {
    apfn[i] = LibSymbol(hModule, kUnitEntryNames[i]);
    if (!apfn[i]) {
      bAll = 0;
    }
  }
  return bAll;
}

int32_t HasUnitSuffix(const char *pszName) {
  const size_t n = std::strlen(pszName);
  const size_t m = sizeof kUnitSuffix - 1;
  return n > m && std::strcmp(pszName + n - m, kUnitSuffix) == 0;
}

template <typename T> T As(void *p) {
  return reinterpret_cast<T>(p);
}

void StoreEntryPoints(UnitSlot &s, void *const apfn[kEntryPoints]) {
  int32_t i = 0;
#define TORQA_STORE_ENTRY(name) s.pfn##name = As<Pfn##name>(apfn[i++]);
  TORQA_UNIT_ENTRY_POINTS(TORQA_STORE_ENTRY)
#undef TORQA_STORE_ENTRY
}

void SetMenuItem(int32_t nEntry, int32_t bEnabled) {
  aUnitMenu[nEntry].bEnabled = bEnabled;
}

} // namespace

int32_t SetPluginDirectory(const char *pszDir) {
  if (!pszDir || !pszDir[0]) {
    bPluginDirSet = 0;
    szPluginDir[0] = 0;
    EnsurePluginDir();
    return szPluginDir[0] != 0;
  }
  const size_t n = std::strlen(pszDir);
  const int nOut = std::snprintf(szPluginDir, sizeof szPluginDir, "%s%s", pszDir,
                                 pszDir[n - 1] == '/' ? "" : "/");
  bPluginDirSet = 1;
  if (nOut < 0 || nOut >= static_cast<int>(sizeof szPluginDir)) {
    szPluginDir[0] = 0; // not cut: a shorter path would name another directory
    return 0;
  }
  return 1;
}

void ScanUnits() {
  nUnitCount = 0;
  EnsurePluginDir();
  DIR *pDir = opendir(szPluginDir);
  if (pDir) {
    while (nUnitCount < kMaxUnits) {
      const dirent *pEnt = readdir(pDir);
      if (!pEnt) {
        break;
      }
      if (!HasUnitSuffix(pEnt->d_name)) {
        continue;
      }
      UnitEntry &e = aUnitEntries[nUnitCount];
      const int n = std::snprintf(e.szPath, sizeof e.szPath, "%s%s", szPluginDir, pEnt->d_name);
      if (n < 0 || n >= static_cast<int>(sizeof e.szPath)) {
        continue; // a cut path would name another file
      }
      void *hModule = LibOpen(e.szPath);
      if (!hModule) {
        continue;
      }
      void *apfn[kEntryPoints];
      if (ResolveEntryPoints(hModule, apfn)) {
        e.nSlot = -1;
        std::memset(e.szName, 0, sizeof e.szName);
        As<PfnGetName>(apfn[1])(e.szName); // GetName is the second entry point
        aUnitMenu[nUnitCount] = {kUnitMenuBase + nUnitCount, 1};
        ++nUnitCount;
      }
      LibClose(hModule);
    }
    closedir(pDir);
  }
  if (nUnitCount >= kMaxUnits) {
    ShowMessageBox(Hooks.hwndOwner, "プラグイン数が最大量を越えました", "プラグインの上限",
                   MsgIcon::Warning);
  }
}

void ApplyUnitSlots() {
  for (int32_t s = 0; s < kUnitSlots; ++s) {
    UnitSlot &slot = aUnitSlots[s];
    if (slot.hModule) {
      UnbindUnit(s);
    }
    if (!slot.szPath[0]) {
      continue;
    }
    BindUnit(s);
    for (int32_t i = 0; i < nUnitCount; ++i) {
      if (SamePath(aUnitEntries[i].szPath, slot.szPath)) {
        aUnitEntries[i].nSlot = s;
        SetMenuItem(i, 0);
      }
    }
  }
}

void BindUnit(int32_t nSlot) {
  if (nSlot < 0 || nSlot >= kUnitSlots) {
    return;
  }
  UnitSlot &s = aUnitSlots[nSlot];
  if (s.hModule) {
    UnbindUnit(nSlot); // a second bind must not orphan the first library
  }
  if (!s.szPath[0]) {
    return; // an empty slot: nothing to bind
  }
  void *hModule = LibOpen(s.szPath);
  if (!hModule) {
    return; // stays assigned, unbound
  }
  void *apfn[kEntryPoints];
  if (!ResolveEntryPoints(hModule, apfn)) {
    s.bActive = 0;
    LibClose(hModule);
    void *const apNone[kEntryPoints] = {};
    StoreEntryPoints(s, apNone);
    s.pfnMakeBlock = nullptr;
    s.pfnLoadedInstruments = nullptr;
    s.bCfgLoaded = 0;
    s.hModule = nullptr;
    s.szPath[0] = 0;
    s.szName[0] = 0;
    return;
  }
  s.hModule = hModule;
  StoreEntryPoints(s, apfn);
  s.pfnMakeBlock = As<PfnMakeBlock>(LibSymbol(hModule, kUnitBlockEntryName));
  s.pfnLoadedInstruments = As<PfnLoadedInstruments>(LibSymbol(hModule, kUnitLoadedEntryName));
  EnsurePluginDir();
  std::memset(s.szName, 0, sizeof s.szName);
  s.pfnGetName(s.szName);
  s.pfnInitUNIT(Hooks.hwndOwner, szPluginDir);
  s.bCfgLoaded = s.pfnLoadCFG();
  s.pfnSetRate(nPCMRate);
  s.bActive = 1;
}

void UnbindUnit(int32_t nSlot) {
  if (nSlot < 0 || nSlot >= kUnitSlots) {
    return;
  }
  UnitSlot &s = aUnitSlots[nSlot];
  if (!s.hModule) {
    return;
  }
  // Marked unbound before the unit is told, so nothing renders it meanwhile.
  void *hModule = s.hModule;
  s.hModule = nullptr;
  s.bActive = 0;
  s.bCfgLoaded = 0;
  s.pfnFreeLockCFG();
  s.pfnRemoveCFG();
  LibClose(hModule);
}

void UnbindAllUnits() {
  for (int32_t s = 0; s < kUnitSlots; ++s) {
    UnbindUnit(s);
  }
  for (int32_t i = 0; i < nUnitCount; ++i) {
    aUnitEntries[i].nSlot = -1;
    SetMenuItem(i, 1);
  }
}

int32_t SamePath(const char *a, const char *b) {
  return std::strcmp(a, b) == 0;
}

int32_t SlotCanSound(int32_t nSlot) {
  if (nSlot < 0 || nSlot >= kUnitSlots) {
    return 0;
  }
  const UnitSlot &s = aUnitSlots[nSlot];
  if (!s.hModule || !s.bCfgLoaded) {
    return 0;
  }
  return !s.pfnLoadedInstruments || s.pfnLoadedInstruments() > 0;
}
