// The main window's procedure without a toolkit: the commands, the panel's
// element actions, the busy rules and shutdown. The toolkit's window turns its
// events into the On* calls below and serves MainWindowHooks; everything else
// arrives as loop messages through MainWindowProc.
#pragma once

#include <cstdint>

#include "player/ui/dialogs/dialog_commands.h"
#include "player/ui/panel_input.h"

class PopupMenu;

constexpr uint32_t kWmCommand = 0x0111; // WM_COMMAND: wParam is the command id

// What the procedure asks of the window; null entries do nothing.
struct MainWindowHooks {
  void (*pfnDestroy)(); // close the window; shutdown follows
  void (*pfnRepaint)(); // show imgWindow afresh
  void (*pfnSetRect)(int32_t x, int32_t y, int32_t w, int32_t h); // top-left and size
  void (*pfnGetPos)(int32_t *px, int32_t *py);                    // the window's top-left
  void (*pfnDesktop)(int32_t *pRight, int32_t *pBottom);          // the desktop's far edges
  void (*pfnRaise)();                                             // bring the window forward
  void (*pfnSleepMs)(int32_t nMs);                                // the screen slide's frame pause
};
extern MainWindowHooks WindowHooks;
extern DialogCommandHooks DialogHooks;
extern PopupMenu *pUnitMenu; // the unit menu shown by a slot's first button

// Handlers running below the main loop that a close must not pull buffers or
// units from under: playback starts and stops, refills, dialogs, unit SysSig.
extern int32_t nBusyDepth;
// 1 when the program may close now: nothing long runs and no recording.
int32_t CanClose();

// Loop messages: UM_INIT, UM_REDRAW, MM_WOM_DONE, kWmCommand.
int32_t MainWindowProc(uint32_t nMessage, uintptr_t wParam, intptr_t lParam);

// The window's creation: the command-line song (when szCmdFile is not empty),
// the saved placement clamped to the desktop, the panel images. Settings are
// loaded before. Returns 0 when the screen image cannot be made.
int32_t MainWindowCreate(const char *szCmdFile);
// Shutdown in order: placement saved, playback stopped, buffers and effect
// lines freed, song freed, units unbound, loop told to quit.
void MainWindowDestroy();

// Window events. (x, y) client point, (sx, sy) the same on the screen.
void OnLeftDown(int32_t x, int32_t y, int32_t sx, int32_t sy);
void OnMouseMove(int32_t sx, int32_t sy);
void OnLeftUp(int32_t x, int32_t y);
void OnRightDown(int32_t x, int32_t y, int32_t sx, int32_t sy);
void OnRightUp(int32_t bShift);
void OnKeyDown(PanelKey key);
void OnFocus(int32_t bFocus);
void OnFileDropped(const char *szPath);

// The screen slide: the Type2 strip through the screen, 46 frames 30 ms apart.
void PlayScreenSlide();
// Places the window for bSizeGeometry at (x, y), pulled back inside the
// desktop's right and bottom edges (negative positions stay).
void PlaceWindow(int32_t x, int32_t y);
// The slot row's element actions and the channel lamp's, for element code c.
void RunElementAction(int32_t c);
