// The window program's event loop: the plain loop's queue, posts and quit
// request, its wake-up descriptor watched by FLTK, so that one Fl::wait
// sleeps for both window events and posts from the audio thread.
#pragma once

#include "platform/event_loop.h"

// Offered every key press the main loop takes from the window system before
// any widget sees it (so Space works while a modeless dialog has the focus);
// returns 1 when it took the key. The argument is FLTK's event number; the
// key is in Fl::event_key and Fl::event_state. Key presses handled inside a
// handler (PumpOne, a modal dialog's loop) are never offered.
typedef int32_t (*PfnAcceleratorHook)(int nFlEvent);

// Construct and run it on one thread, FLTK's. Queued messages are dispatched
// from every FLTK wait on that thread, one per wake-up: by Run, by PumpOne,
// and by modal dialogs' loops too, so the output ring keeps being refilled
// while a unit's dialog is open, as a modal dialog's loop does elsewhere.
class FltkEventLoop : public PlainEventLoop {
public:
  FltkEventLoop();
  ~FltkEventLoop() override;
  FltkEventLoop(const FltkEventLoop &) = delete;
  FltkEventLoop &operator=(const FltkEventLoop &) = delete;

  // Lets FLTK handle its pending events (Fl::check) and dispatches one
  // queued message; returns that message's result, 0 when none waited.
  int32_t PumpOne() override;
  int32_t Run() override;

  // Installs the main loop's accelerator hook (null: none); returns the
  // previous one.
  PfnAcceleratorHook SetAcceleratorHook(PfnAcceleratorHook pfnHook);

protected:
  // FLTK's wait, which also serves the window system.
  int32_t Sleep(int32_t nWaitMs) override;

private:
  static void OnWakeFd(int nFd, void *pData);
  static int DispatchEvent(int nEvent, class Fl_Window *pWindow);
  int32_t DispatchOne(); // pops and dispatches one message, re-arming the wake-up when more wait

  int32_t nRunDepth;     // Run calls on the stack (loop thread only)
  int32_t nHandlerDepth; // handlers running below the main loop (loop thread only)
  uint32_t nDispatched;  // messages dispatched so far (loop thread only)
  int32_t nLastResult;   // result of the last message dispatched
  int32_t bWaitOnly;     // inside Wait: a wake-up only ends the wait
  PfnAcceleratorHook pfnAccel;
  FltkEventLoop *pPreviousActive; // the loop FLTK's event hook served before this one
};
