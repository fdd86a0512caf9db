// The colour operations of the HDR family: soft light's branches, contrast,
// blend, and the snapshot reader's division against get_pixel's product.
#include "filters/HdrOperations.h"

#include <gtest/gtest.h>

#include <vector>

namespace glowsnap {
namespace {

TEST(HdrOperations, SoftLightBranches) {
  // m = 0.5 keeps the base; m = 0 squares it.
  EXPECT_EQ(hdr::blend_soft_light_channel(0.6f, 0.5f), 0.6f);
  EXPECT_FLOAT_EQ(hdr::blend_soft_light_channel(0.6f, 0.0f), 0.36f);
  // The polynomial below 0.25: ((16·0.16 − 12)·0.16 + 4)·0.16.
  EXPECT_FLOAT_EQ(hdr::blend_soft_light_channel(0.16f, 1.0f), 0.398336f);
  // The square root above 0.25.
  EXPECT_FLOAT_EQ(hdr::blend_soft_light_channel(0.81f, 1.0f), 0.9f);
  // Exactly at 0.25 the polynomial applies: (4 − 12)·0.25 + 4 = 2, ·0.25 = 0.5 = √0.25.
  EXPECT_EQ(hdr::blend_soft_light_channel(0.25f, 1.0f), 0.5f);
  // Per channel in rgb order.
  const rgb_color c = hdr::blend_soft_light({0.6f, 0.16f, 0.81f}, {0.5f, 1.0f, 1.0f});
  EXPECT_EQ(c.r, 0.6f);
  EXPECT_EQ(c.g, hdr::blend_soft_light_channel(0.16f, 1.0f));
  EXPECT_EQ(c.b, hdr::blend_soft_light_channel(0.81f, 1.0f));
}

TEST(HdrOperations, SoftLightLowBranchKeepsDoublePrecisionUntilTheEnd) {
  // x − (1 − 2m)·x·(1 − x), narrowed once. Extended precision is the oracle:
  // for every pair of channel bytes of the low branch it narrows to the same
  // float as double does, while single-precision steps differ for many.
  int singleDiffers = 0;
  for (int xb = 0; xb < 256; ++xb) {
    for (int mb = 0; mb <= 127; ++mb) {
      const float x = static_cast<float>(xb) / 255.0f;
      const float m = static_cast<float>(mb) / 255.0f;
      const long double lx = x;
      const float oracle = static_cast<float>(
          lx - ((static_cast<long double>(m) * -2.0L + 1.0L) * lx) * (1.0L - lx));
      ASSERT_EQ(hdr::blend_soft_light_channel(x, m), oracle) << xb << " " << mb;
      if (x - ((m * -2.0f + 1.0f) * x) * (1.0f - x) != oracle) ++singleDiffers;
    }
  }
  EXPECT_GT(singleDiffers, 1000);
}

TEST(HdrOperations, ContrastAndBlend) {
  const rgb_color same = hdr::filter_contrast(0.1f, 0.25f, 0.9f, 1.0f);
  EXPECT_FLOAT_EQ(same.r, 0.1f);
  EXPECT_EQ(same.g, 0.25f);
  EXPECT_FLOAT_EQ(same.b, 0.9f);
  const rgb_color twice = hdr::filter_contrast(0.25f, 0.75f, 0.5f, 2.0f);
  EXPECT_EQ(twice.r, 0.0f);
  EXPECT_EQ(twice.g, 1.0f);
  EXPECT_EQ(twice.b, 0.5f);
  const rgb_color mid = hdr::blend({0.0f, 1.0f, 0.5f}, {1.0f, 0.0f, 0.5f}, 0.8f);
  EXPECT_EQ(mid.r, 0.8f);
  EXPECT_FLOAT_EQ(mid.g, 0.2f);
  EXPECT_EQ(mid.b, 0.5f);
}

TEST(HdrOperations, SnapshotReaderDividesAndGetPixelMultiplies) {
  std::vector<std::uint8_t> buffer(256 * 4);
  for (int v = 0; v < 256; ++v) {
    buffer[v * 4] = 255;
    buffer[v * 4 + 1] = buffer[v * 4 + 2] = buffer[v * 4 + 3] = static_cast<std::uint8_t>(v);
  }
  gp_data = buffer.data();
  gp_data_copy = buffer.data();
  g_width = 256;
  g_height = 1;
  g_bpp = 32;
  int differing = 0;
  for (int v = 0; v < 256; ++v) {
    const rgb_color copy = get_snapshot_pixel(v, 0, hdr::snapshot_channel);
    EXPECT_EQ(copy.r, static_cast<float>(v) / 255.0f);
    // Four looks were written dividing in double and narrowing: the same
    // float for every byte, which is why one reader serves the family.
    EXPECT_EQ(copy.b, static_cast<float>(v / 255.0)) << v;
    if (copy.g != get_pixel(v, 0).g) ++differing;
  }
  // Both are within one unit in the last place; about half the bytes differ.
  EXPECT_GT(differing, 50);
  const rgb_color outside = get_snapshot_pixel(256, 0, hdr::snapshot_channel);
  EXPECT_EQ(outside.r + outside.g + outside.b, 0.0f);
  EXPECT_EQ(get_snapshot_pixel(-1, 0, hdr::snapshot_channel).r, 0.0f);
  gp_data = nullptr;
  gp_data_copy = nullptr;
  g_width = g_height = 0;
}

}  // namespace
}  // namespace glowsnap
