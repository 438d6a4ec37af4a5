// What the render layer offers the layers below it, through the engine hooks.
#include "player/render/effects.h"
#include "player/state/engine_hooks.h"
#include "player/state/engine_state.h"

Pfn3DEngine pfn3DEngine = Engine3DLight; // n3DENGIN 0 until the settings load

static void SeekSample() {
  if (bUseEff3)
    StepChorusLfo();
}

void ConnectRenderHooks() {
  Hooks.pfnPanChanged = Update3DTaps;
  Hooks.pfnSeekSample = SeekSample;
}
