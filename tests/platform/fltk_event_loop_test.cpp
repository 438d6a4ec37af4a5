// The window program's event loop on a real display: posts from another
// thread wake it, pumping runs FLTK's own events too, handlers may pump and
// wait, a full queue refuses instead of blocking, and the accelerator hook
// sees only the main loop's key presses.
#include "platform/fltk_event_loop.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kMsgA = kWmUser + 1;
constexpr uint32_t kMsgB = kWmUser + 2;

// What the handlers saw, and what the test asks of them.
struct Log {
  std::vector<std::string> aSteps;
  std::thread::id idHandler;
  int32_t nCount = 0;
  int32_t nQuitAt = 0;
};
Log gLog;
FltkEventLoop *gLoop = nullptr;

class FltkEventLoopTest : public ::testing::Test {
protected:
  void SetUp() override {
    gLog = Log{};
    gLoop = &loop;
    pPrevious = SetEventLoop(&loop);
    pPreviousHandler = SetMessageHandler(nullptr);
  }
  void TearDown() override {
    SetMessageHandler(pPreviousHandler);
    SetEventLoop(pPrevious);
    gLoop = nullptr;
  }
  FltkEventLoop loop;
  EventLoop *pPrevious = nullptr;
  PfnMessageHandler pPreviousHandler = nullptr;
};

TEST_F(FltkEventLoopTest, PostFromAnotherThreadWakesRun) {
  SetMessageHandler([](uint32_t nMessage, uintptr_t wParam, intptr_t) -> int32_t {
    gLog.idHandler = std::this_thread::get_id();
    if (nMessage == kMsgA)
      gLoop->PostQuit(static_cast<int32_t>(wParam));
    return 0;
  });
  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    PostLoopMessage(kMsgA, 42, 0);
  });
  EXPECT_EQ(loop.Run(), 42);
  poster.join();
  EXPECT_EQ(gLog.idHandler, std::this_thread::get_id());
}

TEST_F(FltkEventLoopTest, PumpOneDispatchesAndRunsFltkEvents) {
  SetMessageHandler(
      [](uint32_t, uintptr_t wParam, intptr_t) -> int32_t { return static_cast<int32_t>(wParam); });
  static int32_t bTimedOut;
  bTimedOut = 0;
  Fl::add_timeout(0.0, [](void *) { bTimedOut = 1; });
  loop.Post(kMsgA, 7, 0);
  EXPECT_EQ(loop.PumpOne(), 7);
  EXPECT_EQ(bTimedOut, 1);
  EXPECT_EQ(loop.PumpOne(), 0); // nothing left
}

TEST_F(FltkEventLoopTest, PumpOneRedrawsAWindow) {
  struct Counted : Fl_Window {
    Counted() : Fl_Window(40, 30) {}
    void draw() override {
      nDrawn++;
      Fl_Window::draw();
    }
    int nDrawn = 0;
  } window;
  window.show();
  while (!window.visible_r() || window.damage()) // mapped and first drawn
    Fl::wait(0.05);
  int nBefore = window.nDrawn;
  window.redraw();
  loop.PumpOne();
  EXPECT_GT(window.nDrawn, nBefore);
  window.hide();
}

TEST_F(FltkEventLoopTest, AHandlerMayPump) {
  SetMessageHandler([](uint32_t nMessage, uintptr_t, intptr_t) -> int32_t {
    if (nMessage == kMsgA) {
      gLog.aSteps.push_back("A begins");
      int32_t nInner = PumpOneMessage();
      gLog.aSteps.push_back("A pumped " + std::to_string(nInner));
      return 1;
    }
    gLog.aSteps.push_back("B");
    return 5;
  });
  loop.Post(kMsgA, 0, 0);
  loop.Post(kMsgB, 0, 0);
  EXPECT_EQ(loop.PumpOne(), 1);
  EXPECT_EQ(gLog.aSteps, (std::vector<std::string>{"A begins", "B", "A pumped 5"}));
}

// A modal dialog's loop inside a handler (a unit's settings dialog while a
// song plays) still gets the messages queued behind the one it runs in.
TEST_F(FltkEventLoopTest, AWaitingHandlerGetsTheMessagesBehindIt) {
  SetMessageHandler([](uint32_t nMessage, uintptr_t, intptr_t) -> int32_t {
    if (nMessage == kMsgA) {
      auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (gLog.nCount == 0 && std::chrono::steady_clock::now() < tEnd)
        Fl::wait(0.5);
      gLoop->PostQuit(gLog.nCount);
    } else {
      gLog.nCount++;
    }
    return 0;
  });
  loop.Post(kMsgA, 0, 0);
  loop.Post(kMsgB, 0, 0);
  EXPECT_EQ(loop.Run(), 1);
}

TEST_F(FltkEventLoopTest, AFullQueueRefusesAndDrains) {
  SetMessageHandler([](uint32_t, uintptr_t wParam, intptr_t) -> int32_t {
    if (static_cast<int32_t>(wParam) != gLog.nCount)
      gLog.aSteps.push_back("out of order at " + std::to_string(gLog.nCount));
    if (++gLog.nCount == gLog.nQuitAt)
      gLoop->PostQuit(0);
    return 0;
  });
  std::thread poster([] {
    int32_t n = 0;
    while (gLoop->Post(kMsgA, static_cast<uintptr_t>(n), 0))
      n++;
    gLog.nQuitAt = n;
  });
  poster.join(); // returns although nobody drains: posting never blocks
  EXPECT_EQ(gLog.nQuitAt, static_cast<int32_t>(MessageQueue::kCapacity));
  EXPECT_EQ(loop.Run(), 0);
  EXPECT_EQ(gLog.nCount, gLog.nQuitAt);
  EXPECT_TRUE(gLog.aSteps.empty()) << gLog.aSteps[0];
}

TEST_F(FltkEventLoopTest, WaitEndsOnAPostAndLeavesTheMessage) {
  SetMessageHandler([](uint32_t, uintptr_t, intptr_t) -> int32_t { return 9; });
  EXPECT_EQ(loop.Wait(20), 0); // nothing came
  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    PostLoopMessage(kMsgA, 0, 0);
  });
  EXPECT_EQ(loop.Wait(10000), 1);
  poster.join();
  EXPECT_EQ(loop.PumpOne(), 9);
}

// Key presses the main loop takes go to the hook first; one that arrives
// while a handler runs (pumping, a modal dialog) does not.
TEST_F(FltkEventLoopTest, AcceleratorsOnlyInTheMainLoop) {
  static Fl_Window *pWindow;
  Fl_Window window(40, 30);
  window.end();
  pWindow = &window;
  window.show();
  loop.SetAcceleratorHook([](int nEvent) -> int32_t {
    gLog.aSteps.push_back(nEvent == FL_KEYDOWN ? "accelerator" : "other");
    return 1;
  });
  SetMessageHandler([](uint32_t, uintptr_t, intptr_t) -> int32_t {
    Fl::handle(FL_KEYDOWN, pWindow); // inside a handler: not offered
    gLoop->PostQuit(0);
    return 0;
  });
  Fl::add_timeout(0.0, [](void *) {
    Fl::handle(FL_KEYDOWN, pWindow); // from the main loop's wait: offered
    gLoop->Post(kMsgA, 0, 0);
  });
  EXPECT_EQ(loop.Run(), 0);
  EXPECT_EQ(gLog.aSteps, std::vector<std::string>{"accelerator"});
  window.hide();
}

} // namespace
