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

TEST(HdrOperations, SoftLightLowBranchIsComputedInDouble) {
  // x − (1 − 2m)·x·(1 − x) in double, narrowed once.
  const float x = 0.7f;
  const float m = 0.2f;
  const double dx = x;
  EXPECT_EQ(hdr::blend_soft_light_channel(x, m),
            static_cast<float>(dx - ((static_cast<double>(m) * -2.0 + 1.0) * dx) * (1.0 - dx)));
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
    const rgb_color copy = hdr::get_pixel_copy(v, 0);
    const rgb_color inline_read = hdr::read_snapshot_inline(v, 0);
    EXPECT_EQ(copy.r, static_cast<float>(v) / 255.0f);
    EXPECT_EQ(copy.b, inline_read.b);
    if (copy.g != get_pixel(v, 0).g) ++differing;
  }
  // Both are within one unit in the last place; about half the bytes differ.
  EXPECT_GT(differing, 50);
  const rgb_color outside = hdr::get_pixel_copy(256, 0);
  EXPECT_EQ(outside.r + outside.g + outside.b, 0.0f);
  EXPECT_EQ(hdr::read_snapshot_inline(-1, 0).r, 0.0f);
  gp_data = nullptr;
  gp_data_copy = nullptr;
  g_width = g_height = 0;
}

}  // namespace
}  // namespace glowsnap
