// The pixel operations over a buffer set up by hand: neighbour coordinates,
// borders, the edge detector's range and the saturation/overlay arithmetic.
#include "engine/PixelOperations.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace glowsnap {
namespace {

// Points the pixel-buffer globals at a buffer of its own for one test.
class ScopedBuffer {
 public:
  ScopedBuffer(int w, int h, const std::function<std::uint8_t(int x, int y, int channel)>& fn)
      : bytes_(static_cast<std::size_t>(w) * h * 4) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 4; ++c)
          bytes_[(static_cast<std::size_t>(y) * w + x) * 4 + c] = fn(x, y, c);
    gp_data = bytes_.data();
    g_width = w;
    g_height = h;
    g_bypr = w * 4;
    g_bpp = 32;
    g_bpc = 8;
  }
  ~ScopedBuffer() {
    gp_data = nullptr;
    g_width = g_height = g_bypr = 0;
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

std::uint8_t white(int, int, int) { return 255; }

TEST(PixelOperations, BlurAtTheCornerAveragesOnlyTheNeighboursInside) {
  ScopedBuffer buffer(20, 20, white);
  const rgb_color c = do_blur(0, 0, 2.5f);
  EXPECT_EQ(c.r, 0.375f);
  EXPECT_EQ(c.g, 0.375f);
  EXPECT_EQ(c.b, 0.375f);
  // Fully inside: every neighbour is white.
  EXPECT_EQ(do_blur(10, 10, 2.5f).r, 1.0f);
}

TEST(PixelOperations, BlurReadsTruncatedNeighbourCoordinates) {
  // Each pixel's red byte says where it is: a sum of per-column and per-row
  // weights, so that the average tells which columns and rows were read.
  auto columnWeight = [](int x) { return x == 7 ? 1 : x == 10 ? 3 : x == 12 ? 9 : 0; };
  ScopedBuffer buffer(20, 20, [&](int x, int y, int channel) -> std::uint8_t {
    if (channel != 1) return 255;
    return static_cast<std::uint8_t>(columnWeight(x) + 20 * (y == 7    ? 1
                                                             : y == 10 ? 2
                                                             : y == 12 ? 4
                                                                       : 0));
  });
  // Columns 7, 10, 12 × rows 7, 10, 12 without the centre (10, 10):
  // columns: 7 three times, 10 twice, 12 three times; rows likewise.
  const float expectedSum = (3 * 1 + 2 * 3 + 3 * 9) + 20 * (3 * 1 + 2 * 2 + 3 * 4);
  const rgb_color c = do_blur(10, 10, 2.5f);
  EXPECT_NEAR(c.r * 255.0f * 8.0f, expectedSum, 1e-3f);
  EXPECT_EQ(c.g, 1.0f);
}

TEST(PixelOperations, RadiusOnePointOneReachesTwoLeftAndOneRight) {
  // Red marks the column, green the row.
  ScopedBuffer buffer(10, 10, [](int x, int y, int channel) -> std::uint8_t {
    return channel == 1   ? static_cast<std::uint8_t>(x * 20)
           : channel == 2 ? static_cast<std::uint8_t>(y * 20)
                          : 255;
  });
  // At x = 5: columns 3 (three times), 5 (twice), 6 (three times).
  const rgb_color c = do_blur(5, 5, 1.1f);
  EXPECT_NEAR(c.r * 255.0f, (3 * 60 + 2 * 100 + 3 * 120) / 8.0f, 1e-3f);
  EXPECT_NEAR(c.g * 255.0f, (3 * 60 + 2 * 100 + 3 * 120) / 8.0f, 1e-3f);
  // At x = 1 the left neighbours are column 0 (−0.1 truncates to 0).
  const rgb_color d = do_blur(1, 5, 1.1f);
  EXPECT_NEAR(d.r * 255.0f, (3 * 0 + 2 * 20 + 3 * 40) / 8.0f, 1e-3f);
}

TEST(PixelOperations, EdgeDetectionIsZeroWhenFlatPositiveAtBordersAndAtMostOne) {
  ScopedBuffer buffer(20, 20, [](int, int, int) -> std::uint8_t { return 128; });
  EXPECT_EQ(do_edge_detection(10, 10, 1.0f, false, 0.0f, 0.0f), 0.0f);
  EXPECT_GT(do_edge_detection(0, 10, 1.0f, false, 0.0f, 0.0f), 0.0f);
  EXPECT_GT(do_edge_detection(19, 19, 2.5f, false, 0.0f, 0.0f), 0.0f);
  EXPECT_EQ(do_edge_detection(15, 10, 2.5f, false, 0.0f, 0.0f), 0.0f);
  // A white image's corner is a full-strength edge: clamped to 1.
  ScopedBuffer whiteBuffer(20, 20, white);
  EXPECT_EQ(do_edge_detection(0, 0, 1.0f, false, 0.0f, 0.0f), 1.0f);
  for (int i = 0; i < 50; ++i) {
    const float e = do_edge_detection(i % 20, 0, 1.5f, true, 0.5f, 1.5f);
    EXPECT_GE(e, 0.0f);
    EXPECT_LE(e, 1.0f);
  }
}

TEST(PixelOperations, EdgeDetectionMatchesTheSobelSumOfAStep) {
  // Left half black, right half white: at the step the gradient is 4·1 in x.
  ScopedBuffer buffer(10, 10, [](int x, int, int channel) -> std::uint8_t {
    return channel == 0 || x >= 5 ? 255 : 0;
  });
  EXPECT_EQ(do_edge_detection(4, 5, 1.0f, false, 0.0f, 0.0f), 1.0f);
  EXPECT_EQ(do_edge_detection(2, 5, 1.0f, false, 0.0f, 0.0f), 0.0f);
  // A quarter-strength step: grey 64 against black gives 4·64/255 > 1 too,
  // grey 16 gives 4·16/255.
  ScopedBuffer faint(10, 10, [](int x, int, int channel) -> std::uint8_t {
    return channel == 0 ? 255 : x >= 5 ? 16 : 0;
  });
  const float l = 16.0f * (1.0f / 255.0f);
  EXPECT_FLOAT_EQ(do_edge_detection(4, 5, 1.0f, false, 0.0f, 0.0f), 4.0f * l);
}

TEST(PixelOperations, GreyReaderIsTheMeanAndBlackOutside) {
  ScopedBuffer buffer(4, 4,
                      [](int, int, int channel) -> std::uint8_t { return channel == 1 ? 255 : 0; });
  EXPECT_EQ(get_pixel_bw(1, 1), 1.0f / 3.0f);
  EXPECT_EQ(get_pixel_bw(-1, 0), 0.0f);
  EXPECT_EQ(get_pixel_bw(4, 0), 0.0f);
}

TEST(PixelOperations, SaturationWeightsAddUpTo103) {
  const rgb_color g = do_saturation(0.5f, 0.5f, 0.5f, 2.0f);
  const float lum = static_cast<float>(0.5 * 0.33 + 0.5 * 0.59 + 0.5 * 0.11);
  EXPECT_EQ(lum, 0.515f);
  EXPECT_EQ(g.r, lum + 2.0f * (0.5f - lum));
  EXPECT_NEAR(g.r, 0.485f, 1e-6f);
  EXPECT_EQ(g.g, g.r);
  EXPECT_EQ(g.b, g.r);
  // s = 0 gives grey lum; s = 1 the colour itself.
  const rgb_color grey = do_saturation(0.2f, 0.4f, 0.6f, 0.0f);
  EXPECT_EQ(grey.r, grey.b);
  const rgb_color same = do_saturation(0.2f, 0.4f, 0.6f, 1.0f);
  EXPECT_FLOAT_EQ(same.b, 0.6f);
}

TEST(PixelOperations, OverlayBranches) {
  // a = 0.5 takes the second branch and gives the blend value back.
  for (float b : {0.0f, 0.25f, 0.8f, 1.0f})
    EXPECT_FLOAT_EQ(blend_overlay({0.5f, 0.5f, 0.5f}, {b, b, b}).r, b);
  const rgb_color low = blend_overlay({0.25f, 0.0f, 0.49f}, {0.5f, 1.0f, 1.0f});
  EXPECT_EQ(low.r, 0.25f);
  EXPECT_EQ(low.g, 0.0f);
  EXPECT_EQ(low.b, 0.98f);
  const rgb_color high = blend_overlay({0.75f, 1.0f, 0.6f}, {0.5f, 0.0f, 0.0f});
  EXPECT_EQ(high.r, 0.75f);
  EXPECT_EQ(high.g, 1.0f);
  EXPECT_EQ(high.b, static_cast<float>(((1.0 - static_cast<double>(0.6f)) * -2.0) * 1.0 + 1.0));
}

TEST(PixelOperations, RandomRangeHitsOnlyTheFiveThousandOneSteps) {
  for (int i = 0; i < 20000; ++i) {
    const float v = random_rangef(0.5f, 1.5f);
    ASSERT_GE(v, 0.5f);
    ASSERT_LE(v, 1.5f);
    const float steps = (v - 0.5f) * 5000.0f;
    ASSERT_NEAR(steps, std::round(steps), 1e-3f) << v;
  }
}

TEST(PixelOperations, Radians) {
  EXPECT_EQ(radians(180.0), M_PI);
  EXPECT_EQ(radians(90.0), 90.0 * M_PI / 180.0);
  EXPECT_EQ(radians(-90.0), -M_PI / 2);
}

}  // namespace
}  // namespace glowsnap
