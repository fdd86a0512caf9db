#include "platform/foundation/RunLoop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

namespace glowsnap {
namespace {

TEST(RunLoop, EmptyModeFinishesAtOnce) {
  EXPECT_EQ(RunLoop::current().runInMode("nothing-here", 10.0, false), RunLoop::RunResult::Finished);
}

TEST(RunLoop, TimersFireInOrderOfDueTimeAndOnlyInTheirMode) {
  auto& loop = RunLoop::current();
  std::vector<int> order;
  loop.addTimer(0.02, 0, [&] { order.push_back(2); }, "A");
  loop.addTimer(0.0, 0, [&] { order.push_back(1); }, "A");
  auto other = loop.addTimer(0.0, 0, [&] { order.push_back(99); }, "B");
  while (loop.runInMode("A", 1.0, false) != RunLoop::RunResult::Finished) {
  }
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  loop.removeTimer(other);
  EXPECT_EQ(loop.runInMode("B", 0.05, false), RunLoop::RunResult::Finished);
}

TEST(RunLoop, RepeatingTimerCanRemoveItself) {
  auto& loop = RunLoop::current();
  int count = 0;
  RunLoop::Handle h = 0;
  h = loop.addTimer(0.0, 0.001, [&] {
    if (++count == 3) loop.removeTimer(h);
  }, "R");
  while (loop.runInMode("R", 1.0, false) != RunLoop::RunResult::Finished) {
  }
  EXPECT_EQ(count, 3);
}

TEST(RunLoop, ReturnAfterSourceHandledAndTimeOut) {
  auto& loop = RunLoop::current();
  int fired = 0;
  loop.addTimer(0.0, 0, [&] { ++fired; }, "S");
  loop.addTimer(0.0, 0, [&] { ++fired; }, "S");
  auto keep = loop.addTimer(100.0, 0, [] {}, "S");
  EXPECT_EQ(loop.runInMode("S", 1.0, true), RunLoop::RunResult::HandledSource);
  EXPECT_GE(fired, 1);
  loop.runInMode("S", 0.0, false);
  EXPECT_EQ(fired, 2);
  EXPECT_EQ(loop.runInMode("S", 0.01, false), RunLoop::RunResult::TimedOut);
  loop.removeTimer(keep);
}

TEST(RunLoop, FdSourceSeesReadableData) {
  auto& loop = RunLoop::current();
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::string got;
  RunLoop::Handle h = loop.addFdSource(fds[0], RunLoop::Readable, [&](unsigned ev) {
    EXPECT_TRUE(ev & RunLoop::Readable);
    char buf[16];
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
  }, "F");
  std::thread writer([&] { ASSERT_EQ(::write(fds[1], "hi", 2), 2); });
  EXPECT_EQ(loop.runInMode("F", 5.0, true), RunLoop::RunResult::HandledSource);
  writer.join();
  EXPECT_EQ(got, "hi");
  loop.removeFdSource(h);
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(RunLoop, PerformFromOtherThreadsWakesTheLoopAndKeepsOrderPerThread) {
  auto& loop = RunLoop::current();
  std::vector<int> seen;
  constexpr int kThreads = 4, kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) loop.perform([&seen, t, i] { seen.push_back(t * 1000 + i); }, "P");
    });
  for (auto& th : threads) th.join();
  while (loop.runInMode("P", 1.0, false) != RunLoop::RunResult::Finished) {
  }
  ASSERT_EQ(seen.size(), static_cast<size_t>(kThreads * kEach));
  std::vector<int> last(kThreads, -1);
  for (int v : seen) {
    EXPECT_GT(v % 1000, last[v / 1000]);
    last[v / 1000] = v % 1000;
  }
}

TEST(RunLoop, CommonModesServeDefaultAndMarkedModesOnly) {
  auto& loop = RunLoop::current();
  int n = 0;
  loop.perform([&] { ++n; }, RunLoop::kCommonModes);
  EXPECT_EQ(loop.runInMode("unmarked", 0.0, false), RunLoop::RunResult::Finished);
  EXPECT_EQ(n, 0);
  loop.addCommonMode("marked");
  loop.runInMode("marked", 0.0, false);
  EXPECT_EQ(n, 1);
  loop.perform([&] { ++n; }, RunLoop::kCommonModes);
  loop.runInMode(RunLoop::kDefaultMode, 0.0, false);
  EXPECT_EQ(n, 2);
}

TEST(RunLoop, StopFromAnotherThreadEndsRun) {
  auto& loop = RunLoop::current();
  auto keep = loop.addTimer(1000.0, 0, [] {});
  std::thread stopper([&] { loop.stop(); });
  loop.run();  // returns only because of stop()
  stopper.join();
  loop.removeTimer(keep);
}

TEST(RunLoop, EachThreadHasItsOwnLoopAndMainIsShared) {
  RunLoop* mine = &RunLoop::current();
  RunLoop* theirs = nullptr;
  RunLoop* theirMain = nullptr;
  bool theyAreMain = true;
  std::thread t([&] {
    theirs = &RunLoop::current();
    theirMain = &RunLoop::main();
    theyAreMain = isMainThread();
  });
  t.join();
  EXPECT_TRUE(isMainThread());
  EXPECT_FALSE(theyAreMain);
  EXPECT_NE(mine, theirs);
  EXPECT_EQ(mine, theirMain);
  EXPECT_EQ(&RunLoop::main(), mine);
}

TEST(PerformOnMainThread, WaitingWorkerBlocksUntilMainLoopRanIt) {
  std::atomic<bool> ran{false};
  std::atomic<bool> workerDone{false};
  std::thread worker([&] {
    performOnMainThread([&] {
      EXPECT_TRUE(isMainThread());
      ran = true;
    }, true);
    EXPECT_TRUE(ran.load());  // the worker waited for it
    workerDone = true;
  });
  while (!workerDone.load()) RunLoop::main().runInMode(RunLoop::kDefaultMode, 0.1, true);
  worker.join();
  EXPECT_TRUE(ran.load());
}

TEST(PerformOnMainThread, OnTheMainThreadWithWaitRunsAtOnce) {
  bool ran = false;
  performOnMainThread([&] { ran = true; }, true);
  EXPECT_TRUE(ran);
  bool later = false;
  performOnMainThread([&] { later = true; }, false);
  EXPECT_FALSE(later);
  RunLoop::main().runInMode(RunLoop::kDefaultMode, 0.0, false);
  EXPECT_TRUE(later);
}

TEST(RunLoop, ExternalDriverSeesWorkThroughTheDescriptor) {
  auto& loop = RunLoop::main();
  int ep = loop.descriptorForMode(RunLoop::kDefaultMode);
  ASSERT_GE(ep, 0);
  bool ran = false;
  std::thread t([&] { loop.perform([&] { ran = true; }); });
  t.join();
  pollfd p{ep, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  EXPECT_TRUE(loop.processPending(RunLoop::kDefaultMode));
  EXPECT_TRUE(ran);
  // Drained: nothing more to see.
  p.revents = 0;
  EXPECT_EQ(::poll(&p, 1, 0), 0);
  auto timer = loop.addTimer(0.5, 0, [] {});
  auto s = loop.secondsUntilNextTimer(RunLoop::kDefaultMode);
  ASSERT_TRUE(s.has_value());
  EXPECT_LE(*s, 0.5);
  loop.removeTimer(timer);
}

TEST(RunLoop, ExternalDriverRunsWorkQueuedWhileItServedSources) {
  auto& loop = RunLoop::main();
  int ep = loop.descriptorForMode(RunLoop::kDefaultMode);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  bool queuedRan = false;
  // A source whose handler queues more work, as a notification handler that
  // performs something does: the driver must not lose it.
  auto h = loop.addFdSource(fds[0], RunLoop::Readable, [&](unsigned) {
    char c;
    ASSERT_EQ(::read(fds[0], &c, 1), 1);
    std::thread([&] { loop.perform([&] { queuedRan = true; }); }).join();
  });
  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  loop.processPending(RunLoop::kDefaultMode);
  if (!queuedRan) {
    pollfd p{ep, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1) << "queued work left without a wake-up";
    loop.processPending(RunLoop::kDefaultMode);
  }
  EXPECT_TRUE(queuedRan);
  loop.removeFdSource(h);
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace glowsnap
