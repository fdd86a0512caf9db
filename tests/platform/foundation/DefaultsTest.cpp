#include "platform/foundation/Defaults.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

namespace glowsnap {
namespace {

TEST(Defaults, ValuesSurviveAReopen) {
  test::TempDir dir;
  auto file = dir / "sub" / "defaults.json";
  {
    Defaults d(file);
    EXPECT_FALSE(d.hasKey("num_runs"));
    EXPECT_EQ(d.integerForKey("num_runs"), 0);
    d.setInteger(30, "num_runs");
    d.setBool(true, "do_not_show_info");
    d.setString("alice", "natter_username_preference");
    d.setDouble(1.5, "ratio");
    EXPECT_TRUE(d.lastError().empty());
  }
  Defaults d(file);
  EXPECT_EQ(d.integerForKey("num_runs"), 30);
  EXPECT_TRUE(d.boolForKey("do_not_show_info"));
  EXPECT_EQ(d.stringForKey("natter_username_preference"), "alice");
  EXPECT_DOUBLE_EQ(d.doubleForKey("ratio"), 1.5);
  d.removeObject("num_runs");
  Defaults again(file);
  EXPECT_FALSE(again.hasKey("num_runs"));
}

TEST(Defaults, WrongTypesReadAsNothing) {
  test::TempDir dir;
  Defaults d(dir / "defaults.json");
  d.setString("five", "resolution");
  EXPECT_EQ(d.integerForKey("resolution"), 0);
  EXPECT_FALSE(d.boolForKey("resolution"));
  d.setInteger(2, "n");
  EXPECT_EQ(d.stringForKey("n"), std::nullopt);
}

TEST(Defaults, CorruptFileIsKeptAsideAndReported) {
  test::TempDir dir;
  auto file = dir / "defaults.json";
  std::ofstream(file) << "{ \"num_runs\": 3,,, garbage";
  Defaults d(file);
  EXPECT_FALSE(d.lastError().empty());
  EXPECT_NE(d.lastError().find("damaged"), std::string::npos);
  EXPECT_EQ(d.integerForKey("num_runs"), 0);
  auto aside = file;
  aside += ".corrupt";
  EXPECT_TRUE(std::filesystem::exists(aside));
  d.setInteger(1, "num_runs");
  Defaults again(file);
  EXPECT_EQ(again.integerForKey("num_runs"), 1);
}

TEST(Defaults, UnwritableDirectoryIsReportedNotFatal) {
  test::TempDir dir;
  auto blocker = dir / "file";
  std::ofstream(blocker) << "x";
  Defaults d(blocker / "defaults.json");  // parent is a plain file
  d.setInteger(1, "k");
  EXPECT_EQ(d.integerForKey("k"), 1);  // kept in memory
  EXPECT_FALSE(d.synchronize());
  EXPECT_FALSE(d.lastError().empty());
}

TEST(Defaults, ConcurrentWritersLeaveAValidFile) {
  test::TempDir dir;
  auto file = dir / "defaults.json";
  Defaults d(file);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) d.setInteger(i, "key" + std::to_string(t));
    });
  for (auto& th : threads) th.join();
  Defaults again(file);
  EXPECT_TRUE(again.lastError().empty());
  for (int t = 0; t < 4; ++t) EXPECT_EQ(again.integerForKey("key" + std::to_string(t)), 24);
}

}  // namespace
}  // namespace glowsnap
