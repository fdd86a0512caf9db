// ImageEditable: its own pixel copy, alpha last, black outside.
#include "engine/ImageEditable.h"

#include <gtest/gtest.h>

#include "support/TestImages.h"

namespace glowsnap {
namespace {

TEST(ImageEditable, ReadsRedGreenBlueAndBlackOutside) {
  ImageEditable holder;
  EXPECT_EQ(holder.init_with_image(test::gradientImage(16, 8)), &holder);
  EXPECT_EQ(holder.width(), 16u);
  EXPECT_EQ(holder.height(), 8u);
  ImageRef image = test::gradientImage(16, 8);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) {
      const test::Argb p = test::pixelAt(*image, x, y);
      const rgb_color c = holder.get_pixel_x(x, y);
      EXPECT_EQ(c.r, p.r * (1.0f / 255.0f));
      EXPECT_EQ(c.g, p.g * (1.0f / 255.0f));
      EXPECT_EQ(c.b, p.b * (1.0f / 255.0f));
    }
  }
  for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {16, 0}, {0, 8}}) {
    const rgb_color c = holder.get_pixel_x(x, y);
    EXPECT_EQ(c.r + c.g + c.b, 0.0f);
  }
}

TEST(ImageEditable, RelativePositionsMapOntoTheImage) {
  ImageEditable holder;
  holder.init_with_image(test::cornersImage(10, 10));
  // A 100 × 100 frame: (75, 20) lies in the top-right quadrant.
  const rgb_color tr = holder.get_pixel_relative_x(75, 20, 100, 100);
  EXPECT_EQ(tr.g, 1.0f);
  EXPECT_EQ(tr.r, 0.0f);
  const rgb_color bl = holder.get_pixel_relative_x(1, 99, 100, 100);
  EXPECT_EQ(bl.b, 1.0f);
  EXPECT_EQ(holder.get_pixel_relative_x(1, 1, 0, 0).r, 0.0f);
}

TEST(ImageEditable, ClaimedSizeBeyondTheMemoryReadsBlack) {
  ImageEditable holder;
  holder.init_with_image(test::solidImage(2, 2, {255, 255, 255, 255}));
  holder.setWidth(100);
  holder.setHeight(100);
  EXPECT_EQ(holder.get_pixel_x(99, 99).r, 0.0f);
  EXPECT_EQ(holder.init_with_image(nullptr), nullptr);
  EXPECT_EQ(holder.width(), 0u);
}

}  // namespace
}  // namespace glowsnap
