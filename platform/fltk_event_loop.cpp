#include "platform/fltk_event_loop.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <chrono>
#include <sys/eventfd.h>
#include <unistd.h>

// The loop FLTK's global event hook serves (one per thread: FLTK's).
static FltkEventLoop *gActiveLoop = nullptr;

// A wait "forever": FLTK's own convention.
static constexpr double kForever = 1e20;

FltkEventLoop::FltkEventLoop()
    : bQuit(0), nQuitCode(0), nRunDepth(0), nHandlerDepth(0), nDispatched(0), nLastResult(0),
      bWaitOnly(0), pfnAccel(nullptr), pPreviousActive(gActiveLoop) {
  nWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (nWakeFd >= 0)
    Fl::add_fd(nWakeFd, FL_READ, OnWakeFd, this);
  gActiveLoop = this;
  Fl::event_dispatch(DispatchEvent);
}

FltkEventLoop::~FltkEventLoop() {
  gActiveLoop = pPreviousActive;
  if (!gActiveLoop)
    Fl::event_dispatch(nullptr);
  if (nWakeFd >= 0) {
    Fl::remove_fd(nWakeFd);
    close(nWakeFd);
  }
}

// A counter write: never blocks, takes no lock, and is async-signal-safe,
// which a pipe write (Fl::awake's) does not promise once the pipe fills.
void FltkEventLoop::Wake() {
  if (nWakeFd < 0)
    return;
  uint64_t nOne = 1;
  ssize_t nDone = write(nWakeFd, &nOne, sizeof nOne);
  (void)nDone;
}

int32_t FltkEventLoop::Post(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) {
  if (!queue.Push(LoopMessage{nMessage, wParam, lParam}))
    return 0;
  Wake();
  return 1;
}

void FltkEventLoop::PostReserved(uint32_t nMessage) {
  queue.PushReserved(nMessage);
  Wake();
}

int32_t FltkEventLoop::DispatchOne() {
  LoopMessage msg;
  if (!queue.Pop(msg))
    return 0;
  // Re-arm before the handler runs: a handler that waits (a modal dialog,
  // a pumping loop) must still see the messages behind this one.
  if (!queue.Empty())
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

int32_t FltkEventLoop::Wait(int32_t nTimeoutMs) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point tEnd =
      Clock::now() + std::chrono::milliseconds(nTimeoutMs < 0 ? 0 : nTimeoutMs);
  for (;;) {
    if (!queue.Empty())
      return 1;
    if (bQuit.load(std::memory_order_acquire))
      return 0;
    double dSeconds = kForever;
    if (nTimeoutMs >= 0) {
      auto nLeft = std::chrono::duration<double>(tEnd - Clock::now()).count();
      if (nLeft <= 0)
        return 0;
      dSeconds = nLeft;
    }
    if (nWakeFd < 0 && dSeconds > 0.001)
      dSeconds = 0.001; // no eventfd: poll the queue
    // Woken by a post, the descriptor must leave the message for this
    // caller, which waits to see it and dispatches it itself.
    int32_t bWasWaiting = bWaitOnly;
    bWaitOnly = 1;
    nHandlerDepth++;
    Fl::wait(dSeconds);
    nHandlerDepth--;
    bWaitOnly = bWasWaiting;
  }
}

int32_t FltkEventLoop::Run() {
  nRunDepth++;
  while (!bQuit.load(std::memory_order_acquire)) {
    if (nWakeFd < 0) {
      DispatchOne();
      Fl::wait(0.001);
    } else {
      Fl::wait(kForever);
    }
  }
  nRunDepth--;
  return nQuitCode.load(std::memory_order_relaxed);
}

void FltkEventLoop::PostQuit(int32_t nCode) {
  nQuitCode.store(nCode, std::memory_order_relaxed);
  bQuit.store(1, std::memory_order_release);
  Wake();
}

int32_t FltkEventLoop::QuitRequested() const {
  return bQuit.load(std::memory_order_acquire);
}

void FltkEventLoop::ClearQuit() {
  bQuit.store(0, std::memory_order_release);
}

PfnAcceleratorHook FltkEventLoop::SetAcceleratorHook(PfnAcceleratorHook pfnHook) {
  PfnAcceleratorHook pfnPrevious = pfnAccel;
  pfnAccel = pfnHook;
  return pfnPrevious;
}
