// The slot commands of the panel's assign/clear element: each changes one
// slot, keeps the catalogue's record of which slot uses which entry (and so
// which popup menu items are greyed) and saves the settings.
#pragma once

#include <cstdint>

// Puts catalogue entry nEntry into slot nSlot and binds it. Refuses (returns
// 0, nothing changed) an index out of range, a slot that holds a library or
// an entry another slot uses (its menu item is greyed).
int32_t AssignUnitSlot(int32_t nSlot, int32_t nEntry);
// Unbinds slot nSlot, empties its path and frees the entries it used.
void ClearUnitSlot(int32_t nSlot);
