// The run of PostProcess: working size, storing of per-pixel results, the
// pass scheme, progress notifications, failure and the one-run-at-a-time rule.
#include "engine/PostProcess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/PixelBuffer.h"
#include "engine/PostProcessFilter.h"
#include "platform/foundation/NotificationCenter.h"
#include "support/EngineRun.h"
#include "support/ImageCompare.h"
#include "support/TestImages.h"

namespace glowsnap {
namespace {

using test::Argb;
using test::pixelAt;
using test::runFilterOnWorker;

// A test filter whose per-pixel function is given as a lambda.
class LambdaFilter : public PostProcess {
 public:
  using Fn = std::function<rgb_color(int x, int y, int pass)>;
  LambdaFilter(int passes, Fn fn) : passes_(passes), fn_(std::move(fn)) {}
  std::string get_name() const override { return "Lambda"; }
  int get_num_passes() const override { return passes_; }
  rgb_color process_pixel_x(int x, int y, int pass) override { return fn_(x, y, pass); }

 private:
  int passes_;
  Fn fn_;
};

// The same, written for the fast traversal.
class FastLambdaFilter : public PostProcessFilter<FastLambdaFilter> {
 public:
  using Fn = std::function<rgb_color(int x, int y, int pass)>;
  FastLambdaFilter(int passes, Fn fn) : passes_(passes), fn_(std::move(fn)) {}
  std::string get_name() const override { return "Fast lambda"; }
  int get_num_passes() const override { return passes_; }
  rgb_color compute_pixel(int x, int y, int pass) const { return fn_(x, y, pass); }

 private:
  int passes_;
  Fn fn_;
};

// Saves every pixel in pass 0 and gives the saved photo back in pass 1.
class FilterOfSnapshot : public PostProcess {
 public:
  int get_num_passes() const override { return 2; }
  rgb_color process_pixel_x(int x, int y, int pass) override {
    if (pass == 0) {
      copy_data_x(x, y);
      return {0.0f, 0.0f, 0.0f};
    }
    const std::uint8_t* p = gp_data_copy + (static_cast<std::size_t>(y) * g_width + x) * 4;
    return {p[1] * kByteToUnit, p[2] * kByteToUnit, p[3] * kByteToUnit};
  }
};

ImageRef imageFrom(int w, int h, const std::function<Argb(int, int)>& fn) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const Argb p = fn(x, y);
      std::uint8_t* d = &pixels[(static_cast<std::size_t>(y) * w + x) * 4];
      d[0] = p.a;
      d[1] = p.r;
      d[2] = p.g;
      d[3] = p.b;
    }
  }
  return Image::create(w, h, std::move(pixels));
}

TEST(PostProcessBase, DefaultsAndInit) {
  PostProcess filter;
  EXPECT_EQ(filter.get_name(), "Noname");
  EXPECT_EQ(filter.get_num_passes(), 1);
  EXPECT_EQ(filter.max_res(), 800);
  int owner = 0;
  filter.set_max_res(2048);
  EXPECT_EQ(filter.init(&owner), &filter);
  EXPECT_EQ(filter.owner(), &owner);
  EXPECT_EQ(filter.max_res(), 800);
  EXPECT_EQ(filter.get_result(), nullptr);
}

TEST(PostProcessBase, DefaultPixelFunctionDoublesAndClamps) {
  PostProcess filter;
  auto rec = runFilterOnWorker(filter, test::solidImage(4, 3, {255, 100, 127, 128}));
  ASSERT_TRUE(rec.processReturned);
  ASSERT_TRUE(rec.result);
  // 100/255·2 = 0.784 → 200; 127 → 254 (0.99607843·255 truncates); 128 → 1.004 → 255.
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(pixelAt(*rec.result, x, y), (Argb{255, 200, 254, 255}));
}

struct FitCase {
  int w0, h0, maxRes, w, h;
};

class PostProcessFit : public ::testing::TestWithParam<FitCase> {};

TEST_P(PostProcessFit, WorkingSizeIsFittedAndNeverEnlarged) {
  const FitCase c = GetParam();
  PostProcess filter;
  filter.set_max_res(c.maxRes);
  auto rec = runFilterOnWorker(filter, test::solidImage(c.w0, c.h0, {255, 10, 20, 30}));
  ASSERT_TRUE(rec.processReturned);
  ASSERT_TRUE(rec.result);
  EXPECT_EQ(rec.result->width(), c.w);
  EXPECT_EQ(rec.result->height(), c.h);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PostProcessFit,
    ::testing::Values(FitCase{1200, 1600, 800, 600, 800}, FitCase{1600, 1200, 800, 800, 600},
                      FitCase{1000, 1000, 800, 800, 800}, FitCase{1000, 1500, 800, 533, 800},
                      FitCase{640, 480, 800, 640, 480}, FitCase{300, 200, 320, 300, 200},
                      FitCase{333, 1000, 320, 106, 320}));

TEST(PostProcessStore, ClampsAndTruncates) {
  LambdaFilter filter(1, [](int x, int, int) -> rgb_color {
    if (x == 0) return {1.5f, -0.2f, 0.999f};
    if (x == 1) return {0.0f, 1.0f, 0.5f};
    return {1e30f, -1e30f, 254.5f / 255.0f};
  });
  auto rec = runFilterOnWorker(filter, test::solidImage(3, 2, {255, 9, 9, 9}));
  ASSERT_TRUE(rec.result);
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(pixelAt(*rec.result, 0, y), (Argb{255, 255, 0, 254}));
    EXPECT_EQ(pixelAt(*rec.result, 1, y), (Argb{255, 0, 255, 127}));
    EXPECT_EQ(pixelAt(*rec.result, 2, y), (Argb{255, 255, 0, 254}));
  }
}

TEST(PostProcessStore, NotANumberStoresAsZero) {
  LambdaFilter filter(1, [](int, int, int) -> rgb_color {
    return {std::nanf(""), 0.5f, -std::nanf("")};
  });
  auto rec = runFilterOnWorker(filter, test::solidImage(2, 2, {255, 9, 9, 9}));
  ASSERT_TRUE(rec.result);
  EXPECT_EQ(pixelAt(*rec.result, 1, 1), (Argb{255, 0, 127, 0}));
}

TEST(PostProcessPixelBuffer, OutsideTheImageIsBlackAndInsideIsBytesTimesInverse255) {
  std::vector<rgb_color> outside;
  std::vector<rgb_color> inside;
  LambdaFilter filter(1, [&](int x, int y, int) {
    if (x == 0 && y == 0) {
      outside = {get_pixel(-1, 0), get_pixel(0, -1), get_pixel(g_width, 0), get_pixel(0, g_height),
                 get_pixel(-1, -1)};
      inside = {get_pixel(g_width - 1, g_height - 1)};
    }
    return get_pixel(x, y);
  });
  auto rec = runFilterOnWorker(filter, test::solidImage(5, 4, {255, 255, 77, 1}));
  ASSERT_EQ(outside.size(), 5u);
  for (const rgb_color& c : outside) {
    EXPECT_EQ(c.r, 0.0f);
    EXPECT_EQ(c.g, 0.0f);
    EXPECT_EQ(c.b, 0.0f);
  }
  ASSERT_EQ(inside.size(), 1u);
  EXPECT_EQ(inside[0].r, 255.0f * (1.0f / 255.0f));
  EXPECT_EQ(inside[0].g, 77.0f * 0.003921569f);
  EXPECT_EQ(inside[0].b, 1.0f * 0.003921569f);
  // The identity filter gives the photo back byte for byte.
  EXPECT_TRUE(test::imagesEqual(*rec.result, *test::solidImage(5, 4, {255, 255, 77, 1})));
}

TEST(PostProcessPixelBuffer, GlobalsDescribeTheRunAndAreClearedAfterIt) {
  std::int32_t w = 0, h = 0, bypr = 0, bpp = 0, bpc = 0;
  LambdaFilter filter(1, [&](int x, int y, int) {
    w = g_width;
    h = g_height;
    bypr = g_bypr;
    bpp = g_bpp;
    bpc = g_bpc;
    return get_pixel(x, y);
  });
  runFilterOnWorker(filter, test::solidImage(7, 3, {255, 1, 2, 3}));
  EXPECT_EQ(w, 7);
  EXPECT_EQ(h, 3);
  EXPECT_EQ(bypr, 28);
  EXPECT_EQ(bpp, 32);
  EXPECT_EQ(bpc, 8);
  EXPECT_EQ(gp_data_copy, nullptr);
}

TEST(PostProcessPasses, AlphaIsCarriedThroughEveryPass) {
  // Premultiplied translucent pixels; the filter whitens everything.
  ImageRef source = test::randomTranslucentImage(23, 17, 7);
  LambdaFilter filter(3, [](int, int, int) -> rgb_color { return {1.0f, 0.0f, 0.5f}; });
  auto rec = runFilterOnWorker(filter, source);
  ASSERT_TRUE(rec.result);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 23; ++x)
      ASSERT_EQ(pixelAt(*rec.result, x, y).a, pixelAt(*source, x, y).a) << x << "," << y;
}

TEST(PostProcessPasses, SecondPassSeesTheQuantisedOutputOfTheFirstEverywhere) {
  // Pass 0 writes a value that is not a multiple of 1/255; pass 1 copies the
  // right-hand neighbour (not yet visited in pass 1) and the left-hand one
  // (already visited) into two channels. Both must be the stored byte of
  // pass 0, not a float and not a pass-1 value.
  const int w = 9, h = 5;
  LambdaFilter filter(2, [](int x, int y, int pass) -> rgb_color {
    if (pass == 0) {
      const float v = static_cast<float>(x * 10 + y) / 100.0f + 0.0013f;
      return {v, v, v};
    }
    const rgb_color right = get_pixel(x + 1, y);
    const rgb_color left = get_pixel(x - 1, y);
    return {right.r, left.g, get_pixel(x, y).b};
  });
  auto rec = runFilterOnWorker(filter, test::solidImage(w, h, {255, 0, 0, 0}));
  ASSERT_TRUE(rec.result);
  auto pass0Byte = [](int x, int y) -> int {
    if (x < 0 || x >= w) return 0;
    const float v = static_cast<float>(x * 10 + y) / 100.0f + 0.0013f;
    return static_cast<int>(v * 255.0f);
  };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const Argb p = pixelAt(*rec.result, x, y);
      EXPECT_EQ(p.r, pass0Byte(x + 1, y)) << x << "," << y;
      EXPECT_EQ(p.g, pass0Byte(x - 1, y)) << x << "," << y;
      EXPECT_EQ(p.b, pass0Byte(x, y)) << x << "," << y;
    }
  }
}

// A filter that records the hooks in the order the engine calls them.
class HookRecorder : public PostProcess {
 public:
  std::vector<std::string> calls;
  int passes = 3;
  int get_num_passes() const override { return passes; }
  rgb_color process_pixel_x(int x, int y, int pass) override {
    if (x == 0 && y == 0) calls.push_back("pixel " + std::to_string(pass));
    return get_pixel(x, y);
  }
  void prepare_for_process() override { calls.push_back("prepare"); }
  void before_pass(int pass) override { calls.push_back("before " + std::to_string(pass)); }
  void after_pass(int pass) override {
    calls.push_back("after " + std::to_string(pass));
    // The pass count is asked again before every pass.
    if (pass == 0) passes = 2;
  }
  void process_ended() override { calls.push_back("ended"); }
};

TEST(PostProcessPasses, HooksRunInOrderAndThePassCountIsAskedEachTime) {
  HookRecorder filter;
  auto rec = runFilterOnWorker(filter, test::solidImage(2, 2, {255, 1, 1, 1}));
  EXPECT_EQ(filter.calls, (std::vector<std::string>{"prepare", "before 0", "pixel 0", "after 0",
                                                    "before 1", "pixel 1", "after 1", "ended"}));
  // T was fixed at the start for 3 passes: after 2 the last report is 50.
  EXPECT_EQ(rec.progress.back(), "50.000000");
}

TEST(PostProcessProgress, Sequence120x120) {
  PostProcess filter;
  auto rec = runFilterOnWorker(filter, test::solidImage(120, 120, {255, 1, 2, 3}));
  EXPECT_EQ(rec.events,
            (std::vector<std::string>{"progressChanged 0.000000", "progressChanged 0.000000",
                                      "progressChanged 25.000000", "progressChanged 50.000000",
                                      "progressChanged 75.000000", "searchEnd"}));
  EXPECT_TRUE(rec.allOnMainThread);
  EXPECT_EQ(filter.get_complete_precent(), 75);
}

TEST(PostProcessProgress, Sequence180x120CountsTheHeightPerColumn) {
  PostProcess filter;
  auto rec = runFilterOnWorker(filter, test::solidImage(180, 120, {255, 1, 2, 3}));
  EXPECT_EQ(rec.progress,
            (std::vector<std::string>{"0.000000", "0.000000", "16.666668", "33.333336", "50.000000",
                                      "66.666672", "83.333328"}));
  EXPECT_EQ(rec.searchEndCount, 1);
  EXPECT_EQ(rec.events.back(), "searchEnd");
}

TEST(PostProcessProgress, AtMostOncePerWholePercentAndRising) {
  PostProcess filter;
  filter.set_max_res(2048);
  auto rec = runFilterOnWorker(filter, test::solidImage(1500, 1000, {255, 1, 2, 3}));
  ASSERT_GE(rec.progress.size(), 50u);
  int previous = -1;
  for (std::size_t i = 1; i < rec.progress.size(); ++i) {
    const int whole = static_cast<int>(std::stof(rec.progress[i]));
    EXPECT_GT(whole, previous) << rec.progress[i];
    EXPECT_LT(whole, 100);
    previous = whole;
  }
}

TEST(PostProcessProgress, RunOnTheMainThreadPostsDirectly) {
  PostProcess filter;
  std::vector<std::string> seen;
  auto& center = NotificationCenter::defaultCenter();
  auto t1 = center.addObserver("progressChanged", nullptr, [&](const Notification& n) {
    seen.push_back(std::any_cast<std::string>(n.object));
  });
  auto t2 = center.addObserver("searchEnd", nullptr, [&](const Notification& n) {
    EXPECT_FALSE(n.object.has_value());
    seen.push_back("searchEnd");
  });
  filter.prepare(test::solidImage(120, 120, {255, 1, 2, 3}));
  EXPECT_TRUE(filter.process());
  center.removeObserver(t1);
  center.removeObserver(t2);
  EXPECT_EQ(seen, (std::vector<std::string>{"0.000000", "0.000000", "25.000000", "50.000000",
                                            "75.000000", "searchEnd"}));
}

TEST(PostProcessFailure, NoWorkingBitmapPostsNothingAndIsReported) {
  // A 1000 × 1 photo fitted to 800 is 800 × 0: no bitmap can be made.
  PostProcess filter;
  ImageRef thin = test::solidImage(1000, 1, {255, 1, 2, 3});
  testing::internal::CaptureStderr();
  auto rec = runFilterOnWorker(filter, thin);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(rec.processReturned);
  EXPECT_TRUE(filter.last_run_failed());
  EXPECT_TRUE(rec.events.empty());
  EXPECT_EQ(filter.get_result(), nullptr);
  EXPECT_FALSE(err.empty());
  EXPECT_FALSE(PostProcess::is_run_in_progress());

  // The failed run left nothing locked: the next one runs.
  auto ok = runFilterOnWorker(filter, test::solidImage(10, 10, {255, 1, 2, 3}));
  EXPECT_TRUE(ok.processReturned);
  EXPECT_FALSE(filter.last_run_failed());
  EXPECT_EQ(ok.searchEndCount, 1);
}

TEST(PostProcessFailure, ZeroResolutionAndNoImageFailQuietly) {
  PostProcess filter;
  filter.set_max_res(0);
  testing::internal::CaptureStderr();
  auto rec = runFilterOnWorker(filter, test::solidImage(10, 10, {255, 1, 2, 3}));
  auto none = runFilterOnWorker(filter, nullptr);
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(rec.processReturned);
  EXPECT_TRUE(rec.events.empty());
  EXPECT_FALSE(none.processReturned);
  EXPECT_TRUE(none.events.empty());
  EXPECT_TRUE(filter.last_run_failed());
}

// Fails the n-th buffer a run asks for (counting from 1); the others come
// from malloc.
struct FailingAllocator {
  static inline int calls = 0;
  static inline int failing = 0;
  static std::uint8_t* allocate(std::size_t bytes) {
    return ++calls == failing ? nullptr : static_cast<std::uint8_t*>(std::malloc(bytes));
  }
};

TEST(PostProcessFailure, EitherBufferMissingFailsTheRunCleanlyAndSaysWhich) {
  const std::pair<int, const char*> cases[] = {{1, "Output buffer not allocated"},
                                               {2, "Snapshot buffer not allocated"}};
  for (const auto& [failing, message] : cases) {
    // Both a filter that saves pixels and one that does not: the snapshot's
    // memory is obtained with the output buffer, before anything is posted.
    FilterOfSnapshot saver;
    PostProcess plainFilter;
    for (PostProcess* filter : {static_cast<PostProcess*>(&saver), &plainFilter}) {
      FailingAllocator::calls = 0;
      FailingAllocator::failing = failing;
      PostProcess::set_buffer_allocator(FailingAllocator::allocate);
      testing::internal::CaptureStderr();
      auto rec = runFilterOnWorker(*filter, test::solidImage(30, 20, {255, 9, 8, 7}));
      const std::string err = testing::internal::GetCapturedStderr();
      PostProcess::set_buffer_allocator(nullptr);
      EXPECT_FALSE(rec.processReturned) << message;
      EXPECT_TRUE(filter->last_run_failed()) << message;
      EXPECT_TRUE(rec.events.empty()) << message;
      EXPECT_EQ(filter->get_result(), nullptr) << message;
      EXPECT_NE(err.find(message), std::string::npos) << err;
      EXPECT_FALSE(PostProcess::is_run_in_progress()) << message;
      EXPECT_EQ(gp_data_copy, nullptr);

      ImageRef photo = test::photoLikeImage(30, 20, 4);
      auto ok = runFilterOnWorker(*filter, photo);
      EXPECT_TRUE(ok.processReturned) << message;
      EXPECT_EQ(ok.searchEndCount, 1) << message;
      if (filter == &saver) {
        ASSERT_TRUE(ok.result);
        EXPECT_TRUE(test::imagesEqual(*ok.result, *photo)) << "the snapshot holds the photo";
      }
    }
  }
}

TEST(PostProcessFailure, AHookThatThrowsLeavesTheEngineFree) {
  class Throwing : public PostProcess {
   public:
    void before_pass(int pass) override {
      if (pass == 0) throw std::runtime_error("hook failed");
    }
  };
  Throwing filter;
  filter.prepare(test::solidImage(8, 8, {255, 1, 2, 3}));
  // On the main thread, where the exception reaches the caller.
  EXPECT_THROW(filter.process(), std::runtime_error);
  EXPECT_FALSE(PostProcess::is_run_in_progress());
  EXPECT_EQ(gp_data, nullptr);
  EXPECT_EQ(gp_data_copy, nullptr);
  PostProcess next;
  auto rec = runFilterOnWorker(next, test::solidImage(8, 8, {255, 1, 2, 3}));
  EXPECT_TRUE(rec.processReturned);
  EXPECT_EQ(rec.searchEndCount, 1);
}

TEST(PostProcessConcurrency, SecondRunWhileOneIsInProgressIsRefused) {
  // The second run is attempted from an observer of the first run's
  // progress, on the main thread, while the first run's worker is waiting:
  // certainly during the first run.
  ImageRef photo = test::gradientImage(120, 120);
  PostProcess first;
  LambdaFilter second(1, [](int, int, int) -> rgb_color { return {0.0f, 0.0f, 0.0f}; });
  second.prepare(test::solidImage(8, 8, {255, 5, 5, 5}));
  PostProcess sameAgain;  // reference result of an undisturbed run
  auto reference = runFilterOnWorker(sameAgain, photo);

  bool attempted = false;
  bool secondResult = true;
  bool sameObjectResult = true;
  int nestedNotifications = 0;
  auto& center = NotificationCenter::defaultCenter();
  auto token = center.addObserver("progressChanged", nullptr, [&](const Notification& n) {
    if (attempted || std::any_cast<std::string>(n.object) != "25.000000") return;
    attempted = true;
    EXPECT_TRUE(PostProcess::is_run_in_progress());
    auto nested =
        center.addObserver("", nullptr, [&](const Notification&) { ++nestedNotifications; });
    testing::internal::CaptureStderr();
    secondResult = second.process();
    first.prepare(photo);
    sameObjectResult = first.process();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("already in progress"), std::string::npos) << err;
    center.removeObserver(nested);
  });
  auto rec = runFilterOnWorker(first, photo);
  center.removeObserver(token);

  ASSERT_TRUE(attempted);
  EXPECT_FALSE(secondResult);
  EXPECT_FALSE(sameObjectResult);
  EXPECT_EQ(nestedNotifications, 0);
  EXPECT_TRUE(second.last_run_failed());
  EXPECT_EQ(second.get_result(), nullptr);
  // The first run went on undisturbed and its own outcome stands.
  EXPECT_TRUE(rec.processReturned);
  EXPECT_FALSE(first.last_run_failed());
  EXPECT_EQ(rec.events, reference.events);
  ASSERT_TRUE(rec.result);
  EXPECT_TRUE(test::imagesEqual(*rec.result, *reference.result));
  EXPECT_FALSE(PostProcess::is_run_in_progress());
}

TEST(PostProcessConcurrency, ANewRunMayStartWhileSearchEndIsHandled) {
  PostProcess filter;
  PostProcess next;
  bool started = false;
  bool nextResult = false;
  auto& center = NotificationCenter::defaultCenter();
  auto token = center.addObserver("searchEnd", nullptr, [&](const Notification&) {
    if (started) return;  // the nested run's own "searchEnd"
    started = true;
    next.prepare(test::solidImage(3, 3, {255, 1, 1, 1}));
    nextResult = next.process();  // on the main thread: posts directly
  });
  auto rec = runFilterOnWorker(filter, test::solidImage(4, 4, {255, 1, 1, 1}));
  center.removeObserver(token);
  EXPECT_TRUE(rec.processReturned);
  EXPECT_TRUE(nextResult);
  ASSERT_TRUE(next.get_result());
  EXPECT_EQ(pixelAt(*next.get_result(), 2, 2), (Argb{255, 2, 2, 2}));
}

TEST(PostProcessResult, ResultIsKeptUntilTheNextRunAndTraversalsAgree) {
  // Pass 1 reads neighbours another band computes in pass 0, so a fast walk
  // that let a band run ahead would show.
  FastLambdaFilter filter(2, [](int x, int y, int pass) -> rgb_color {
    const rgb_color c = get_pixel(x + pass, y - 1);
    return {c.g * 1.1f, c.b + 0.01f, c.r * 0.7f};
  });
  ImageRef photo = test::photoLikeImage(61, 47, 3);
  filter.set_traversal(Traversal::Plain);
  auto plain = runFilterOnWorker(filter, photo);
  ASSERT_TRUE(plain.result);
  EXPECT_EQ(filter.get_result(), plain.result);
  EXPECT_EQ(filter.passes_walked_plainly(), 2);
  filter.set_traversal(Traversal::Fast);
  auto fast = runFilterOnWorker(filter, photo);
  ASSERT_TRUE(fast.result);
  EXPECT_EQ(filter.passes_walked_plainly(), 0);
  EXPECT_NE(fast.result, plain.result);
  EXPECT_TRUE(test::imagesEqual(*fast.result, *plain.result));
  EXPECT_EQ(fast.events, plain.events);
}

TEST(PostProcessResult, AFilterNotWrittenForTheFastTraversalIsWalkedPlainlyAndSaysSo) {
  LambdaFilter filter(2, [](int x, int y, int) { return get_pixel(x, y); });
  filter.set_traversal(Traversal::Fast);
  testing::internal::CaptureStderr();
  auto first = runFilterOnWorker(filter, test::solidImage(6, 4, {255, 1, 2, 3}));
  auto second = runFilterOnWorker(filter, test::solidImage(6, 4, {255, 1, 2, 3}));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(first.processReturned && second.processReturned);
  EXPECT_EQ(filter.passes_walked_plainly(), 2);
  EXPECT_NE(err.find("\"Lambda\" has no fast traversal"), std::string::npos) << err;
  // Once per filter object, not once per run.
  EXPECT_EQ(err.find("no fast traversal"), err.rfind("no fast traversal")) << err;
}

TEST(PostProcessRotate, QuarterAndHalfTurns) {
  // 3 × 2 with a distinct red value per pixel: 10·x + y.
  ImageRef src = imageFrom(3, 2, [](int x, int y) {
    return Argb{255, static_cast<std::uint8_t>(10 * x + y), 0, 0};
  });
  ImageRef ccw = PostProcess::RotateImage(src, 1);
  ImageRef cw = PostProcess::RotateImage(src, -1);
  ImageRef half = PostProcess::RotateImage(src, 2);
  ASSERT_TRUE(ccw && cw && half);
  ASSERT_EQ(ccw->width(), 2);
  ASSERT_EQ(ccw->height(), 3);
  ASSERT_EQ(cw->width(), 2);
  ASSERT_EQ(half->width(), 3);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      const int v = 10 * x + y;
      EXPECT_EQ(pixelAt(*ccw, y, 2 - x).r, v) << x << "," << y;  // counter-clockwise
      EXPECT_EQ(pixelAt(*cw, 1 - y, x).r, v) << x << "," << y;   // clockwise
      EXPECT_EQ(pixelAt(*half, 2 - x, 1 - y).r, v) << x << "," << y;
    }
  }
  EXPECT_EQ(PostProcess::RotateImage(src, 0), nullptr);
  EXPECT_EQ(PostProcess::RotateImage(src, 3), nullptr);
  EXPECT_EQ(PostProcess::RotateImage(nullptr, 1), nullptr);
}

}  // namespace
}  // namespace glowsnap
