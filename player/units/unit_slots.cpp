#include "player/units/unit_host.h"

UnitEntry aUnitEntries[kMaxUnits];
int32_t nUnitCount = 0;
UnitSlot aUnitSlots[kUnitSlots];
UnitMenuItem aUnitMenu[kMaxUnits];
char szPluginDir[kPathBytes];
