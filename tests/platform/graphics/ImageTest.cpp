#include "platform/graphics/Image.h"
#include "platform/graphics/PixelBuffer.h"

#include <gtest/gtest.h>

namespace glowsnap {
namespace {

TEST(Image, CreateChecksSizeAgainstPixels) {
  EXPECT_FALSE(Image::create(0, 1, {}));
  EXPECT_FALSE(Image::create(2, -1, {}));
  EXPECT_FALSE(Image::create(2, 2, std::vector<std::uint8_t>(15)));
  EXPECT_FALSE(Image::create(2, 2, std::vector<std::uint8_t>(17)));
  auto image = Image::create(2, 3, std::vector<std::uint8_t>(24, 7), Image::Left);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width(), 2);
  EXPECT_EQ(image->height(), 3);
  EXPECT_EQ(image->bytesPerRow(), 8u);
  EXPECT_EQ(image->orientation(), Image::Left);
  EXPECT_EQ(image->data()[23], 7);
}

TEST(Image, DisplaySizeSwapsForQuarterTurns) {
  for (int tag = 0; tag < 8; ++tag) {
    auto image = Image::create(4, 3, std::vector<std::uint8_t>(48), tag);
    const bool swapped = tag == Image::Left || tag == Image::Right || tag == Image::LeftMirrored ||
                         tag == Image::RightMirrored;
    EXPECT_EQ(image->displaySize().width, swapped ? 3 : 4) << tag;
    EXPECT_EQ(image->displaySize().height, swapped ? 4 : 3) << tag;
  }
}

TEST(Image, WithOrientationKeepsPixelsAndTheOriginal) {
  std::vector<std::uint8_t> px(16);
  for (int i = 0; i < 16; ++i) px[i] = static_cast<std::uint8_t>(i);
  auto up = Image::create(2, 2, px);
  auto turned = up->withOrientation(Image::Right);
  EXPECT_EQ(up->orientation(), Image::Up);
  EXPECT_EQ(turned->orientation(), Image::Right);
  EXPECT_EQ(turned->pixels(), up->pixels());
  EXPECT_EQ(turned->data(), up->data()) << "the pixels are shared, not copied";
}

TEST(PixelBuffer, LargeAndSmallBuffersAreZeroed) {
  for (std::size_t size : {std::size_t{0}, std::size_t{7}, std::size_t{9} << 20}) {
    auto buffer = PixelBuffer::zeroed(size);
    ASSERT_EQ(buffer.size(), size);
    for (std::size_t i = 0; i < size; i += 4093) ASSERT_EQ(buffer[i], 0) << i;
  }
}

}  // namespace
}  // namespace glowsnap
