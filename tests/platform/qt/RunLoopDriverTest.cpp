#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <atomic>
#include <thread>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/qt/RunLoopDriver.h"

namespace glowsnap {
namespace {

// Spins Qt's event loop (not the RunLoop) until done() or a generous cap.
template <typename F>
bool spinUntil(F done) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < 10000)
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  return done();
}

TEST(RunLoopDriver, QtLoopRunsWorkPerformedFromAnotherThread) {
  RunLoopDriver driver;
  std::atomic<bool> ran{false};
  bool onMain = false;
  std::thread worker([&] {
    // Waits until the main thread has run it, as the engine's notifications do.
    performOnMainThread([&] { onMain = isMainThread(); }, true);
    ran = true;
  });
  EXPECT_TRUE(spinUntil([&] { return ran.load(); }));
  worker.join();
  EXPECT_TRUE(onMain);
}

TEST(RunLoopDriver, NotificationsPostedFromAWorkerArriveInOrderOnTheMainThread) {
  RunLoopDriver driver;
  std::vector<std::string> seen;
  auto token = NotificationCenter::defaultCenter().addObserver(
      "driverTest", nullptr, [&](const Notification& n) {
        EXPECT_TRUE(isMainThread());
        seen.push_back(std::any_cast<std::string>(n.object));
      });
  std::thread worker([] {
    for (int i = 0; i < 20; ++i) {
      performOnMainThread(
          [i] { NotificationCenter::defaultCenter().post("driverTest", std::to_string(i)); }, true);
    }
  });
  EXPECT_TRUE(spinUntil([&] { return seen.size() == 20; }));
  worker.join();
  NotificationCenter::defaultCenter().removeObserver(token);
  ASSERT_EQ(seen.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(seen[i], std::to_string(i));
}

TEST(RunLoopDriver, RunLoopTimersFireUnderQt) {
  RunLoopDriver driver;
  int fired = 0;
  RunLoop::main().addTimer(0.01, 0, [&] { ++fired; });
  EXPECT_TRUE(spinUntil([&] { return fired == 1; }));
}

}  // namespace
}  // namespace glowsnap
