// The fast traversal against the plain one: for every filter, every kind of
// size and photo, the same output bytes and the same notifications in the
// same order, delivered on the main thread. Also the thread pool it runs on.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/PixelBuffer.h"
#include "engine/PostProcess.h"
#include "engine/ThreadPool.h"
#include "filters/FilterCatalogue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "support/EngineRun.h"
#include "support/ImageCompare.h"
#include "support/TestImages.h"

#if defined(__SANITIZE_THREAD__)
#define GLOWSNAP_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define GLOWSNAP_UNDER_TSAN 1
#endif
#endif

namespace glowsnap {
namespace {

using test::runFilterOnWorker;

const std::vector<std::string>& allFilterNames() {
  static const std::vector<std::string> names = [] {
    FilterCatalogue catalogue;
    std::vector<std::string> all;
    for (const auto& f : catalogue.filters()) all.push_back(f->get_name());
    for (const auto& f : catalogue.libraryFilters()) all.push_back(f->get_name());
    return all;
  }();
  return names;
}

// Runs the filter of that name over photo in both traversals on a worker
// thread and expects identical bytes and notifications.
void expectTraversalsAgree(const std::string& name, const ImageRef& photo) {
  FilterCatalogue catalogue;
  PostProcess* filter = catalogue.findAnyFilter(name);
  ASSERT_NE(filter, nullptr) << name;
  filter->set_max_res(2048);

  filter->set_traversal(Traversal::Plain);
  const test::EngineRunRecord plain = runFilterOnWorker(*filter, photo);
  const int plainPercent = filter->get_complete_precent();
  filter->set_traversal(Traversal::Fast);
  const test::EngineRunRecord fast = runFilterOnWorker(*filter, photo);

  ASSERT_TRUE(plain.processReturned) << name;
  ASSERT_TRUE(fast.processReturned) << name;
  ASSERT_TRUE(plain.result && fast.result) << name;
  EXPECT_TRUE(test::imagesEqual(*fast.result, *plain.result))
      << name << " at " << photo->width() << " x " << photo->height();
  EXPECT_EQ(fast.events, plain.events)
      << name << " at " << photo->width() << " x " << photo->height();
  EXPECT_TRUE(fast.allOnMainThread) << name;
  EXPECT_EQ(fast.searchEndCount, 1) << name;
  EXPECT_EQ(filter->get_complete_precent(), plainPercent) << name;
}

struct Size {
  int w, h;
};

// Odd sizes, sizes that are not a multiple of the 60-pixel progress grid, a
// single pixel, a single row and column, a wide and a tall strip.
// Sizes of 3 to 7 pixels have as many columns at the border as inside, for
// the neighbourhoods of radius 1 to 2.5.
const Size kSizes[] = {{1, 1},   {2, 3},   {3, 3},   {5, 4},    {6, 6},    {7, 2},    {61, 37},
                       {121, 1}, {1, 121}, {60, 60}, {181, 59}, {403, 29}, {17, 311}, {239, 181}};

class FastTraversalPerFilter : public ::testing::TestWithParam<std::string> {};

TEST_P(FastTraversalPerFilter, SameBytesAndNotificationsOnPhotosOfEverySize) {
  std::uint32_t seed = 5;
  for (const Size& s : kSizes) {
    expectTraversalsAgree(GetParam(), test::photoLikeImage(s.w, s.h, seed++));
    if (HasFailure()) return;
  }
}

TEST_P(FastTraversalPerFilter, SameBytesOnExtremeAndTranslucentPictures) {
  expectTraversalsAgree(GetParam(), test::extremesImage(97, 64));
  expectTraversalsAgree(GetParam(), test::randomTranslucentImage(64, 97, 9));
  expectTraversalsAgree(GetParam(), test::checkerboardImage(123, 45, 3));
  expectTraversalsAgree(GetParam(), test::solidImage(70, 50, {255, 255, 255, 255}));
}

TEST_P(FastTraversalPerFilter, SameBytesAndNotificationsAtTheLargestResolution) {
#ifdef GLOWSNAP_UNDER_TSAN
  GTEST_SKIP() << "the plain walk of 2048 x 1536 takes minutes under ThreadSanitizer; the "
                  "smaller sizes exercise the same threads";
#else
  expectTraversalsAgree(GetParam(), test::photoLikeImage(2048, 1536, 77));
#endif
}

INSTANTIATE_TEST_SUITE_P(AllFilters, FastTraversalPerFilter, ::testing::ValuesIn(allFilterNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string id;
                           for (char c : info.param)
                             id += (std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
                           return id;
                         });

// One filter, runs of several sizes after one another: nothing a fast run
// works out for its size may leak into the next.
TEST_P(FastTraversalPerFilter, OneFilterRunAtChangingSizesKeepsAgreeing) {
  FilterCatalogue catalogue;
  PostProcess* filter = catalogue.findAnyFilter(GetParam());
  ASSERT_NE(filter, nullptr);
  filter->set_max_res(2048);
  std::uint32_t seed = 40;
  for (const Size& s : {Size{200, 90}, Size{90, 200}, Size{7, 5}, Size{200, 90}}) {
    const ImageRef photo = test::photoLikeImage(s.w, s.h, seed++);
    filter->set_traversal(Traversal::Plain);
    const test::EngineRunRecord plain = runFilterOnWorker(*filter, photo);
    filter->set_traversal(Traversal::Fast);
    const test::EngineRunRecord fast = runFilterOnWorker(*filter, photo);
    ASSERT_TRUE(plain.result && fast.result);
    EXPECT_TRUE(test::imagesEqual(*fast.result, *plain.result)) << s.w << " x " << s.h;
    EXPECT_EQ(fast.events, plain.events) << s.w << " x " << s.h;
  }
}

TEST(FastTraversal, EveryFilterIsCovered) { EXPECT_EQ(allFilterNames().size(), 11u); }

TEST(FastTraversal, RunOnTheMainThreadPostsTheSameSequenceDirectly) {
  FilterCatalogue catalogue;
  PostProcess* filter = catalogue.findAnyFilter("HDR Color+");
  ASSERT_NE(filter, nullptr);
  ImageRef photo = test::photoLikeImage(250, 130, 4);
  std::vector<std::string> seen[2];
  ImageRef results[2];
  for (int i = 0; i < 2; ++i) {
    filter->set_traversal(i == 0 ? Traversal::Plain : Traversal::Fast);
    auto& center = NotificationCenter::defaultCenter();
    auto token = center.addObserver("progressChanged", nullptr, [&](const Notification& n) {
      EXPECT_TRUE(isMainThread());
      seen[i].push_back(std::any_cast<std::string>(n.object));
    });
    filter->prepare(photo);
    EXPECT_TRUE(filter->process());
    center.removeObserver(token);
    results[i] = filter->get_result();
  }
  EXPECT_EQ(seen[1], seen[0]);
  EXPECT_GT(seen[0].size(), 50u);
  ASSERT_TRUE(results[0] && results[1]);
  EXPECT_TRUE(test::imagesEqual(*results[1], *results[0]));
}

TEST(FastTraversal, ObserversSeeProgressWhileTheRunIsGoingAndTheBufferIsFreedAfterIt) {
  FilterCatalogue catalogue;
  PostProcess* filter = catalogue.findAnyFilter("Bloom");
  ASSERT_NE(filter, nullptr);
  filter->set_traversal(Traversal::Fast);
  std::vector<int> percents;
  auto& center = NotificationCenter::defaultCenter();
  auto token = center.addObserver("progressChanged", nullptr, [&](const Notification&) {
    EXPECT_TRUE(PostProcess::is_run_in_progress());
    percents.push_back(filter->get_complete_precent());
  });
  auto rec = runFilterOnWorker(*filter, test::photoLikeImage(300, 200, 2));
  center.removeObserver(token);
  ASSERT_TRUE(rec.processReturned);
  ASSERT_EQ(percents.size(), rec.progress.size());
  // Each notification's whole percent is already in get_complete_precent.
  for (std::size_t i = 1; i < percents.size(); ++i)
    EXPECT_EQ(percents[i], static_cast<int>(std::stof(rec.progress[i])));
  EXPECT_EQ(gp_data_copy, nullptr);
  EXPECT_FALSE(PostProcess::is_run_in_progress());
}

TEST(FastTraversal, ANestedRunDuringSearchEndGivesThePlainBytes) {
  FilterCatalogue catalogue;
  PostProcess* outer = catalogue.findAnyFilter("More Colors");
  PostProcess* inner = catalogue.findAnyFilter("HDR Classic");
  ASSERT_TRUE(outer && inner);
  ImageRef photo = test::photoLikeImage(150, 90, 6);
  inner->set_traversal(Traversal::Plain);
  auto reference = runFilterOnWorker(*inner, photo);
  ASSERT_TRUE(reference.result);

  inner->set_traversal(Traversal::Fast);
  bool started = false;
  auto& center = NotificationCenter::defaultCenter();
  auto token = center.addObserver("searchEnd", nullptr, [&](const Notification&) {
    if (started) return;
    started = true;
    inner->prepare(photo);
    EXPECT_TRUE(inner->process());  // on the main thread, while the outer worker waits
  });
  auto rec = runFilterOnWorker(*outer, photo);
  center.removeObserver(token);
  ASSERT_TRUE(started);
  ASSERT_TRUE(inner->get_result());
  EXPECT_TRUE(test::imagesEqual(*inner->get_result(), *reference.result));
}

TEST(FastTraversal, PixelReadsWithoutABufferAreBlack) {
  // After a run the sizes stay but the buffer is gone; a stray read must
  // neither crash nor read anything.
  std::uint8_t* const savedData = gp_data;
  const int savedWidth = g_width;
  const int savedHeight = g_height;
  gp_data = nullptr;
  g_width = 7;
  g_height = 5;
  for (int y = -1; y <= 5; ++y) {
    for (int x = -1; x <= 7; ++x) {
      const rgb_color c = get_pixel(x, y);
      EXPECT_EQ(c.r, 0.0f);
      EXPECT_EQ(c.g, 0.0f);
      EXPECT_EQ(c.b, 0.0f);
      EXPECT_FALSE(std::signbit(c.r));
    }
  }
  gp_data = savedData;
  g_width = savedWidth;
  g_height = savedHeight;
}

// Opens the engine's two ways of storing results to the test.
class StoreAccess : public PostProcess {
 public:
  using PostProcess::store_pixel;
  using PostProcess::store_pixels;
};

TEST(FastTraversal, StoringManyPixelsAtOnceGivesTheBytesOfStoringEachAlone) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float denormal = std::numeric_limits<float>::denorm_min();
  const std::vector<float> values = {0.0f,
                                     -0.0f,
                                     nan,
                                     -nan,
                                     inf,
                                     -inf,
                                     denormal,
                                     -denormal,
                                     1.0f,
                                     std::nextafter(1.0f, 2.0f),
                                     std::nextafter(1.0f, 0.0f),
                                     0.999f,
                                     1.5f,
                                     -0.2f,
                                     1.0f / 255.0f,
                                     std::nextafter(1.0f / 255.0f, 0.0f),
                                     128.0f / 255.0f,
                                     3e9f,
                                     -3e9f};
  // Every value in every channel and every position of a block of four,
  // with odd lengths so that the tail is stored one by one.
  std::vector<rgb_color> colours;
  for (std::size_t i = 0; i < values.size(); ++i)
    for (std::size_t j = 0; j < values.size(); ++j)
      colours.push_back({values[i], values[j], values[(i + j) % values.size()]});
  for (int n : {1, 3, 4, 7, static_cast<int>(colours.size())}) {
    std::vector<std::uint8_t> in(static_cast<std::size_t>(n) * 4);
    for (std::size_t k = 0; k < in.size(); ++k) in[k] = static_cast<std::uint8_t>(k * 37 + 11);
    std::vector<std::uint8_t> one(in.size(), 0xaa);
    std::vector<std::uint8_t> many(in.size(), 0x55);
    for (int i = 0; i < n; ++i)
      StoreAccess::store_pixel(one.data() + 4 * i, in.data() + 4 * i, colours[i]);
    StoreAccess::store_pixels(many.data(), in.data(), colours.data(), n);
    EXPECT_EQ(many, one) << n;
  }
}

TEST(ThreadPool, EveryWorkerRunsTheBodyOnceAndRunReturnsWhenAllHave) {
  ThreadPool pool(3);
  EXPECT_EQ(pool.concurrency(), 3);
  for (int round = 0; round < 20; ++round) {
    std::mutex mutex;
    std::multiset<int> workers;
    std::set<std::thread::id> threads;
    pool.run([&](int worker) {
      std::lock_guard<std::mutex> lock(mutex);
      workers.insert(worker);
      threads.insert(std::this_thread::get_id());
    });
    EXPECT_EQ(workers, (std::multiset<int>{0, 1, 2}));
    EXPECT_EQ(threads.size(), 3u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 1u);
  }
}

TEST(ThreadPool, SharedWorkIsDoneOnceWhateverTheNumberOfThreads) {
  ThreadPool pool(4);
  std::vector<std::atomic<int>> hits(1000);
  std::atomic<int> next{0};
  pool.run([&](int) {
    for (int i; (i = next.fetch_add(1)) < 1000;) hits[static_cast<std::size_t>(i)].fetch_add(1);
  });
  for (const auto& h : hits) EXPECT_EQ(h.load(), 1);
}

TEST(ThreadPool, ABusyPoolLeavesTheWorkToTheCaller) {
  ThreadPool pool(2);
  std::atomic<int> nestedCalls{0};
  std::atomic<bool> nestedOnCaller{true};
  pool.run([&](int) {
    const auto me = std::this_thread::get_id();
    pool.run([&](int worker) {
      ++nestedCalls;
      if (worker != 0 || std::this_thread::get_id() != me) nestedOnCaller = false;
    });
  });
  EXPECT_EQ(nestedCalls.load(), 2);  // once per outer body, each on its own thread
  EXPECT_TRUE(nestedOnCaller.load());
  ThreadPool single(1);
  int calls = 0;
  single.run([&](int worker) {
    EXPECT_EQ(worker, 0);
    ++calls;
  });
  EXPECT_EQ(calls, 1);
}

TEST(ThreadPool, TheSharedPoolIsSizedToTheMachine) {
  const unsigned hw = std::thread::hardware_concurrency();
  if (std::getenv("GLOWSNAP_ENGINE_THREADS") != nullptr)
    GTEST_SKIP() << "GLOWSNAP_ENGINE_THREADS sets another size";
  EXPECT_EQ(ThreadPool::shared().concurrency(), hw == 0 ? 1 : static_cast<int>(hw));
  EXPECT_EQ(&ThreadPool::shared(), &ThreadPool::shared());
}

}  // namespace
}  // namespace glowsnap
