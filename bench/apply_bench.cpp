// The whole `glowsnap apply` path on a 12-megapixel JPEG: decode, normalise
// to the working resolution, filter, encode; and each step alone.
#include <benchmark/benchmark.h>

#include <random>

#include "cli/FilterNames.h"
#include "cli/FilterRunner.h"
#include "platform/graphics/ImageIO.h"
#include "platform/graphics/Normalize.h"

namespace glowsnap {
namespace {

// A 4000 × 3000 photo-like JPEG, made once.
const std::vector<std::uint8_t>& twelveMegapixelJpeg() {
  static const std::vector<std::uint8_t> jpeg = [] {
    const int w = 4000, h = 3000;
    std::vector<std::uint8_t> px(static_cast<size_t>(w) * h * 4);
    std::mt19937 gen(1);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        auto* p = &px[(static_cast<size_t>(y) * w + x) * 4];
        p[0] = 255;
        p[1] = static_cast<std::uint8_t>(std::clamp((x * 255) / w + noise(gen), 0, 255));
        p[2] = static_cast<std::uint8_t>(std::clamp((y * 255) / h + noise(gen), 0, 255));
        p[3] = static_cast<std::uint8_t>(std::clamp(((x + y) * 255) / (w + h) + noise(gen), 0, 255));
      }
    auto encoded = imageio::encodeJpeg(*Image::create(w, h, std::move(px)), 0.95f);
    return encoded.value();
  }();
  return jpeg;
}

void BM_Decode12MP(benchmark::State& state) {
  const auto& jpeg = twelveMegapixelJpeg();
  for (auto _ : state) benchmark::DoNotOptimize(imageio::decode(jpeg));
}
BENCHMARK(BM_Decode12MP)->Unit(benchmark::kMillisecond);

void BM_Normalise12MPTo2048(benchmark::State& state) {
  auto img = imageio::decode(twelveMegapixelJpeg()).value();
  for (auto _ : state) benchmark::DoNotOptimize(normalizeImage(img, 2048));
}
BENCHMARK(BM_Normalise12MPTo2048)->Unit(benchmark::kMillisecond);

void BM_Encode2048(benchmark::State& state) {
  auto img = normalizeImage(imageio::decode(twelveMegapixelJpeg()).value(), 2048);
  for (auto _ : state) benchmark::DoNotOptimize(imageio::encodeJpeg(*img, 0.95f));
}
BENCHMARK(BM_Encode2048)->Unit(benchmark::kMillisecond);

void BM_Filter2048(benchmark::State& state, const char* name, Traversal traversal) {
  auto img = normalizeImage(imageio::decode(twelveMegapixelJpeg()).value(), 2048);
  auto filter = cli::FilterNames::find(name);
  filter->set_max_res(2048);
  filter->set_traversal(traversal);
  for (auto _ : state) benchmark::DoNotOptimize(cli::FilterRunner::run(*filter, img));
}
BENCHMARK_CAPTURE(BM_Filter2048, MoreColorsFast, "More Colors", Traversal::Fast)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Filter2048, HdrColorPlusFast, "HDR Color+", Traversal::Fast)
    ->Unit(benchmark::kMillisecond);

// Decoding and normalising in one step, as the command line loads a photo.
void BM_LoadPhoto12MPTo2048(benchmark::State& state) {
  const auto& jpeg = twelveMegapixelJpeg();
  for (auto _ : state) benchmark::DoNotOptimize(imageio::loadPhoto(jpeg, 2048));
}
BENCHMARK(BM_LoadPhoto12MPTo2048)->Unit(benchmark::kMillisecond);

// load + "HDR Color+" + encode, as `glowsnap apply -f "HDR Color+"
// --max-res 2048` runs it.
void BM_ApplyHdrColorPlus12MP(benchmark::State& state) {
  const auto& jpeg = twelveMegapixelJpeg();
  auto filter = cli::FilterNames::find("HDR Color+");
  filter->set_max_res(2048);
  for (auto _ : state) {
    auto img = imageio::loadPhoto(jpeg, 2048).value().image;
    auto result = cli::FilterRunner::run(*filter, img);
    benchmark::DoNotOptimize(imageio::encodeJpeg(**result, 0.95f));
  }
}
BENCHMARK(BM_ApplyHdrColorPlus12MP)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace glowsnap

BENCHMARK_MAIN();
