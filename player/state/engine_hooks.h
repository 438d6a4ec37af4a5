// What the engine's lower layers ask of the layers above them. The player's
// layers include and link one way only (state, units, song, render, output,
// app, ui), so a call that has to run upward goes through one of these
// pointers, set by the layer that owns the callee; a null entry does nothing
// (the terminal tool, tests without a window).
#pragma once

#include <cstdint>

struct EngineHooks {
  // Set by the layer that owns the main window.
  void *hwndOwner;                   // owner of message boxes and unit dialogs; null headless
  void (*pfnInvalidate)(void *hwnd); // the panel repaints
  void (*pfnDragAcceptFiles)(void *hwnd, int32_t bAccept); // dropped files taken or refused
  // Set by the render layer (ConnectRenderHooks).
  void (*pfnPanChanged)(int32_t nChannel); // a channel's pan moved: the 3D taps follow it
  void (*pfnSeekSample)(); // one sample walked by a silent seek: the chorus modulation steps
};
extern EngineHooks Hooks;

// The window calls, doing nothing when no window has set them.
void InvalidateMainWindow();
void DragAcceptMainWindow(int32_t bAccept);
