#include "platform/graphics/Normalize.h"
#include "platform/graphics/Resampler.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/ImageCompare.h"
#include "support/TestImages.h"

namespace glowsnap {
namespace {

using test::Argb;
using test::pixelAt;

// Where the upright picture's pixel (x, y) comes from in a W × H bitmap,
// per tag, pixel for pixel.
Argb uprightPixel(const Image& src, int tag, int x, int y) {
  const int W = src.width(), H = src.height();
  switch (tag) {
    case Image::Up:
      return pixelAt(src, x, y);
    case Image::Down:
      return pixelAt(src, W - 1 - x, H - 1 - y);
    case Image::Left:
      return pixelAt(src, W - 1 - y, x);
    case Image::Right:
      return pixelAt(src, y, H - 1 - x);
    case Image::UpMirrored:
      return pixelAt(src, W - 1 - x, y);
    case Image::DownMirrored:
      return pixelAt(src, x, H - 1 - y);
    case Image::LeftMirrored:
      return pixelAt(src, y, x);
    case Image::RightMirrored:
      return pixelAt(src, W - 1 - y, H - 1 - x);
  }
  return {};
}

TEST(Normalize, EveryTagTurnsThePixelsUprightExactly) {
  const auto photo = test::photoLikeImage(7, 5, 11);
  for (int tag = 0; tag < 8; ++tag) {
    SCOPED_TRACE("tag " + std::to_string(tag));
    auto tagged = photo->withOrientation(tag);
    auto out = scaleAndRotateImage(tagged, 100, 100);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->orientation(), Image::Up);
    const bool swapped = tag == 2 || tag == 3 || tag == 6 || tag == 7;
    ASSERT_EQ(out->width(), swapped ? 5 : 7);
    ASSERT_EQ(out->height(), swapped ? 7 : 5);
    for (int y = 0; y < out->height(); ++y)
      for (int x = 0; x < out->width(); ++x)
        ASSERT_EQ(pixelAt(*out, x, y), uprightPixel(*photo, tag, x, y)) << x << "," << y;
  }
}

TEST(Normalize, EveryTagScaledPutsTheCornersWhereTheyBelong) {
  // At half size each quadrant stays one colour, so the corners tell the turn.
  for (int tag = 0; tag < 8; ++tag) {
    SCOPED_TRACE("tag " + std::to_string(tag));
    auto src = test::cornersImage(160, 120, tag);
    auto out = normalizeImage(src, 80);
    ASSERT_TRUE(out);
    const bool swapped = tag == 2 || tag == 3 || tag == 6 || tag == 7;
    ASSERT_EQ(out->width(), swapped ? 60 : 80);
    ASSERT_EQ(out->height(), swapped ? 80 : 60);
    const int r = out->width() - 1, b = out->height() - 1;
    auto plain = test::cornersImage(160, 120);
    EXPECT_EQ(pixelAt(*out, 0, 0), uprightPixel(*plain, tag, 0, 0));
    EXPECT_EQ(pixelAt(*out, r, 0), uprightPixel(*plain, tag, swapped ? 119 : 159, 0));
    EXPECT_EQ(pixelAt(*out, 0, b), uprightPixel(*plain, tag, 0, swapped ? 159 : 119));
    EXPECT_EQ(pixelAt(*out, r, b),
              uprightPixel(*plain, tag, swapped ? 119 : 159, swapped ? 159 : 119));
    // Nothing left transparent at the edges: the picture fills the canvas.
    for (int x = 0; x <= r; ++x) ASSERT_EQ(pixelAt(*out, x, b).a, 255);
    for (int y = 0; y <= b; ++y) ASSERT_EQ(pixelAt(*out, r, y).a, 255);
  }
}

TEST(Normalize, PortraitPhotoTaggedRightBecomesUprightAtMaxResolution) {
  auto src = test::cornersImage(1600, 1200, Image::Right);
  EXPECT_EQ(src->displaySize().width, 1200);
  EXPECT_EQ(src->displaySize().height, 1600);
  auto out = normalizeImage(src, 800);
  ASSERT_EQ(out->width(), 600);
  ASSERT_EQ(out->height(), 800);
  // Turned clockwise: the bitmap's bottom-left ends up at the top-left.
  EXPECT_EQ(pixelAt(*out, 0, 0), test::kBottomLeft);
  EXPECT_EQ(pixelAt(*out, 599, 0), test::kTopLeft);
  EXPECT_EQ(pixelAt(*out, 0, 799), test::kBottomRight);
  EXPECT_EQ(pixelAt(*out, 599, 799), test::kTopRight);
}

// Large reductions are drawn in bands on several threads: the bytes must be
// those of drawing on one, upright, turned a quarter (the transposed path)
// and mirrored, at a size whose rows do not split evenly.
TEST(Normalize, DrawingOnSeveralThreadsGivesTheBytesOfOne) {
  const ImageRef photo = test::photoLikeImage(2601, 1733, 12);
  for (int tag : {Image::Up, Image::Right, Image::DownMirrored}) {
    const ImageRef tagged = photo->withOrientation(tag);
    Resampler::setThreadLimit(1);
    const ImageRef alone = normalizeImage(tagged, 2048);
    Resampler::setThreadLimit(0);
    const ImageRef shared = normalizeImage(tagged, 2048);
    ASSERT_TRUE(alone && shared);
    EXPECT_TRUE(test::imagesEqual(*shared, *alone)) << "tag " << tag;
  }
}

TEST(Normalize, SizesFollowTheBoundsArithmetic) {
  struct Case {
    int w, h, maxRes, outW, outH, tag = Image::Up;
  };
  for (const Case& c : {Case{1200, 1600, 800, 600, 800}, Case{1600, 1200, 800, 800, 600},
                        Case{1000, 1000, 320, 320, 320}, Case{1000, 1500, 800, 533, 800},
                        Case{1500, 1000, 800, 800, 533}, Case{3, 2000, 800, 1, 800},
                        Case{1000, 1500, 800, 800, 533, Image::Right},
                        Case{1000, 1500, 800, 800, 533, Image::LeftMirrored},
                        Case{1500, 1000, 800, 800, 533, Image::Down}}) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " tag " + std::to_string(c.tag));
    auto out = normalizeImage(test::solidImage(c.w, c.h, {255, 1, 2, 3}, c.tag), c.maxRes);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->width(), c.outW);
    EXPECT_EQ(out->height(), c.outH);
    // Fractional bounds are truncated, so the picture covers every pixel.
    EXPECT_TRUE(test::imagesEqual(*out, *test::solidImage(c.outW, c.outH, {255, 1, 2, 3})));
  }
  // The limits are applied to the bitmap as stored.
  auto wide = scaleAndRotateImage(test::solidImage(400, 100, {255, 0, 0, 0}), 50, 200);
  EXPECT_EQ(wide->width(), 200);
  EXPECT_EQ(wide->height(), 50);
}

TEST(Normalize, SmallUprightPhotoKeepsItsPixels) {
  auto photo = test::photoLikeImage(640, 480, 2);
  auto out = normalizeImage(photo, 800);
  EXPECT_TRUE(test::imagesEqual(*out, *photo));
  auto glass = test::randomTranslucentImage(64, 48, 2);
  EXPECT_TRUE(test::imagesEqual(*normalizeImage(glass, 800), *glass));
}

TEST(Normalize, UnknownTagGivesTheInputBack) {
  auto odd = test::solidImage(30, 20, {255, 1, 1, 1}, 8);
  EXPECT_EQ(scaleAndRotateImage(odd, 10, 10), odd);
  auto negative = test::solidImage(30, 20, {255, 1, 1, 1}, -1);
  EXPECT_EQ(normalizeImage(negative, 10), negative);
}

TEST(Normalize, SegmentIndexGivesTheResolution) {
  const int expected[] = {320, 640, 800, 1024, 1600, 2048};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(maxResolutionForSegment(i), expected[i]);
  EXPECT_EQ(maxResolutionForSegment(-1), 800);
  EXPECT_EQ(maxResolutionForSegment(6), 800);
}

}  // namespace
}  // namespace glowsnap
