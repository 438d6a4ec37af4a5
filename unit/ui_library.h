// The unit's windows come from a second library, loaded when a host with a
// window first needs one: a headless host (torqa-cli) never maps the window
// toolkit, and pays nothing for the dialogs.
#pragma once

#include "unit/unit_ui.h"

namespace vokra {

// Where the window library is (the plug-in sets it when it is attached).
void SetUnitUiPath(const char *pszPath);
// The windows, loading the library on the first call; null when it cannot be loaded.
UnitUi *LoadUnitUi();
// Destroys every window of the unit and unloads the library: before the unit
// itself is unloaded, so that the toolkit calls no code that is gone.
void UnloadUnitUi();
// Installs the dialogs SysSig opens and the loading list used with a host
// window: both load the library on first use. Without the library no dialog
// opens and the loading list goes to stderr.
void InstallLazyUnitUi();
// The unit's about box over hwndOwner; nothing without a host window.
void ShowCopyright(void *hwndOwner);

} // namespace vokra
