// Placeholder until the 3D engine lands: keeps the engine library linkable.
#include "player/render/effects.h"

int32_t n3DSpan, n3DTapUnit, n3DEchoDelay, n3DPos;
void ResetEffects() {}
void Update3DTaps(int32_t) {}
void Engine3DLight() {}
void Engine3DMedium() {}
void Engine3DHeavy() {}
