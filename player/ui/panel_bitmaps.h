// The thirteen panel bitmaps, each the built-in image or the skin file of the
// same role in the program directory, and the help and emblem images made
// from two of them.
#pragma once

#include <cstdint>

#include "player/ui/panel_image.h"

// In the order the skin files are tried.
enum PanelBitmap : int32_t {
  kBmpWarn,   // 36 x 32: clipping / overload lamps, 4 cells stacked
  kBmpLed,    // 8 x 24: channel and play lamp, idle / lit / muted stacked
  kBmpDigits, // 66 x 9: blank, 0..9, colon side by side
  kBmpLump,   // 21 x 40: slot lamp off / on stacked
  kBmpMeter,  // 264 x 63: meter levels 0..32 side by side
  kBmpPanel,  // 200 x 120: panel top, empty slot row, used slot row
  kBmpType2,  // 600 x 63: the screen slide strip
  kBmpType3,  // 128 x 47: mono-mix emblem
  kBmpMenu1,  // 200 x 20: first button row
  kBmpMenu2,  // 200 x 20: second button row
  kBmpVol,    // 21 x 640: 32 knob cells stacked
  kBmpBar,    // 60 x 16: focus bar off / on stacked
  kBmpHelp,   // 144 x 334: help text
  kPanelBitmapCount
};

extern const char *const aszSkinFile[kPanelBitmapCount]; // "Warn.bmp", ...
extern PanelImage aPanelBitmap[kPanelBitmapCount];
extern PanelImage imgHelp;   // 144 x nHelpHeight, from the help bitmap
extern PanelImage imgEmblem; // 128 x 47, from Type3

// Loads every bitmap: the skin file in szProgramDir where it can be used
// (the panel image also gives the panel colours), else the built-in one; then
// makes the help and emblem images and sets nHelpHeight. Returns 1, or 0 when
// a built-in image is missing from the program.
int32_t LoadPanelBitmaps(const char *szProgramDir);
