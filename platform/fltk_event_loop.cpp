#include "platform/fltk_event_loop.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <unistd.h>

// The loop FLTK's global event hook serves (one per thread: FLTK's).
static FltkEventLoop *gActiveLoop = nullptr;

// A wait "forever": FLTK's own convention.
static constexpr double kForever = 1e20;

FltkEventLoop::FltkEventLoop()
    : nRunDepth(0), nHandlerDepth(0), nDispatched(0), nLastResult(0), bWaitOnly(0),
      pfnAccel(nullptr), pPreviousActive(gActiveLoop) {
  if (WakeFd() >= 0)
    Fl::add_fd(WakeFd(), FL_READ, OnWakeFd, this);
  gActiveLoop = this;
  Fl::event_dispatch(DispatchEvent);
}

// The descriptor itself is closed by the plain loop's destructor, after this.
FltkEventLoop::~FltkEventLoop() {
  gActiveLoop = pPreviousActive;
  if (!gActiveLoop)
    Fl::event_dispatch(nullptr);
  if (WakeFd() >= 0)
    Fl::remove_fd(WakeFd());
}

int32_t FltkEventLoop::DispatchOne() {
  LoopMessage msg;
  if (!TakeMessage(msg))
    return 0;
  // Re-arm before the handler runs: a handler that waits (a modal dialog,
  // a pumping loop) must still see the messages behind this one.
  if (!QueueEmpty())
    Wake();
  nHandlerDepth++;
  int32_t nResult = DispatchLoopMessage(msg);
  nHandlerDepth--;
  nDispatched++;
  nLastResult = nResult;
  return nResult;
}

void FltkEventLoop::OnWakeFd(int nFd, void *pData) {
  uint64_t nCount;
  ssize_t nRead = read(nFd, &nCount, sizeof nCount);
  (void)nRead;
  FltkEventLoop *pLoop = static_cast<FltkEventLoop *>(pData);
  if (!pLoop->bWaitOnly)
    pLoop->DispatchOne();
}

int FltkEventLoop::DispatchEvent(int nEvent, Fl_Window *pWindow) {
  FltkEventLoop *pLoop = gActiveLoop;
  if (!pLoop)
    return Fl::handle_(nEvent, pWindow);
  // Only the main loop's own key presses: not those a handler's pumping or
  // a modal dialog (or an open popup menu) takes.
  if (nEvent == FL_KEYDOWN && pLoop->pfnAccel && pLoop->nRunDepth > 0 &&
      pLoop->nHandlerDepth == 0 && !Fl::modal() && !Fl::grab()) {
    pLoop->nHandlerDepth++;
    int32_t bTaken = pLoop->pfnAccel(nEvent);
    pLoop->nHandlerDepth--;
    if (bTaken)
      return 1;
  }
  pLoop->nHandlerDepth++;
  int nResult = Fl::handle_(nEvent, pWindow);
  pLoop->nHandlerDepth--;
  return nResult;
}

int32_t FltkEventLoop::PumpOne() {
  uint32_t nBefore = nDispatched;
  nHandlerDepth++;
  Fl::check();
  nHandlerDepth--;
  if (nDispatched != nBefore)
    return nLastResult;
  // The wake-up was taken by a wait further up the stack: take the message here.
  return DispatchOne();
}

int32_t FltkEventLoop::Sleep(int32_t nWaitMs) {
  double dSeconds = nWaitMs < 0 ? kForever : nWaitMs / 1000.0;
  if (WakeFd() < 0 && dSeconds > 0.001)
    dSeconds = 0.001; // no eventfd: poll the queue
  // Woken by a post, the descriptor must leave the message for this
  // caller, which waits to see it and dispatches it itself.
  int32_t bWasWaiting = bWaitOnly;
  bWaitOnly = 1;
  nHandlerDepth++;
  Fl::wait(dSeconds);
  nHandlerDepth--;
  bWaitOnly = bWasWaiting;
  return 1;
}

int32_t FltkEventLoop::Run() {
  nRunDepth++;
  while (!QuitRequested()) {
    if (WakeFd() < 0) {
      DispatchOne();
      Fl::wait(0.001);
    } else {
      Fl::wait(kForever);
    }
  }
  nRunDepth--;
  return QuitCode();
}

PfnAcceleratorHook FltkEventLoop::SetAcceleratorHook(PfnAcceleratorHook pfnHook) {
  PfnAcceleratorHook pfnPrevious = pfnAccel;
  pfnAccel = pfnHook;
  return pfnPrevious;
}
