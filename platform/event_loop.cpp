#include "platform/event_loop.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

static_assert(std::atomic<size_t>::is_always_lock_free, "posting must not take a lock");
static_assert(std::atomic<int32_t>::is_always_lock_free, "posting must not take a lock");

MessageQueue::MessageQueue() : nPushPos(0), nPopPos(0) {
  for (uint32_t i = 0; i < kCapacity; i++)
    aCells[i].nSeq.store(i, std::memory_order_relaxed);
}

int32_t MessageQueue::Push(const LoopMessage &msg) {
  size_t nPos = nPushPos.load(std::memory_order_relaxed);
  for (;;) {
    Cell &cell = aCells[nPos & (kCapacity - 1)];
    size_t nSeq = cell.nSeq.load(std::memory_order_acquire);
    intptr_t nDiff = static_cast<intptr_t>(nSeq) - static_cast<intptr_t>(nPos);
    if (nDiff == 0) {
      if (nPushPos.compare_exchange_weak(nPos, nPos + 1, std::memory_order_relaxed)) {
        cell.msg = msg;
        cell.nSeq.store(nPos + 1, std::memory_order_release);
        return 1;
      }
    } else if (nDiff < 0) {
      return 0; // the reader has not freed this cell yet: full
    } else {
      nPos = nPushPos.load(std::memory_order_relaxed);
    }
  }
}

void MessageQueue::PushReserved(uint32_t nMessage) {
  nReserved.store(nMessage, std::memory_order_release);
}

int32_t MessageQueue::Pop(LoopMessage &msg) {
  if (nReserved.load(std::memory_order_relaxed) != 0) {
    const uint32_t nMessage = nReserved.exchange(0, std::memory_order_acq_rel);
    if (nMessage != 0) {
      msg = LoopMessage{nMessage, 0, 0};
      return 1;
    }
  }
  Cell &cell = aCells[nPopPos & (kCapacity - 1)];
  if (cell.nSeq.load(std::memory_order_acquire) != nPopPos + 1)
    return 0;
  msg = cell.msg;
  cell.nSeq.store(nPopPos + kCapacity, std::memory_order_release);
  nPopPos++;
  return 1;
}

int32_t MessageQueue::Empty() const {
  if (nReserved.load(std::memory_order_acquire) != 0)
    return 0;
  const Cell &cell = aCells[nPopPos & (kCapacity - 1)];
  return cell.nSeq.load(std::memory_order_acquire) != nPopPos + 1;
}

PlainEventLoop::PlainEventLoop() : bQuit(0), nQuitCode(0) {
  nWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

PlainEventLoop::~PlainEventLoop() {
  if (nWakeFd >= 0)
    close(nWakeFd);
}

// One write per post: a syscall that never blocks (the counter cannot fill).
void PlainEventLoop::Wake() {
  if (nWakeFd < 0)
    return;
  uint64_t nOne = 1;
  ssize_t nDone = write(nWakeFd, &nOne, sizeof nOne);
  (void)nDone;
}

int32_t PlainEventLoop::Post(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) {
  if (!queue.Push(LoopMessage{nMessage, wParam, lParam}))
    return 0;
  Wake();
  return 1;
}

void PlainEventLoop::PostReserved(uint32_t nMessage) {
  queue.PushReserved(nMessage);
  Wake();
}

int32_t PlainEventLoop::PumpOne() {
  PumpToolkit();
  LoopMessage msg;
  if (!TakeMessage(msg))
    return 0;
  return DispatchLoopMessage(msg);
}

int32_t PlainEventLoop::Sleep(int32_t nWaitMs) {
  if (nWakeFd < 0) {
    usleep(1000); // no eventfd: poll the queue
    return 1;
  }
  pollfd pfd{nWakeFd, POLLIN, 0};
  int nReady = poll(&pfd, 1, nWaitMs);
  if (nReady < 0 && errno == EINTR)
    return 0;
  if (nReady > 0) {
    uint64_t nCount;
    ssize_t nRead = read(nWakeFd, &nCount, sizeof nCount);
    (void)nRead;
  }
  return 1;
}

int32_t PlainEventLoop::Wait(int32_t nTimeoutMs) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point tEnd =
      Clock::now() + std::chrono::milliseconds(nTimeoutMs < 0 ? 0 : nTimeoutMs);
  for (;;) {
    if (!queue.Empty())
      return 1;
    if (bQuit.load(std::memory_order_acquire))
      return 0;
    int nWaitMs = -1;
    if (nTimeoutMs >= 0) {
      auto nLeft = std::chrono::ceil<std::chrono::milliseconds>(tEnd - Clock::now()).count();
      if (nLeft <= 0)
        return 0;
      nWaitMs = static_cast<int>(nLeft);
    }
    if (!Sleep(nWaitMs)) // a signal: let the caller look at its flags
      return queue.Empty() ? 0 : 1;
  }
}

int32_t PlainEventLoop::Run() {
  while (!bQuit.load(std::memory_order_acquire)) {
    LoopMessage msg;
    if (TakeMessage(msg))
      DispatchLoopMessage(msg);
    else
      Wait(-1);
  }
  return QuitCode();
}

void PlainEventLoop::PostQuit(int32_t nCode) {
  nQuitCode.store(nCode, std::memory_order_relaxed);
  bQuit.store(1, std::memory_order_release);
  Wake();
}

int32_t PlainEventLoop::QuitRequested() const {
  return bQuit.load(std::memory_order_acquire);
}

void PlainEventLoop::ClearQuit() {
  bQuit.store(0, std::memory_order_release);
}

static PlainEventLoop gPlainLoop;
static EventLoop *gLoop = &gPlainLoop;
static PfnMessageHandler gHandler = nullptr;

EventLoop *SetEventLoop(EventLoop *pLoop) {
  EventLoop *pPrevious = gLoop;
  gLoop = pLoop ? pLoop : &gPlainLoop;
  return pPrevious;
}

EventLoop *GetEventLoop() {
  return gLoop;
}

PfnMessageHandler SetMessageHandler(PfnMessageHandler pfnHandler) {
  PfnMessageHandler pfnPrevious = gHandler;
  gHandler = pfnHandler;
  return pfnPrevious;
}

int32_t DispatchLoopMessage(const LoopMessage &msg) {
  return gHandler ? gHandler(msg.nMessage, msg.wParam, msg.lParam) : 0;
}

int32_t PostLoopMessage(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) {
  return gLoop->Post(nMessage, wParam, lParam);
}

int32_t PumpOneMessage() {
  return gLoop->PumpOne();
}
