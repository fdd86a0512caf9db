// Helpers for the filter tests: running a filter through the engine, and
// replaying it pass by pass outside the engine as the pass scheme defines it.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/PixelBuffer.h"
#include "engine/PostProcess.h"
#include "support/EngineRun.h"
#include "support/TestImages.h"

namespace glowsnap::test {

// The result of one engine run of filter over image (at the image's own size
// when it fits the working resolution).
inline ImageRef applyFilter(PostProcess& filter, const ImageRef& image) {
  filter.set_max_res(2048);
  EngineRunRecord record = runFilterOnWorker(filter, image);
  EXPECT_TRUE(record.processReturned);
  EXPECT_EQ(record.searchEndCount, 1);
  return record.result;
}

inline std::uint8_t storeChannel(float v) {
  if (!(v > 0.0f)) return 0;
  if (v > 1.0f) v = 1.0f;
  return static_cast<std::uint8_t>(v * 255.0f);
}

// What the pass scheme defines, computed without the engine: every pass by a
// fresh filter object (nothing may carry over in the object), pixels visited
// bottom-up and right to left (the order must not matter), each pass reading
// only the previous pass's clamped 8-bit output. betweenPasses, if given, is
// called with the pass just finished and may change the buffers.
template <typename Filter, typename Hook>
std::vector<std::uint8_t> replayPasses(const Image& image, Hook betweenPasses) {
  const int w = image.width();
  const int h = image.height();
  std::vector<std::uint8_t> buffer(image.pixels());
  std::vector<std::uint8_t> snapshot(buffer.size(), 0);
  g_width = w;
  g_height = h;
  g_bypr = w * 4;
  g_bpp = 32;
  g_bpc = 8;
  gp_data_copy = snapshot.data();
  const int passes = Filter().get_num_passes();
  for (int pass = 0; pass < passes; ++pass) {
    Filter filter;
    filter.prepare_for_process();
    filter.before_pass(pass);
    gp_data = buffer.data();
    std::vector<std::uint8_t> out(buffer.size());
    for (int y = h - 1; y >= 0; --y) {
      for (int x = w - 1; x >= 0; --x) {
        const rgb_color c = filter.compute_pixel(x, y, pass);
        const std::size_t o = (static_cast<std::size_t>(y) * w + x) * 4;
        out[o] = buffer[o];
        out[o + 1] = storeChannel(c.r);
        out[o + 2] = storeChannel(c.g);
        out[o + 3] = storeChannel(c.b);
      }
    }
    buffer = out;
    betweenPasses(pass, buffer, snapshot);
  }
  gp_data = nullptr;
  gp_data_copy = nullptr;
  return buffer;
}

template <typename Filter>
std::vector<std::uint8_t> replayPasses(const Image& image) {
  return replayPasses<Filter>(image,
                              [](int, std::vector<std::uint8_t>&, std::vector<std::uint8_t>&) {});
}

}  // namespace glowsnap::test
