// Windows bitmap files for the panel: a decoder fed with bytes, and the skin
// loader that opens the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "player/ui/panel_image.h"

// Decodes a BMP file image: 1, 4, 8, 16, 24 and 32 bits per pixel, uncompressed,
// with bit-field masks or (8 bits) run-length coded, bottom-up or top-down, with an OS/2 or a
// Windows information header. Returns 1 with img filled, 0 (img untouched) otherwise.
int32_t DecodeBmp(const uint8_t *pData, size_t nSize, PanelImage &img);

// Takes the skin file szPath in place of a built-in bitmap. 0 when the file
// does not open or is shorter than its 14 + 40 header bytes: the built-in
// stays. Otherwise 1, and img holds the decoded picture, or is blank when the
// headers read but the rest does not decode. With bReadColours (the panel
// image) the panel colours come from row 120 (text) and row 121 (the graph's
// four) when the header's height reaches them; a top-down file's negative
// height never does.
int32_t LoadSkinBitmap(const char *szPath, PanelImage &img, int32_t bReadColours);
