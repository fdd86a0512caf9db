// The photo path of a run: decoding a 12-megapixel JPEG, normalising it to
// the largest working resolution (upright and turned), drawing a working
// bitmap at its own size, and encoding the result at the undo file's quality.
#include <benchmark/benchmark.h>

#include "platform/graphics/ARGBBitmap.h"
#include "platform/graphics/ImageIO.h"
#include "platform/graphics/Normalize.h"
#include "support/TestImages.h"

namespace {

using namespace glowsnap;

const ImageRef& photo12MP() {
  static const ImageRef photo = test::photoLikeImage(4000, 3000, 12);
  return photo;
}

const std::vector<std::uint8_t>& jpeg12MP() {
  static const std::vector<std::uint8_t> data = *imageio::encodeJpeg(*photo12MP(), 0.95f);
  return data;
}

void BM_DecodeJpeg12MP(benchmark::State& state) {
  const auto& data = jpeg12MP();
  for (auto _ : state) benchmark::DoNotOptimize(imageio::decode(data));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * data.size());
}
BENCHMARK(BM_DecodeJpeg12MP)->Unit(benchmark::kMillisecond);

void BM_Normalize12MPTo2048(benchmark::State& state) {
  const ImageRef image = photo12MP()->withOrientation(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(normalizeImage(image, 2048));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 4000 * 3000);
}
BENCHMARK(BM_Normalize12MPTo2048)->Arg(Image::Up)->Arg(Image::Right)->Unit(benchmark::kMillisecond);

void BM_WorkingBitmapAtOwnSize(benchmark::State& state) {
  static const ImageRef image = normalizeImage(photo12MP(), 2048);
  for (auto _ : state) {
    auto bitmap = CreateARGBBitmapContext(image->width(), image->height());
    bitmap->drawImage(
        Rect(0, 0, static_cast<float>(image->width()), static_cast<float>(image->height())),
        *image);
    benchmark::DoNotOptimize(bitmap->data());
  }
}
BENCHMARK(BM_WorkingBitmapAtOwnSize)->Unit(benchmark::kMillisecond);

void BM_EncodeJpeg2048(benchmark::State& state) {
  static const ImageRef image = normalizeImage(photo12MP(), 2048);
  for (auto _ : state) benchmark::DoNotOptimize(imageio::encodeJpeg(*image, 0.95f));
}
BENCHMARK(BM_EncodeJpeg2048)->Unit(benchmark::kMillisecond);

void BM_DecodeNormaliseEncode(benchmark::State& state) {
  const auto& data = jpeg12MP();
  for (auto _ : state) {
    auto decoded = imageio::decode(data);
    auto upright = normalizeImage(*decoded, 2048);
    benchmark::DoNotOptimize(imageio::encodeJpeg(*upright, 0.95f));
  }
}
BENCHMARK(BM_DecodeNormaliseEncode)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
