// The plain event loop: order, results, the sticky quit request, and posting
// from other threads while the loop thread waits and dispatches.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/event_loop.h"

namespace {

std::vector<LoopMessage> gSeen;

int32_t Record(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) {
  gSeen.push_back({nMessage, wParam, lParam});
  return static_cast<int32_t>(nMessage + wParam);
}

class EventLoopTest : public ::testing::Test {
protected:
  void SetUp() override {
    gSeen.clear();
    SetEventLoop(&loop);
    SetMessageHandler(Record);
  }
  void TearDown() override {
    SetMessageHandler(nullptr);
    SetEventLoop(nullptr);
  }
  PlainEventLoop loop;
};

TEST_F(EventLoopTest, PumpDispatchesInOrderAndReturnsTheResult) {
  EXPECT_EQ(PumpOneMessage(), 0); // nothing waiting
  EXPECT_TRUE(gSeen.empty());
  PostLoopMessage(kWmUser + 1, 10, -1);
  PostLoopMessage(kWmUser + 2, 20, -2);
  EXPECT_EQ(PumpOneMessage(), static_cast<int32_t>(kWmUser) + 11);
  EXPECT_EQ(PumpOneMessage(), static_cast<int32_t>(kWmUser) + 22);
  EXPECT_EQ(PumpOneMessage(), 0);
  ASSERT_EQ(gSeen.size(), 2u);
  EXPECT_EQ(gSeen[1].lParam, -2);
}

TEST_F(EventLoopTest, QuitIsNotEatenByALongOperation) {
  PostLoopMessage(kWmUser, 1, 0);
  loop.PostQuit(7);
  // A long operation pumping messages takes the message but not the quit.
  EXPECT_NE(PumpOneMessage(), 0);
  EXPECT_EQ(PumpOneMessage(), 0);
  EXPECT_EQ(loop.QuitRequested(), 1);
  EXPECT_EQ(loop.Run(), 7);
  loop.ClearQuit();
  EXPECT_EQ(loop.QuitRequested(), 0);
}

TEST_F(EventLoopTest, FullQueueRefusesInsteadOfBlocking) {
  uint32_t n = 0;
  while (PostLoopMessage(kWmUser, n, 0))
    n++;
  EXPECT_EQ(n, MessageQueue::kCapacity);
  EXPECT_NE(PumpOneMessage(), 0);
  EXPECT_EQ(PostLoopMessage(kWmUser, n, 0), 1); // room again
  while (PumpOneMessage()) {
  }
  EXPECT_EQ(gSeen.size(), static_cast<size_t>(MessageQueue::kCapacity) + 1);
  for (size_t i = 0; i < gSeen.size(); i++)
    EXPECT_EQ(gSeen[i].wParam, i);
}

// The reserved wake-up is never refused: it waits beside a full queue, wakes
// the loop, and comes once, before the queued messages.
TEST_F(EventLoopTest, ReservedWakeUpBesideAFullQueue) {
  while (PostLoopMessage(kWmUser, 1, 0)) {
  }
  loop.PostReserved(kWmUser + 9);
  loop.PostReserved(kWmUser + 9);
  EXPECT_EQ(loop.Wait(0), 1);
  EXPECT_EQ(PumpOneMessage(), static_cast<int32_t>(kWmUser + 9));
  while (PumpOneMessage()) {
  }
  EXPECT_EQ(gSeen.size(), static_cast<size_t>(MessageQueue::kCapacity) + 1);
  EXPECT_EQ(gSeen[0].lParam, 0);
}

// A window toolkit gets its turn in every pump, with or without a message, so
// the window stays alive while a long operation pumps.
TEST_F(EventLoopTest, PumpGivesTheToolkitATurnEachTime) {
  struct ToolkitLoop : PlainEventLoop {
    int32_t nTurns = 0;
    void PumpToolkit() override { nTurns++; }
  } toolkit;
  SetEventLoop(&toolkit);
  EXPECT_EQ(PumpOneMessage(), 0);
  PostLoopMessage(kWmUser, 1, 0);
  EXPECT_NE(PumpOneMessage(), 0);
  EXPECT_EQ(toolkit.nTurns, 2);
  EXPECT_EQ(gSeen.size(), 1u);
  SetEventLoop(&loop);
}

TEST_F(EventLoopTest, WaitTimesOutAndWakesOnPost) {
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(loop.Wait(30), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(30));
  std::thread poster([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    PostLoopMessage(kWmUser, 5, 0);
  });
  EXPECT_EQ(loop.Wait(-1), 1);
  poster.join();
  EXPECT_NE(PumpOneMessage(), 0);
}

// Several threads post while this one runs the loop: every message arrives
// once, each poster's messages in its order, and the payloads are intact.
TEST_F(EventLoopTest, PostersOnOtherThreads) {
  constexpr int kThreads = 3, kEach = 20000;
  constexpr uint32_t kEnd = kWmUser + 99;
  std::atomic<int> nDone{0};
  static std::vector<int64_t> anNext;
  anNext.assign(kThreads, 0);
  static int64_t nBad = 0;
  nBad = 0;
  SetMessageHandler([](uint32_t nMessage, uintptr_t wParam, intptr_t lParam) -> int32_t {
    if (nMessage == kEnd) {
      GetEventLoop()->PostQuit(0);
      return 0;
    }
    int32_t t = static_cast<int32_t>(nMessage - kWmUser);
    if (static_cast<intptr_t>(wParam) != anNext[t] || lParam != -static_cast<intptr_t>(wParam))
      nBad++;
    anNext[t] = static_cast<int64_t>(wParam) + 1;
    return 1;
  });
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; t++)
    posters.emplace_back([t, &nDone] {
      for (int i = 0; i < kEach; i++)
        while (!PostLoopMessage(kWmUser + t, static_cast<uintptr_t>(i), -static_cast<intptr_t>(i)))
          std::this_thread::yield(); // full: the loop thread is behind
      if (++nDone == kThreads)
        PostLoopMessage(kEnd, 0, 0);
    });
  EXPECT_EQ(loop.Run(), 0);
  for (std::thread &th : posters)
    th.join();
  EXPECT_EQ(nBad, 0);
  for (int t = 0; t < kThreads; t++)
    EXPECT_EQ(anNext[t], kEach);
}

} // namespace
