// The program's one-thread event loop: the stand-in for the window message
// queue. Every handler runs on the loop's thread; other threads (the sound
// device's audio thread) only post. There is one handler, the main window's
// procedure, set with SetMessageHandler.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

constexpr uint32_t kWmUser = 0x0400; // WM_USER: first private message number

// Handles one dispatched message and returns its result.
typedef int32_t (*PfnMessageHandler)(uint32_t nMessage, uintptr_t wParam, intptr_t lParam);

struct LoopMessage {
  uint32_t nMessage;
  uintptr_t wParam;
  intptr_t lParam;
};

// Bounded lock-free queue, many posters and one reader (Vyukov's cell
// sequence scheme). Push never waits for anyone: a poster that is preempted
// between claiming and filling its cell delays only the reader. Push and Pop
// are async-signal-safe.
class MessageQueue {
public:
  static constexpr uint32_t kCapacity = 1024; // power of two

  MessageQueue();
  // Returns 1, or 0 when the queue is full (the message is dropped).
  int32_t Push(const LoopMessage &msg);
  // Sets the one reserved slot, which no full queue can refuse: Pop hands out
  // (nMessage, 0, 0) once, before the queued messages. Setting it again before
  // then changes nothing. Async-signal-safe.
  void PushReserved(uint32_t nMessage);
  // Takes the reserved message if set, else the oldest; 0 when none is ready.
  int32_t Pop(LoopMessage &msg);
  int32_t Empty() const;

private:
  struct Cell {
    std::atomic<size_t> nSeq; // == position: free for that push; position + 1: filled
    LoopMessage msg;
  };
  Cell aCells[kCapacity];
  std::atomic<size_t> nPushPos;       // next position a poster claims
  size_t nPopPos;                     // next position the reader takes (reader only)
  std::atomic<uint32_t> nReserved{0}; // message of the reserved slot; 0 when not set
};

class EventLoop {
public:
  virtual ~EventLoop() = default;
  // Queues a message for the loop's thread. Any thread and a signal handler
  // may call it; it never blocks. Returns 1, or 0 when the queue is full.
  virtual int32_t Post(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) = 0;
  // The loop's one reserved wake-up, for a message that must not be lost when
  // the queue is full and whose content its receiver keeps elsewhere (the
  // sound device's per-buffer done flags): sets it and wakes the loop, which
  // dispatches (nMessage, 0, 0) once, before its queued messages. Setting it
  // again before then changes nothing. Any thread; never blocks.
  virtual void PostReserved(uint32_t nMessage) = 0;
  // One turn of the loop for code that runs long on the loop's thread (the
  // recording loop, the playback refill): gives the window toolkit one turn at
  // its own pending events without waiting (input, repaints, timers: FLTK's
  // Fl::check), then dispatches one waiting message and returns the handler's
  // result; 0 when no message waited. Without the toolkit's turn the window
  // would freeze while such a loop runs. Handlers may call it again (nested).
  // The quit request is not a message and is never taken here.
  virtual int32_t PumpOne() = 0;
  // Blocks until a message waits, quit is requested or nTimeoutMs passes
  // (-1: no limit); a signal ends the wait early. Returns 1 when one waits.
  virtual int32_t Wait(int32_t nTimeoutMs) = 0;
  // Dispatches messages until quit is requested; returns the quit code.
  virtual int32_t Run() = 0;
  // Asks Run to end once the message being handled returns (PostQuitMessage).
  // The request stays set, so a long operation pumping messages cannot eat it.
  virtual void PostQuit(int32_t nCode) = 0;
  virtual int32_t QuitRequested() const = 0;
  // Forgets a quit request (a new run of the loop, tests).
  virtual void ClearQuit() = 0;
};

// The plain loop for the terminal tool and the tests: the queue above and an
// eventfd that wakes the waiting thread. A window toolkit's loop implements the
// same interface with its own wake-up (FLTK: Fl::awake after the push) and
// installs itself with SetEventLoop.
class PlainEventLoop : public EventLoop {
public:
  PlainEventLoop();
  ~PlainEventLoop() override;
  int32_t Post(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) override;
  void PostReserved(uint32_t nMessage) override;
  int32_t PumpOne() override;
  int32_t Wait(int32_t nTimeoutMs) override;
  int32_t Run() override;
  void PostQuit(int32_t nCode) override;
  int32_t QuitRequested() const override;
  void ClearQuit() override;

protected:
  // A toolkit's loop derives from this one and keeps its queue, wake-up
  // descriptor, quit request and Wait: it watches the descriptor in its own
  // wait (FLTK: Fl::add_fd), sleeps in that wait, and takes its turn at its
  // events in PumpOne.
  virtual void Wake();
  virtual void PumpToolkit() {}
  // Sleeps until the wake-up descriptor is written or nWaitMs passes (-1: no
  // limit); 0 when a signal ended the sleep. Wait calls it while no message
  // waits and no quit is requested.
  virtual int32_t Sleep(int32_t nWaitMs);
  // The reserved message if set, else the oldest queued one; 0 when none.
  int32_t TakeMessage(LoopMessage &msg) { return queue.Pop(msg); }
  int32_t QueueEmpty() const { return queue.Empty(); }
  // The eventfd a post writes; -1 when none could be made (then Sleep polls).
  int WakeFd() const { return nWakeFd; }
  int32_t QuitCode() const { return nQuitCode.load(std::memory_order_relaxed); }

private:
  MessageQueue queue;
  int nWakeFd;                // eventfd, non-blocking
  std::atomic<int32_t> bQuit; // quit requested
  std::atomic<int32_t> nQuitCode;
};

// Installs loop as the program's loop (null restores the built-in plain loop);
// returns the previous one.
EventLoop *SetEventLoop(EventLoop *pLoop);
EventLoop *GetEventLoop();
// Sets the procedure every loop dispatches to; returns the previous one.
PfnMessageHandler SetMessageHandler(PfnMessageHandler pfnHandler);
// Calls the handler directly (what a loop does for each message it takes).
int32_t DispatchLoopMessage(const LoopMessage &msg);

// PostMessage to the main window: GetEventLoop()->Post.
int32_t PostLoopMessage(uint32_t nMessage, uintptr_t wParam, intptr_t lParam);
// Dispatches one waiting message; returns the handler's result, 0 if none
// waited. Long loops (recording, the playback refill) call it between blocks.
int32_t PumpOneMessage();
