// The unit catalogue (every qualifying library in PLUGIN/) and the eight slots
// that hold bound units.
#pragma once

#include <cstdint>

#include "common/unit_interface.h"

constexpr int32_t kMaxUnits = 50;
constexpr int32_t kUnitSlots = 8;
constexpr int32_t kUnitMenuBase = 1000; // menu command id of catalogue entry 0

struct UnitEntry {
  char szPath[kPathBytes]; // full path of the library
  char szName[280];        // display name from GetName
  int32_t nSlot;           // slot using this library, -1 if none
};

struct UnitSlot {
  char szPath[kPathBytes]; // library path; empty = empty slot
  char szName[208];        // GetName at bind time
  void *hModule;           // loaded library, null when not bound
  int32_t bActive;         // 1 after a bind; the panel toggles it
#define TORQA_UNIT_SLOT_FIELD(name) Pfn##name pfn##name;
  TORQA_UNIT_ENTRY_POINTS(TORQA_UNIT_SLOT_FIELD)
#undef TORQA_UNIT_SLOT_FIELD
  PfnMakeBlock pfnMakeBlock; // optional block form of Make; null when the unit lacks it
  PfnLoadedInstruments pfnLoadedInstruments; // optional count of loaded instruments; or null
  int32_t bCfgLoaded;                        // LoadCFG's result at the latest bind (0 unbound)
};

// The unit popup menu as a model the panel shows: one item per catalogue entry.
struct UnitMenuItem {
  int32_t nCommand; // kUnitMenuBase + entry index
  int32_t bEnabled; // 0 = disabled and greyed (the entry's library is in a slot)
};

extern UnitEntry aUnitEntries[kMaxUnits];
extern int32_t nUnitCount;
extern UnitSlot aUnitSlots[kUnitSlots];
extern UnitMenuItem aUnitMenu[kMaxUnits]; // nUnitCount items; text is the entry's szName
extern char szPluginDir[kPathBytes];      // program directory + "/PLUGIN/"

void ScanUnits();
void ApplyUnitSlots();
void BindUnit(int32_t nSlot);
void UnbindUnit(int32_t nSlot);
void UnbindAllUnits();
int32_t SamePath(const char *a, const char *b);
// 1 when slot nSlot is bound, its LoadCFG succeeded and, for a unit that
// counts them, some instrument loaded: the unit can make a sound.
int32_t SlotCanSound(int32_t nSlot);
// Points the catalogue and InitUNIT at pszDir instead of the program's PLUGIN/
// (a trailing '/' is added); null or "" restores the default. Returns 0, and
// leaves no directory, when the path does not fit szPluginDir.
int32_t SetPluginDirectory(const char *pszDir);
