#include "player/app/unit_commands.h"

#include <cstring>

#include "player/app/settings_store.h"
#include "player/units/unit_host.h"

int32_t AssignUnitSlot(int32_t nSlot, int32_t nEntry) {
  if (nSlot < 0 || nSlot >= kUnitSlots || nEntry < 0 || nEntry >= nUnitCount)
    return 0;
  UnitSlot &slot = aUnitSlots[nSlot];
  UnitEntry &entry = aUnitEntries[nEntry];
  if (slot.hModule || !aUnitMenu[nEntry].bEnabled)
    return 0;
  static_assert(sizeof slot.szPath == sizeof entry.szPath, "an entry's path fits a slot");
  std::memcpy(slot.szPath, entry.szPath, sizeof slot.szPath);
  entry.nSlot = nSlot;
  aUnitMenu[nEntry].bEnabled = 0;
  BindUnit(nSlot);
  SaveSettings();
  return 1;
}

void ClearUnitSlot(int32_t nSlot) {
  if (nSlot < 0 || nSlot >= kUnitSlots)
    return;
  UnbindUnit(nSlot);
  aUnitSlots[nSlot].szPath[0] = 0;
  SaveSettings();
  for (int32_t i = 0; i < nUnitCount; i++)
    if (aUnitEntries[i].nSlot == nSlot) {
      aUnitEntries[i].nSlot = -1;
      aUnitMenu[i].bEnabled = 1;
    }
}
