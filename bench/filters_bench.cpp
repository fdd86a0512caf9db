// Every filter over a 2048 × 1536 photo in the plain traversal (the
// reference), run on the calling thread so that notifications are posted
// directly. The counter is megapixels per second per pass: W·H·passes / time.
#include <benchmark/benchmark.h>

#include <string>

#include "filters/FilterCatalogue.h"
#include "support/TestImages.h"

namespace {

constexpr int kWidth = 2048;
constexpr int kHeight = 1536;

const glowsnap::ImageRef& photo() {
  static const glowsnap::ImageRef image = glowsnap::test::photoLikeImage(kWidth, kHeight, 42);
  return image;
}

void BM_Filter(benchmark::State& state, const std::string& name) {
  glowsnap::FilterCatalogue catalogue;
  glowsnap::PostProcess* filter = catalogue.findAnyFilter(name);
  if (filter == nullptr) {
    state.SkipWithError("no such filter");
    return;
  }
  filter->set_max_res(2048);
  filter->set_traversal(glowsnap::Traversal::Plain);
  const int passes = filter->get_num_passes();
  for (auto _ : state) {
    filter->prepare(photo());
    if (!filter->process()) {
      state.SkipWithError("run failed");
      return;
    }
    benchmark::DoNotOptimize(filter->get_result());
  }
  state.counters["Mpix/s/pass"] =
      benchmark::Counter(static_cast<double>(kWidth) * kHeight * passes *
                             static_cast<double>(state.iterations()) / 1e6,
                         benchmark::Counter::kIsRate);
}

}  // namespace

#define GLOWSNAP_FILTER_BENCH(id, name) \
  BENCHMARK_CAPTURE(BM_Filter, id, std::string(name))->Unit(benchmark::kMillisecond)->UseRealTime()

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
