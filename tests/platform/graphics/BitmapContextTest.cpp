#include "platform/graphics/BitmapContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "support/ImageCompare.h"
#include "support/TestImages.h"

namespace glowsnap {
namespace {

using test::Argb;
using test::pixelAt;

constexpr float kHalfPi = 1.57079637f;

ImageRef drawn(int cw, int ch, const Image& image, Rect rect,
               const AffineTransform& ctm = AffineTransform::identity()) {
  auto canvas = BitmapContext::create(cw, ch);
  canvas->setCTM(ctm);
  canvas->drawImage(rect, image);
  return canvas->makeImage();
}

ImageRef fromPixels(int w, int h, const std::vector<Argb>& px) {
  std::vector<std::uint8_t> bytes;
  for (const Argb& p : px) bytes.insert(bytes.end(), {p.a, p.r, p.g, p.b});
  return Image::create(w, h, std::move(bytes));
}

// Averages n × n blocks with integer arithmetic, rounding halves up: what
// area averaging at a whole shrink factor must give.
ImageRef boxShrink(const Image& src, int n) {
  const int w = src.width() / n, h = src.height() / n;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 4; ++c) {
        int sum = 0;
        for (int dy = 0; dy < n; ++dy)
          for (int dx = 0; dx < n; ++dx)
            sum += src.data()[((y * n + dy) * src.width() + x * n + dx) * 4 + c];
        out[(static_cast<std::size_t>(y) * w + x) * 4 + c] =
            static_cast<std::uint8_t>((sum + n * n / 2) / (n * n));
      }
  return Image::create(w, h, std::move(out));
}

// The weights destination index k gives along one axis, in double
// precision: each source pixel's share of the covered span when shrinking,
// bilinear between the nearest pixel centres when enlarging.
std::vector<std::pair<int, double>> referenceTaps(int srcN, int destN, int k) {
  const double s = static_cast<double>(destN) / srcN;
  std::vector<std::pair<int, double>> taps;
  if (s > 1) {
    const double c = std::clamp((k + 0.5) / s - 0.5, 0.0, srcN - 1.0);
    const int i0 = static_cast<int>(std::floor(c));
    taps.emplace_back(i0, 1 - (c - i0));
    if (i0 + 1 < srcN) taps.emplace_back(i0 + 1, c - i0);
  } else {
    const double a = k / s, b = (k + 1) / s;
    for (int i = static_cast<int>(std::floor(a));
         i < std::min(srcN, static_cast<int>(std::ceil(b))); ++i)
      taps.emplace_back(i, (std::min(i + 1.0, b) - std::max<double>(i, a)) / (b - a));
  }
  return taps;
}

ImageRef referenceResample(const Image& src, int dw, int dh) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(dw) * dh * 4);
  for (int y = 0; y < dh; ++y)
    for (int x = 0; x < dw; ++x)
      for (int c = 0; c < 4; ++c) {
        double v = 0;
        for (auto [j, wy] : referenceTaps(src.height(), dh, y))
          for (auto [i, wx] : referenceTaps(src.width(), dw, x))
            v += wx * wy * src.data()[(static_cast<std::size_t>(j) * src.width() + i) * 4 + c];
        out[(static_cast<std::size_t>(y) * dw + x) * 4 + c] =
            static_cast<std::uint8_t>(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
      }
  return Image::create(dw, dh, std::move(out));
}

TEST(BitmapContext, CreateRefusesBadSizesAndStartsTransparent) {
  EXPECT_FALSE(BitmapContext::create(0, 5));
  EXPECT_FALSE(BitmapContext::create(5, -1));
  auto canvas = BitmapContext::create(4, 3);
  ASSERT_TRUE(canvas);
  auto image = canvas->makeImage();
  EXPECT_EQ(image->orientation(), Image::Up);
  for (auto b : image->pixels()) EXPECT_EQ(b, 0);
}

TEST(BitmapContext, OwnSizeOnWholePixelsIsAnExactCopy) {
  auto photo = test::photoLikeImage(37, 23);
  EXPECT_TRUE(test::imagesEqual(*drawn(37, 23, *photo, Rect(0, 0, 37, 23)), *photo));
  // Translucent pixels too, on a fresh canvas.
  auto glass = test::randomTranslucentImage(19, 11);
  EXPECT_TRUE(test::imagesEqual(*drawn(19, 11, *glass, Rect(0, 0, 19, 11)), *glass));
  // At a whole-pixel offset, through a translated CTM.
  auto moved = drawn(40, 30, *photo, Rect(1, 2, 37, 23), AffineTransform::makeTranslation(2, 3));
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 37; ++x)
      // user y-up: rect bottom at y 5, so its top edge is 2 rows below the canvas top.
      ASSERT_EQ(pixelAt(*moved, x + 3, y + 2), pixelAt(*photo, x, y)) << x << "," << y;
  EXPECT_EQ(pixelAt(*moved, 0, 0), (Argb{0, 0, 0, 0}));
}

TEST(BitmapContext, UserSpaceIsYUpFromTheBottomLeft) {
  auto red = test::solidImage(1, 1, {255, 255, 0, 0});
  auto out = drawn(2, 2, *red, Rect(0, 0, 1, 1));
  EXPECT_EQ(pixelAt(*out, 0, 1), (Argb{255, 255, 0, 0}));
  EXPECT_EQ(pixelAt(*out, 0, 0), (Argb{0, 0, 0, 0}));
  // The first row of an image goes to the upper edge of the rectangle.
  auto two = fromPixels(1, 2, {{255, 10, 0, 0}, {255, 20, 0, 0}});
  auto up = drawn(1, 2, *two, Rect(0, 0, 1, 2));
  EXPECT_EQ(pixelAt(*up, 0, 0).r, 10);
  EXPECT_EQ(pixelAt(*up, 0, 1).r, 20);
}

TEST(BitmapContext, ShrinkingAveragesTheCoveredArea) {
  auto four =
      fromPixels(2, 2, {{255, 10, 0, 255}, {255, 20, 1, 255}, {255, 30, 0, 0}, {255, 41, 0, 0}});
  auto one = drawn(1, 1, *four, Rect(0, 0, 1, 1));
  // 25.25 → 25, 0.25 → 0, 127.5 → 128
  EXPECT_EQ(pixelAt(*one, 0, 0), (Argb{255, 25, 0, 128}));

  // A one-pixel checkerboard shrunk by three: five of nine pixels white.
  auto board = test::checkerboardImage(6, 6, 1);
  auto small = drawn(2, 2, *board, Rect(0, 0, 2, 2));
  EXPECT_EQ(pixelAt(*small, 0, 0), (Argb{255, 142, 142, 142}));
  EXPECT_EQ(pixelAt(*small, 1, 0), (Argb{255, 113, 113, 113}));

  // Whole factors match a block average exactly, alpha included.
  for (int n : {2, 4}) {
    auto photo = test::randomTranslucentImage(64, 48, n);
    auto out = drawn(64 / n, 48 / n, *photo, Rect(0, 0, 64 / n, 48 / n));
    EXPECT_TRUE(test::imagesEqual(*out, *boxShrink(*photo, n))) << "factor " << n;
  }
}

TEST(BitmapContext, FractionalShrinkKeepsFlatColoursFlat) {
  auto flat = test::solidImage(1000, 700, {255, 200, 17, 99});
  auto out = drawn(333, 233, *flat, Rect(0, 0, 333, 233));
  EXPECT_TRUE(test::imagesEqual(*out, *test::solidImage(333, 233, {255, 200, 17, 99})));
}

TEST(BitmapContext, EnlargingInterpolatesBilinearly) {
  auto pair = fromPixels(2, 1, {{255, 0, 0, 0}, {255, 255, 0, 0}});
  auto out = drawn(4, 1, *pair, Rect(0, 0, 4, 1));
  // Pixel centres fall on source positions 0 (clamped), 0.25, 0.75, 1.
  EXPECT_EQ(pixelAt(*out, 0, 0).r, 0);
  EXPECT_EQ(pixelAt(*out, 1, 0).r, 64);
  EXPECT_EQ(pixelAt(*out, 2, 0).r, 191);
  EXPECT_EQ(pixelAt(*out, 3, 0).r, 255);
  // A gradient enlarged stays monotonic and keeps its ends.
  auto ramp = test::gradientImage(16, 16);
  auto big = drawn(50, 50, *ramp, Rect(0, 0, 50, 50));
  for (int x = 1; x < 50; ++x) EXPECT_LE(pixelAt(*big, x - 1, 7).r, pixelAt(*big, x, 7).r);
  EXPECT_EQ(pixelAt(*big, 0, 0).r, 0);
  EXPECT_EQ(pixelAt(*big, 49, 0).r, 255);
}

TEST(BitmapContext, ResamplingMatchesADoublePrecisionReference) {
  // Shrinking both ways, shrinking one way while enlarging the other, and
  // enlarging both ways take different orders of work inside.
  struct Case {
    int sw, sh, dw, dh;
  };
  for (const Case& c : {Case{64, 48, 30, 20}, Case{64, 48, 10, 100}, Case{20, 30, 50, 70},
                        Case{90, 12, 91, 5}, Case{33, 41, 7, 41}}) {
    SCOPED_TRACE(std::to_string(c.sw) + "x" + std::to_string(c.sh) + " to " + std::to_string(c.dw) +
                 "x" + std::to_string(c.dh));
    auto src = test::randomTranslucentImage(c.sw, c.sh, c.dw);
    auto out = drawn(c.dw, c.dh, *src, Rect(0, 0, c.dw, c.dh));
    EXPECT_TRUE(test::imagesNear(*out, *referenceResample(*src, c.dw, c.dh), 1));
  }
}

TEST(BitmapContext, MirrorsAndQuarterTurnsCopyExactly) {
  auto photo = test::photoLikeImage(9, 5, 3);
  const int w = 9, h = 5;
  auto mirrored =
      drawn(w, h, *photo, Rect(0, 0, w, h), AffineTransform::makeTranslation(w, 0).scaled(-1, 1));
  auto flipped =
      drawn(w, h, *photo, Rect(0, 0, w, h), AffineTransform::makeTranslation(0, h).scaled(1, -1));
  // Turned a quarter counter-clockwise on a canvas of h × w.
  auto turned = drawn(h, w, *photo, Rect(0, 0, w, h),
                      AffineTransform::makeTranslation(h, 0).rotated(kHalfPi));
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      const Argb p = pixelAt(*photo, i, j);
      ASSERT_EQ(pixelAt(*mirrored, w - 1 - i, j), p);
      ASSERT_EQ(pixelAt(*flipped, i, h - 1 - j), p);
      ASSERT_EQ(pixelAt(*turned, j, w - 1 - i), p);
    }
}

TEST(BitmapContext, MirroredShrinkAveragesLikeTheUnmirroredOne) {
  auto photo = test::photoLikeImage(40, 30, 5);
  auto plain = drawn(20, 15, *photo, Rect(0, 0, 20, 15));
  auto mirrored = drawn(20, 15, *photo, Rect(0, 0, 20, 15),
                        AffineTransform::makeTranslation(20, 15).scaled(-1, -1));
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 20; ++x)
      ASSERT_EQ(pixelAt(*mirrored, 19 - x, 14 - y), pixelAt(*plain, x, y));
}

TEST(BitmapContext, TranslucentImagesAreLaidOverTheCanvas) {
  auto canvas = BitmapContext::create(1, 1);
  canvas->drawImage(Rect(0, 0, 1, 1), *test::solidImage(1, 1, {255, 0, 0, 255}));
  canvas->drawImage(Rect(0, 0, 1, 1), *test::solidImage(1, 1, {128, 128, 0, 0}));
  // blue 255 · (1 − 128/255) = 127.
  EXPECT_EQ(pixelAt(*canvas->makeImage(), 0, 0), (Argb{255, 128, 0, 127}));
}

TEST(BitmapContext, PartlyCoveredPixelsGetPartialCoverage) {
  auto white = test::solidImage(1, 1, {255, 255, 255, 255});
  auto out = drawn(3, 1, *white, Rect(0.5f, 0, 1, 1));
  EXPECT_EQ(pixelAt(*out, 0, 0), (Argb{128, 128, 128, 128}));
  EXPECT_EQ(pixelAt(*out, 1, 0), (Argb{128, 128, 128, 128}));
  EXPECT_EQ(pixelAt(*out, 2, 0), (Argb{0, 0, 0, 0}));
  // Drawing past the canvas is clipped, not wrapped.
  auto clipped = drawn(2, 2, *test::solidImage(4, 4, {255, 9, 9, 9}), Rect(-1, -1, 4, 4));
  EXPECT_TRUE(test::imagesEqual(*clipped, *test::solidImage(2, 2, {255, 9, 9, 9})));
  // Empty or degenerate rectangles draw nothing.
  auto none = drawn(2, 2, *white, Rect(0, 0, 0, 2));
  EXPECT_EQ(pixelAt(*none, 0, 0), (Argb{0, 0, 0, 0}));
}

TEST(BitmapContext, AnyOtherTransformIsResampledToo) {
  // Turned by 30° about the canvas centre, a flat picture larger than the
  // canvas covers it with its colour exactly.
  auto flat = test::solidImage(100, 100, {255, 60, 120, 180});
  const auto ctm =
      AffineTransform::makeTranslation(25, 25).rotated(0.5235988f).translated(-50, -50);
  auto out = drawn(50, 50, *flat, Rect(0, 0, 100, 100), ctm);
  EXPECT_TRUE(test::imagesEqual(*out, *test::solidImage(50, 50, {255, 60, 120, 180})));
  // A small one turned by 45° leaves the canvas corners untouched.
  auto small = drawn(20, 20, *flat, Rect(-5, -5, 10, 10),
                     AffineTransform::makeTranslation(10, 10).rotated(0.785398f));
  EXPECT_EQ(pixelAt(*small, 10, 10), (Argb{255, 60, 120, 180}));
  EXPECT_EQ(pixelAt(*small, 0, 0), (Argb{0, 0, 0, 0}));
  EXPECT_EQ(pixelAt(*small, 19, 19), (Argb{0, 0, 0, 0}));
}

TEST(BitmapContext, AbsurdTransformsDrawSafely) {
  auto photo = test::photoLikeImage(8, 8);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (const AffineTransform& t :
       {AffineTransform::makeScale(1e30f, 1e30f), AffineTransform::makeScale(1e-30f, 1e-30f),
        AffineTransform::makeTranslation(1e20f, -1e20f), AffineTransform::makeScale(0, 1),
        AffineTransform::makeScale(nan, 1), AffineTransform::makeTranslation(inf, 0),
        AffineTransform::makeRotation(0.3f).scaled(1e25f, 1e-25f),
        AffineTransform::makeTranslation(0.5f, 0.5f).scaled(1e-6f, 1e-6f)}) {
    auto out = drawn(6, 6, *photo, Rect(0, 0, 8, 8), t);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->width(), 6);
  }
  auto huge = drawn(4, 4, *photo, Rect(0, 0, 1e9f, 1e9f));
  EXPECT_EQ(pixelAt(*huge, 0, 0).a, 255);
}

TEST(BitmapContext, CTMOperationsComposeLikeTheTransforms) {
  auto canvas = BitmapContext::create(4, 4);
  canvas->translateCTM(4, 0);
  canvas->scaleCTM(-1, 1);
  canvas->rotateCTM(0.5f);
  canvas->concatCTM(AffineTransform::makeTranslation(1, 2));
  const auto expected =
      AffineTransform::makeTranslation(4, 0).scaled(-1, 1).rotated(0.5f).translated(1, 2);
  EXPECT_EQ(canvas->ctm(), expected);
}

}  // namespace
}  // namespace glowsnap
