// Every filter over a 2048 × 1536 photo, in the plain traversal (the
// reference: column by column, one virtual call per pixel, one thread) and in
// the fast one (bands of rows on every core, the per-pixel function inlined),
// side by side in one run. Runs on the calling thread, so notifications are
// posted directly.
//
// Real time is what a user waits; the CPU time is the whole process's (all
// the pool's threads), so that CPU(plain) / CPU(fast) is the work saved even
// on a loaded machine. Counter: megapixels per second per pass. For a sense
// of what the memory system can do, BM_CopyPicture copies a working buffer's
// worth of bytes with memcpy in the same run.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "filters/FilterCatalogue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "support/TestImages.h"

namespace {

constexpr int kWidth = 2048;
constexpr int kHeight = 1536;

const glowsnap::ImageRef& photo() {
  static const glowsnap::ImageRef image = glowsnap::test::photoLikeImage(kWidth, kHeight, 42);
  return image;
}

void BM_Filter(benchmark::State& state, const std::string& name, glowsnap::Traversal traversal) {
  glowsnap::FilterCatalogue catalogue;
  glowsnap::PostProcess* filter = catalogue.findAnyFilter(name);
  if (filter == nullptr) {
    state.SkipWithError("no such filter");
    return;
  }
  filter->set_max_res(2048);
  filter->set_traversal(traversal);
  const int passes = filter->get_num_passes();
  photo();  // made before the clock runs
  for (auto _ : state) {
    filter->prepare(photo());
    if (!filter->process()) {
      state.SkipWithError("run failed");
      return;
    }
    benchmark::DoNotOptimize(filter->get_result());
  }
  const double pixelPasses = static_cast<double>(kWidth) * kHeight * passes;
  state.counters["Mpix/s/pass"] = benchmark::Counter(
      pixelPasses * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

// One core copying a 2048 × 1536 working buffer (12 MiB) into another:
// counts the bytes read and written.
void BM_CopyPicture(benchmark::State& state) {
  const std::size_t bytes = static_cast<std::size_t>(kWidth) * kHeight * 4;
  std::vector<std::uint8_t> from(bytes, 1);
  std::vector<std::uint8_t> to(bytes, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.counters["GB/s"] = benchmark::Counter(
      2.0 * static_cast<double>(bytes) * static_cast<double>(state.iterations()) / 1e9,
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CopyPicture)->Unit(benchmark::kMillisecond);

// The way the application and the command line run a filter: process() on a
// worker thread, each of the run's ~100 notifications delivered on the main
// thread while the worker waits. The difference to BM_Filter is the cost of
// those hops.
void BM_FilterOnWorker(benchmark::State& state, const std::string& name,
                       glowsnap::Traversal traversal) {
  using namespace glowsnap;
  FilterCatalogue catalogue;
  PostProcess* filter = catalogue.findAnyFilter(name);
  if (filter == nullptr) {
    state.SkipWithError("no such filter");
    return;
  }
  filter->set_max_res(2048);
  filter->set_traversal(traversal);
  photo();
  RunLoop& loop = RunLoop::current();
  int notifications = 0;
  auto token = NotificationCenter::defaultCenter().addObserver(
      PostProcess::kProgressChangedNotification, nullptr,
      [&notifications](const Notification&) { ++notifications; });
  auto keepAlive = loop.addTimer(1e9, 0, [] {});
  for (auto _ : state) {
    filter->prepare(photo());
    std::atomic<bool> finished{false};
    std::thread worker([&] {
      filter->process();
      finished = true;
      performOnMainThread([] {}, false);
    });
    while (!finished.load()) loop.runInMode(RunLoop::kDefaultMode, 1.0, true);
    worker.join();
  }
  loop.removeTimer(keepAlive);
  NotificationCenter::defaultCenter().removeObserver(token);
  state.counters["notifications"] =
      static_cast<double>(notifications) / static_cast<double>(state.iterations());
}

}  // namespace

BENCHMARK_CAPTURE(BM_FilterOnWorker, HDR_Color_plus_plain, std::string("HDR Color+"),
                  glowsnap::Traversal::Plain)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(BM_FilterOnWorker, HDR_Color_plus_fast, std::string("HDR Color+"),
                  glowsnap::Traversal::Fast)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

#define GLOWSNAP_FILTER_BENCH(id, name)                                                   \
  BENCHMARK_CAPTURE(BM_Filter, id##_plain, std::string(name), glowsnap::Traversal::Plain) \
      ->Unit(benchmark::kMillisecond)                                                     \
      ->UseRealTime()                                                                     \
      ->MeasureProcessCPUTime();                                                          \
  BENCHMARK_CAPTURE(BM_Filter, id##_fast, std::string(name), glowsnap::Traversal::Fast)   \
      ->Unit(benchmark::kMillisecond)                                                     \
      ->UseRealTime()                                                                     \
      ->MeasureProcessCPUTime()

GLOWSNAP_FILTER_BENCH(HDR_Classic, "HDR Classic");
GLOWSNAP_FILTER_BENCH(HDR_Color_plus, "HDR Color+");
GLOWSNAP_FILTER_BENCH(Bloom, "Bloom");
GLOWSNAP_FILTER_BENCH(HDR_Night_mode, "HDR Night mode");
GLOWSNAP_FILTER_BENCH(Art_Contour_HDR, "Art Contour HDR");
GLOWSNAP_FILTER_BENCH(Soft_Edges_HDR, "Soft Edges HDR");
GLOWSNAP_FILTER_BENCH(More_Contrast, "More Contrast");
GLOWSNAP_FILTER_BENCH(More_Colors, "More Colors");
GLOWSNAP_FILTER_BENCH(Denoise, "Denoise");
GLOWSNAP_FILTER_BENCH(Normalize, "Normalize");
GLOWSNAP_FILTER_BENCH(Flash_Low, "Flash Low");

BENCHMARK_MAIN();
