#include "platform/foundation/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace glowsnap {
namespace {

TEST(NotificationCenter, DeliversByNameAndSenderInOrderAdded) {
  NotificationCenter center;
  int a = 0, b = 0;
  std::vector<std::string> order;
  center.addObserver("progressChanged", nullptr, [&](const Notification& n) {
    order.push_back("first:" + std::any_cast<std::string>(n.object));
  });
  center.addObserver("progressChanged", nullptr, [&](const Notification&) { order.push_back("second"); });
  center.addObserver("searchEnd", &a, [&](const Notification&) { ++a; });
  center.addObserver("", nullptr, [&](const Notification&) { ++b; });
  center.post("progressChanged", std::string("37.500000"));
  center.post("searchEnd", {}, &b);  // other sender: the filtered observer stays quiet
  center.post("searchEnd", {}, &a);
  EXPECT_EQ(order, (std::vector<std::string>{"first:37.500000", "second"}));
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 3);
}

TEST(NotificationCenter, ObserverRemovedDuringPostIsNotCalledAgain) {
  NotificationCenter center;
  int second = 0;
  NotificationCenter::Token t2 = 0;
  center.addObserver("x", nullptr, [&](const Notification&) { center.removeObserver(t2); });
  t2 = center.addObserver("x", nullptr, [&](const Notification&) { ++second; });
  center.post("x");
  center.post("x");
  EXPECT_EQ(second, 0);
}

TEST(NotificationCenter, ObserverMayPostAndAddObservers) {
  NotificationCenter center;
  int inner = 0;
  center.addObserver("outer", nullptr, [&](const Notification&) {
    center.addObserver("inner", nullptr, [&](const Notification&) { ++inner; });
    center.post("inner");
  });
  center.post("outer");
  EXPECT_EQ(inner, 1);
}

TEST(NotificationCenter, PostsFromManyThreadsReachEveryObserver) {
  NotificationCenter center;
  std::atomic<int> count{0};
  for (int i = 0; i < 3; ++i) center.addObserver("t", nullptr, [&](const Notification&) { ++count; });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) center.post("t");
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(count.load(), 3 * 4 * 500);
}

}  // namespace
}  // namespace glowsnap
