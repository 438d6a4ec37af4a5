// The panel's drawing primitives on 32-bit pixel buffers: cell copies (the
// panel's bitmaps hold several cells side by side or stacked), boxes, and the
// three blending routines the screen uses. Every box is clipped to both images,
// so a skin bitmap smaller than its built-in one leaves the rest undrawn.
#pragma once

#include <cstdint>

#include "player/ui/panel_image.h"

// Copies the w x h box at (sx, sy) of src to (dx, dy) of dst.
void CopyCell(PanelImage &dst, int32_t dx, int32_t dy, const PanelImage &src, int32_t sx,
              int32_t sy, int32_t w, int32_t h);
void FillBox(PanelImage &img, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t crFill);
void SetPanelPixel(PanelImage &img, int32_t x, int32_t y, uint32_t cr);

// The rightmost w columns of the bottom h rows: every channel halved, 0x80
// added to blue (the read-out's backing).
void ShadeBox(PanelImage &img, int32_t w, int32_t h);
// Each of red, green, blue in the box: min(255, c * nPercent / 100 + the
// colour's own component).
void ScaleBox(PanelImage &img, int32_t nPercent, uint32_t crAdd, int32_t x, int32_t y, int32_t w,
              int32_t h);
// Each of red, green, blue in the box: d - (d - s) * nAlpha / 100, at most 255;
// alpha 100 copies the source, 0 keeps the destination.
void BlendBox(PanelImage &dst, const PanelImage &src, int32_t nAlpha, int32_t dx, int32_t dy,
              int32_t sx, int32_t sy, int32_t w, int32_t h);
