// The panel's mouse and key logic without a window: presses, releases, the
// speed, volume, help-scroll and opacity drags, window moving and the size
// modes. Each handler updates the panel state (panel_state.h) and the engine
// fields it drives, and returns what the window must do.
#pragma once

#include <cstdint>

// What a handler asks of the window.
struct PanelEffect {
  int32_t bCapture = 0;        // capture the mouse
  int32_t bReleaseCapture = 0; // release it
  int32_t bRedraw = 0;         // post UM_REDRAW
  int32_t bInvalidate = 0;     // repaint the whole panel
  int32_t nAction = 0;         // element code whose release action runs, 0 = none
  int32_t nCommand = 0;        // command id to post, 0 = none
  int32_t bMove = 0;           // move the window's top-left to (nMoveX, nMoveY)
  int32_t nMoveX = 0;
  int32_t nMoveY = 0;
};

// Keys the panel handles.
enum class PanelKey { Left, Right, Up, Down, Escape };

// nTickStep for a speed drag d pixels right of its anchor: 64..1024, 256 at 0.
int32_t SpeedFromDrag(int32_t d);
// nOutVolume for knob position 0..100: 714 at 0, 127 at 30, 2 at 100.
int32_t VolumeFromPosition(int32_t nPos);
// Last first-row of the help scroll: nHelpHeight - 63, never below 0.
int32_t HelpScrollMax();
// Vol.bmp cell 0..31 of the knob: the volume, or in help mode the scroll.
int32_t KnobCell();

// Size modes 1..4: 200 x 280, 200 x 100, 63 x 100, 63 x 80 (any other mode).
void PanelSize(int32_t nMode, int32_t *pWidth, int32_t *pHeight);
int32_t NextSizeMode(int32_t nMode); // command 171: 4 (or more) wraps to 1
int32_t PrevSizeMode(int32_t nMode); // command 172: 0 (or less) wraps to 4

// (x, y) client point, (sx, sy) the same point on the screen, (wx, wy) the
// window's top-left; nBoundSlots has bit s set when slot s holds a library.
PanelEffect PanelLeftDown(int32_t x, int32_t y, int32_t sx, int32_t sy, int32_t wx, int32_t wy,
                          uint32_t nBoundSlots);
PanelEffect PanelMouseMove(int32_t sx, int32_t sy);
PanelEffect PanelLeftUp(int32_t x, int32_t y);
PanelEffect PanelRightDown(int32_t x, int32_t y, int32_t sx, int32_t sy);
PanelEffect PanelRightUp(int32_t bShift);
// Measure stepping while stopped, and the help screen's keys.
PanelEffect PanelKeyDown(PanelKey key);
