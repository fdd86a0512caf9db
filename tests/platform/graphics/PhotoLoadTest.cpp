// Loading a photo for a run: decoded and normalised in one go, reduced
// while decoding where normalising shrinks it, damage reported as warnings.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

#include "platform/graphics/ImageIO.h"
#include "platform/graphics/Normalize.h"
#include "platform/graphics/Resampler.h"
#include "support/ImageCompare.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace glowsnap {
namespace {

using namespace imageio;
using test::pixelAt;

std::vector<std::uint8_t> jpegOf(const ImageRef& image, float quality = 0.92f) {
  auto data = encodeJpeg(*image, quality);
  EXPECT_TRUE(data.ok());
  return data.ok() ? *data : std::vector<std::uint8_t>{};
}

// What the command line did before loading and normalising became one step.
ImageRef decodeThenNormalise(const std::vector<std::uint8_t>& data, int maxResolution) {
  auto decoded = decode(data);
  EXPECT_TRUE(decoded.ok()) << decoded.error().description;
  return decoded.ok() ? normalizeImage(*decoded, maxResolution) : nullptr;
}

ImageRef loaded(const std::vector<std::uint8_t>& data, int maxResolution, bool* reduced = nullptr,
                int* denominator = nullptr) {
  auto photo = loadPhoto(data, maxResolution);
  EXPECT_TRUE(photo.ok()) << photo.error().description;
  if (!photo.ok()) return nullptr;
  EXPECT_TRUE(photo->warnings.empty());
  EXPECT_EQ(photo->image->orientation(), Image::Up);
  if (reduced) *reduced = photo->reducedWhileDecoding;
  if (denominator) *denominator = photo->scaleDenominator;
  return photo->image;
}

TEST(PhotoLoad, PhotosThatNeedNoReductionGiveExactlyTheNormalisedBytes) {
  const auto photo = test::photoLikeImage(300, 200, 5);
  for (int tag = 0; tag < 8; ++tag) {
    SCOPED_TRACE("tag " + std::to_string(tag));
    const auto jpeg = jpegOf(photo->withOrientation(tag));
    bool reduced = true;
    auto image = loaded(jpeg, 800, &reduced);
    ASSERT_TRUE(image);
    EXPECT_FALSE(reduced);
    EXPECT_TRUE(test::imagesEqual(*image, *decodeThenNormalise(jpeg, 800)));
  }
  const auto png = *encodePng(*test::randomTranslucentImage(90, 70));
  auto image = loaded(png, 64);
  ASSERT_TRUE(image);
  EXPECT_TRUE(test::imagesEqual(*image, *normalizeImage(*decode(png), 64)));
}

TEST(PhotoLoad, ReducingRowsAsTheyArriveGivesTheBytesOfTheDrawing) {
  // Reduced to a little over half: no DCT scaling, only the rows reduced as
  // they come, which for a picture this much larger than its result is the
  // drawing's own arithmetic (columns combined first).
  const auto jpeg = jpegOf(test::photoLikeImage(1000, 750, 3));
  bool reduced = false;
  int denominator = 0;
  auto image = loaded(jpeg, 512, &reduced, &denominator);
  ASSERT_TRUE(image);
  EXPECT_TRUE(reduced);
  EXPECT_EQ(denominator, 1);
  EXPECT_TRUE(test::imagesEqual(*image, *decodeThenNormalise(jpeg, 512)));
  // A large one is reduced on a thread of its own while it is decoded.
  const auto large = jpegOf(test::photoLikeImage(2400, 1800, 4));
  auto reducedLarge = loaded(large, 1300, &reduced, &denominator);
  ASSERT_TRUE(reducedLarge);
  EXPECT_EQ(denominator, 1);
  EXPECT_TRUE(test::imagesEqual(*reducedLarge, *decodeThenNormalise(large, 1300)));
  // Turned and mirrored pictures are reduced in the bitmap's orientation
  // and turned afterwards: the same picture within rounding.
  for (int tag : {Image::Down, Image::Right, Image::LeftMirrored}) {
    SCOPED_TRACE("tag " + std::to_string(tag));
    const auto tagged = jpegOf(test::photoLikeImage(1000, 750, 3)->withOrientation(tag));
    auto turned = loaded(tagged, 512);
    ASSERT_TRUE(turned);
    EXPECT_TRUE(test::imagesNear(*turned, *decodeThenNormalise(tagged, 512), 1));
  }
}

TEST(PhotoLoad, DctScaledDecodingStaysCloseToTheFullDecode) {
  // Against the full decode and area averaging, on a photo-like picture
  // with fine noise: largest error at most 10, mean error at most 1 (measured
  // here: largest 2–5, mean 0.17–0.50 over these cases).
  struct Case {
    int width, height, maxResolution, denominator, tag;
  };
  for (const Case c : {Case{1600, 1200, 800, 2, Image::Up}, Case{1600, 1200, 400, 4, Image::Right},
                       Case{2400, 1800, 300, 8, Image::Up}, Case{1800, 2400, 800, 2, Image::Down},
                       Case{2400, 1800, 500, 4, Image::RightMirrored}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " to " +
                 std::to_string(c.maxResolution) + ", tag " + std::to_string(c.tag));
    const auto jpeg = jpegOf(test::photoLikeImage(c.width, c.height, 9)->withOrientation(c.tag));
    int denominator = 0;
    auto image = loaded(jpeg, c.maxResolution, nullptr, &denominator);
    ASSERT_TRUE(image);
    EXPECT_EQ(denominator, c.denominator);
    auto reference = decodeThenNormalise(jpeg, c.maxResolution);
    const auto d = test::compareImages(*image, *reference);
    ASSERT_TRUE(d.sameSize) << image->width() << "x" << image->height() << " against "
                            << reference->width() << "x" << reference->height();
    std::printf("  %dx%d to %d at 1/%d: %s\n", c.width, c.height, c.maxResolution, denominator,
                d.describe().c_str());
    EXPECT_LE(d.maxError, 10) << d.describe();
    EXPECT_LE(d.meanError, 1.0) << d.describe();
  }
}

TEST(PhotoLoad, OpaqueStaysOpaqueWhenASideRoundsBelowOnePixel) {
  // 1 × 3000 white reduced to 800 high: the column still covers its pixel.
  for (const auto& [w, h] : {std::pair{1, 3000}, std::pair{3000, 1}, std::pair{2, 3000}}) {
    for (int tag : {Image::Up, Image::Right, Image::DownMirrored, Image::LeftMirrored}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " tag " + std::to_string(tag));
      const auto white = test::solidImage(w, h, {255, 255, 255, 255}, tag);
      for (const ImageRef& image :
           {normalizeImage(white, 800), loaded(jpegOf(white, 0.95f), 800)}) {
        ASSERT_TRUE(image);
        const bool swapped = tag == Image::Right || tag == Image::LeftMirrored;
        const bool tall = (h > w) != swapped;
        EXPECT_EQ(tall ? image->height() : image->width(), 800);
        EXPECT_EQ(tall ? image->width() : image->height(), 1);
        for (int y = 0; y < image->height(); ++y)
          for (int x = 0; x < image->width(); ++x) {
            ASSERT_EQ(pixelAt(*image, x, y).a, 255) << x << "," << y;
            ASSERT_GE(pixelAt(*image, x, y).r, 250) << x << "," << y;
          }
      }
    }
  }
}

// The bytes of a baseline JPEG's entropy-coded scan: from after the SOS
// segment to the end marker.
std::pair<std::size_t, std::size_t> scanOf(const std::vector<std::uint8_t>& jpeg) {
  for (std::size_t i = 2; i + 4 < jpeg.size();) {
    const std::size_t length = (std::size_t{jpeg[i + 2]} << 8) | jpeg[i + 3];
    if (jpeg[i + 1] == 0xDA) return {i + 2 + length, jpeg.size() - 2};
    i += 2 + length;
  }
  return {0, 0};
}

TEST(PhotoLoad, AJpegWithoutItsEndMarkerKeepsEveryPixel) {
  const auto photo = test::photoLikeImage(120, 90, 4);
  const auto whole = jpegOf(photo);
  ASSERT_EQ(whole[whole.size() - 1], 0xD9);
  const std::vector<std::uint8_t> cut(whole.begin(), whole.end() - 2);
  auto strict = decode(cut);
  ASSERT_TRUE(strict.ok()) << strict.error().description;
  EXPECT_TRUE(test::imagesEqual(**strict, **decode(whole)));
  auto photoLoaded = loadPhoto(cut, 800);
  ASSERT_TRUE(photoLoaded.ok()) << photoLoaded.error().description;
  ASSERT_EQ(photoLoaded->warnings.size(), 1u);
  EXPECT_NE(photoLoaded->warnings[0].find("end marker"), std::string::npos);
  // Cut inside the scan: the rows below are not in the file.
  for (std::size_t drop : {std::size_t{12}, whole.size() / 2}) {
    const std::vector<std::uint8_t> truncated(whole.begin(), whole.end() - drop);
    auto r = loadPhoto(truncated, 800);
    ASSERT_FALSE(r.ok()) << "cut by " << drop;
    EXPECT_EQ(r.error().code, kCorrupt);
    EXPECT_NE(r.error().description.find("truncated"), std::string::npos);
    EXPECT_FALSE(decode(truncated).ok());
  }
}

TEST(PhotoLoad, GarbageInTheScanIsNeverTakenSilently) {
  // The bottom third of the scan overwritten with random bytes (none of them
  // 0xFF, which would start a marker and stop the decoder at once): the
  // decoder gets through, but says so.
  const auto whole = jpegOf(test::photoLikeImage(160, 120, 6));
  const auto [begin, end] = scanOf(whole);
  ASSERT_LT(begin, end);
  int warned = 0;
  for (unsigned seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 gen(seed);
    auto damaged = whole;
    for (std::size_t i = begin + (end - begin) * 2 / 3; i < end - 16; ++i)
      damaged[i] = static_cast<std::uint8_t>(gen() % 255);  // no marker among them
    auto r = loadPhoto(damaged, 800);
    if (r.ok()) {
      ASSERT_FALSE(r->warnings.empty()) << "damaged data taken without a word";
      EXPECT_NE(r->warnings[0].find("damaged JPEG data"), std::string::npos) << r->warnings[0];
      ++warned;
    }
  }
  EXPECT_GT(warned, 0);
}

TEST(PhotoLoad, DevicesArePickedOutByTheirFirstBytes) {
  const auto t0 = std::chrono::steady_clock::now();
  auto zero = readImageFile("/dev/zero");
  ASSERT_FALSE(zero.ok());
  EXPECT_EQ(zero.error().code, kNotAnImage);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));

  // A named pipe is read to its end like a file.
  test::TempDir dir;
  const auto fifo = dir / "photo.pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto png = *encodePng(*test::photoLikeImage(40, 30));
  std::thread writer([&] {
    std::ofstream out(fifo, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  });
  auto read = loadPhotoFile(fifo, 800);
  writer.join();
  ASSERT_TRUE(read.ok()) << read.error().description;
  EXPECT_EQ(read->image->width(), 40);
}

TEST(PhotoLoad, JpegOfATranslucentPictureIsLaidOverWhite) {
  // Grey 128 at half alpha is stored premultiplied as 64; over white it is
  // about 191, not the 64 it would be over black.
  const auto half = test::solidImage(16, 16, {128, 64, 64, 64});
  auto jpeg = decode(jpegOf(half, 0.95f));
  ASSERT_TRUE(jpeg.ok());
  const auto p = pixelAt(**jpeg, 8, 8);
  EXPECT_EQ(p.a, 255);
  EXPECT_NEAR(p.r, 191, 3);
  EXPECT_NEAR(p.b, 191, 3);
  // Fully transparent is white; opaque pixels keep their colour.
  auto clear = decode(jpegOf(test::solidImage(8, 8, {0, 0, 0, 0}), 0.95f));
  EXPECT_GE(pixelAt(**clear, 4, 4).g, 252);
  auto opaque = decode(jpegOf(test::solidImage(8, 8, {255, 10, 200, 30}), 0.95f));
  EXPECT_NEAR(pixelAt(**opaque, 4, 4).g, 200, 3);
}

}  // namespace
}  // namespace glowsnap
