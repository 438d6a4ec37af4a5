#include "player/state/engine_hooks.h"

EngineHooks Hooks = {};

void InvalidateMainWindow() {
  if (Hooks.pfnInvalidate)
    Hooks.pfnInvalidate(Hooks.hwndOwner);
}

void DragAcceptMainWindow(int32_t bAccept) {
  if (Hooks.pfnDragAcceptFiles)
    Hooks.pfnDragAcceptFiles(Hooks.hwndOwner, bAccept);
}
