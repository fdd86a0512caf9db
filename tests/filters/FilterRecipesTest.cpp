// Every filter against the pass scheme (a replay outside the engine) and
// against the numbers its recipe gives for simple photos.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FilterHarness.h"
#include "filters/FilterCatalogue.h"
#include "filters/PP_Denoise.h"
#include "filters/PP_FlashLow.h"
#include "filters/PP_HDR.h"
#include "filters/PP_HDR2.h"
#include "filters/PP_HDR3.h"
#include "filters/PP_HDR4.h"
#include "filters/PP_HDR5.h"
#include "filters/PP_HDR6.h"
#include "filters/PP_MoreColors.h"
#include "filters/PP_MoreContrast.h"
#include "filters/PP_Normalize.h"
#include "support/ImageCompare.h"

namespace glowsnap {
namespace {

using test::Argb;
using test::pixelAt;

// --- The pass scheme, per filter ---

template <typename Filter>
class FilterPassScheme : public ::testing::Test {};

using AllFilters =
    ::testing::Types<PP_HDR, PP_HDR2, PP_HDR3, PP_HDR4, PP_HDR5, PP_HDR6, PP_MoreColors,
                     PP_MoreContrast, PP_Denoise, PP_Normalize, PP_FlashLow>;
TYPED_TEST_SUITE(FilterPassScheme, AllFilters);

TYPED_TEST(FilterPassScheme, EngineRunEqualsThePassByPassReplay) {
  ImageRef photo = test::photoLikeImage(67, 45, 11);
  TypeParam filter;
  ImageRef result = test::applyFilter(filter, photo);
  ASSERT_TRUE(result);
  const std::vector<std::uint8_t> expected = test::replayPasses<TypeParam>(*photo);
  ImageRef replay = Image::create(67, 45, expected);
  EXPECT_TRUE(test::imagesEqual(*result, *replay));
}

template <typename Filter>
class HdrPassScheme : public ::testing::Test {};

using HdrFilters = ::testing::Types<PP_HDR, PP_HDR2, PP_HDR3, PP_HDR4, PP_HDR5, PP_HDR6>;
TYPED_TEST_SUITE(HdrPassScheme, HdrFilters);

TYPED_TEST(HdrPassScheme, LastPassReadsTheStoredMaskAndTheSnapshot) {
  // Halving the stored output of the second-to-last pass must change the
  // result (the last pass reads the mask through the buffer), and so must
  // replacing the photo saved in the snapshot after pass 0 (the last pass
  // takes the photo's colours from there, not from anywhere else).
  ImageRef photo = test::photoLikeImage(40, 30, 5);
  const int passes = TypeParam().get_num_passes();
  const auto plain = test::replayPasses<TypeParam>(*photo);
  const auto halvedMask = test::replayPasses<TypeParam>(
      *photo, [&](int pass, std::vector<std::uint8_t>& buffer, std::vector<std::uint8_t>&) {
        if (pass != passes - 2) return;
        for (std::size_t i = 0; i < buffer.size(); i += 4)
          for (int c = 1; c < 4; ++c) buffer[i + c] = static_cast<std::uint8_t>(buffer[i + c] / 2);
      });
  EXPECT_NE(plain, halvedMask);
  const auto otherPhoto = test::replayPasses<TypeParam>(
      *photo, [&](int pass, std::vector<std::uint8_t>&, std::vector<std::uint8_t>& snapshot) {
        if (pass != 0) return;
        for (std::size_t i = 0; i < snapshot.size(); i += 4)
          for (int c = 1; c < 4; ++c)
            snapshot[i + c] = static_cast<std::uint8_t>(255 - snapshot[i + c]);
      });
  EXPECT_NE(plain, otherPhoto);
}

TYPED_TEST(HdrPassScheme, SnapshotHoldsThePhotoBytesAfterPassZero) {
  ImageRef photo = test::photoLikeImage(24, 16, 9);
  std::vector<std::uint8_t> saved;
  test::replayPasses<TypeParam>(
      *photo, [&](int pass, std::vector<std::uint8_t>&, std::vector<std::uint8_t>& snapshot) {
        if (pass == 0) saved = snapshot;
      });
  EXPECT_EQ(saved, photo->pixels());
}

// --- Numbers for simple photos, away from the borders ---

struct Example {
  const char* filter;
  Argb photo;
  Argb expected;
  int tolerance;  // 0 where the recipe's result is given exactly
};

void PrintTo(const Example& e, std::ostream* os) {
  *os << e.filter << " (" << int(e.photo.r) << "," << int(e.photo.g) << "," << int(e.photo.b)
      << ")";
}

class FilterExamples : public ::testing::TestWithParam<Example> {};

TEST_P(FilterExamples, CentreOfAnEvenPhoto) {
  const Example e = GetParam();
  FilterCatalogue catalogue;
  PostProcess* filter = catalogue.findAnyFilter(e.filter);
  ASSERT_NE(filter, nullptr);
  ImageRef result = test::applyFilter(*filter, test::solidImage(48, 48, e.photo));
  ASSERT_TRUE(result);
  const Argb got = pixelAt(*result, 24, 24);
  EXPECT_NEAR(got.r, e.expected.r, e.tolerance);
  EXPECT_NEAR(got.g, e.expected.g, e.tolerance);
  EXPECT_NEAR(got.b, e.expected.b, e.tolerance);
  EXPECT_EQ(got.a, 255);
}

Argb grey(int v) {
  return {255, static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v),
          static_cast<std::uint8_t>(v)};
}
constexpr Argb kOrange{255, 200, 100, 50};

INSTANTIATE_TEST_SUITE_P(
    Recipes, FilterExamples,
    ::testing::Values(
        // More Colors and More Contrast: exact.
        Example{"More Colors", kOrange, {255, 241, 81, 1}, 0},
        Example{"More Colors", grey(128), grey(125), 0},
        Example{"More Contrast", grey(0), grey(0), 0},
        Example{"More Contrast", grey(10), grey(0), 0},
        Example{"More Contrast", grey(128), grey(128), 0},
        Example{"More Contrast", grey(200), grey(221), 0},
        Example{"More Contrast", grey(255), grey(255), 0},
        // HDR Color+.
        Example{"HDR Color+", grey(0), grey(0), 0}, Example{"HDR Color+", grey(255), grey(255), 0},
        Example{"HDR Color+", grey(128), grey(148), 1},
        Example{"HDR Color+", grey(30), grey(44), 1},
        // Bloom.
        Example{"Bloom", grey(0), grey(0), 0}, Example{"Bloom", grey(255), grey(255), 0},
        Example{"Bloom", grey(128), grey(161), 1},
        Example{"Bloom", kOrange, {255, 240, 120, 60}, 1},
        // HDR Night mode.
        Example{"HDR Night mode", grey(128), grey(128), 0},
        Example{"HDR Night mode", grey(30), grey(117), 1},
        Example{"HDR Night mode", grey(0), grey(0), 0},
        Example{"HDR Night mode", grey(255), grey(255), 0},
        Example{"HDR Night mode", kOrange, {255, 208, 104, 52}, 1},
        // HDR Classic.
        Example{"HDR Classic", grey(0), grey(6), 1},
        Example{"HDR Classic", grey(255), grey(243), 1},
        Example{"HDR Classic", grey(128), grey(124), 1},
        Example{"HDR Classic", grey(30), grey(72), 1},
        Example{"HDR Classic", kOrange, {255, 242, 82, 1}, 1},
        // Art Contour HDR.
        Example{"Art Contour HDR", grey(0), grey(0), 0},
        Example{"Art Contour HDR", grey(255), grey(253), 1},
        Example{"Art Contour HDR", grey(128), grey(99), 1},
        Example{"Art Contour HDR", grey(30), grey(80), 1},
        // Soft Edges HDR.
        Example{"Soft Edges HDR", grey(0), grey(0), 0},
        Example{"Soft Edges HDR", grey(255), grey(255), 0},
        Example{"Soft Edges HDR", grey(128), grey(126), 1},
        Example{"Soft Edges HDR", grey(30), grey(52), 1},
        // Denoise: an even photo's window mean is 36 equal values summed in
        // single precision and divided by 36, which for many bytes lands just
        // below the value and truncates one step lower.
        Example{"Denoise", kOrange, {255, 199, 99, 49}, 0}, Example{"Denoise", grey(3), grey(3), 0},
        Example{"Denoise", grey(255), grey(255), 0}, Example{"Denoise", grey(0), grey(0), 0},
        // Normalize: exact.
        Example{"Normalize", grey(0), grey(0), 0}, Example{"Normalize", grey(255), grey(255), 0},
        Example{"Normalize", grey(30), grey(124), 0}, Example{"Normalize", grey(128), grey(212), 0},
        Example{"Normalize", grey(10), grey(63), 0},
        Example{"Normalize", kOrange, {255, 255, 177, 88}, 0},
        // Flash Low.
        Example{"Flash Low", grey(0), grey(0), 0}, Example{"Flash Low", grey(255), grey(255), 0},
        Example{"Flash Low", grey(30), grey(65), 1}, Example{"Flash Low", grey(60), grey(93), 1},
        Example{"Flash Low", grey(128), grey(129), 1},
        Example{"Flash Low", grey(230), grey(227), 1},
        Example{"Flash Low", kOrange, {255, 201, 102, 52}, 1}));

TEST(FilterBorders, BlurPassesDarkenTheMaskNearTheBorder) {
  // Black outside the image: the mask of HDR Color+ (inverted luminance,
  // blurred at 2.5) is darker near the border, so a dark grey photo comes out
  // differently there than in the middle; further in it is even. (For mid
  // grey the two effects of the darker mask happen to cancel.)
  PP_HDR filter;
  ImageRef result = test::applyFilter(filter, test::solidImage(48, 48, grey(30)));
  ASSERT_TRUE(result);
  EXPECT_NE(pixelAt(*result, 0, 24), pixelAt(*result, 24, 24));
  EXPECT_NE(pixelAt(*result, 24, 47), pixelAt(*result, 24, 24));
  EXPECT_EQ(pixelAt(*result, 12, 24), pixelAt(*result, 24, 24));
}

TEST(FilterBorders, ArtContourDrawsADarkFrameAroundABrightPhoto) {
  PP_HDR5 filter;
  ImageRef result = test::applyFilter(filter, test::solidImage(48, 48, grey(255)));
  ASSERT_TRUE(result);
  EXPECT_LT(pixelAt(*result, 0, 24).r, pixelAt(*result, 24, 24).r / 2);
  EXPECT_LT(pixelAt(*result, 24, 0).r, pixelAt(*result, 24, 24).r / 2);
}

TEST(FilterBorders, DenoisePullsDarkPixelsNearTheBorderTowardsBlackOnly) {
  // The window reaches 3 before and 2 after the pixel: outside positions
  // read black and count for a dark channel, never for a bright one.
  PP_Denoise filter;
  ImageRef dark = test::applyFilter(filter, test::solidImage(20, 20, grey(40)));
  ASSERT_TRUE(dark);
  EXPECT_LT(pixelAt(*dark, 0, 10).r, 40);
  EXPECT_LT(pixelAt(*dark, 2, 10).r, 40);   // window reaches column −1
  EXPECT_EQ(pixelAt(*dark, 3, 10).r, 40);   // window starts at column 0
  EXPECT_LT(pixelAt(*dark, 18, 10).r, 40);  // reaches column 20
  EXPECT_EQ(pixelAt(*dark, 17, 10).r, 40);  // window ends at column 19
  ImageRef bright = test::applyFilter(filter, test::solidImage(20, 20, grey(200)));
  EXPECT_EQ(pixelAt(*bright, 0, 0), grey(200));
}

TEST(FilterBorders, DenoiseKeepsALonePeakAndItsNeighboursIgnoreIt) {
  std::vector<std::uint8_t> pixels(20 * 20 * 4, 0);
  for (std::size_t i = 0; i < pixels.size(); i += 4) pixels[i] = 255;
  const std::size_t peak = (10 * 20 + 10) * 4;
  pixels[peak + 1] = pixels[peak + 2] = pixels[peak + 3] = 255;
  PP_Denoise filter;
  ImageRef result = test::applyFilter(filter, Image::create(20, 20, pixels));
  ASSERT_TRUE(result);
  EXPECT_EQ(pixelAt(*result, 10, 10), grey(255));
  EXPECT_EQ(pixelAt(*result, 9, 10), grey(0));
  EXPECT_EQ(pixelAt(*result, 11, 11), grey(0));
}

}  // namespace
}  // namespace glowsnap
