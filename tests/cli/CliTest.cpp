// The glowsnap command run as a user runs it: a separate process, real files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "cli/CliSupport.h"
#include "platform/graphics/ImageIO.h"
#include "support/TestSupport.h"

namespace glowsnap {
namespace {

// More Colors per pixel: saturation 1.6 around a luminance with the weights
// 0.33, 0.59, 0.11 taken in double precision.
std::uint8_t storeByte(float v) {
  if (!(v > 0.0f)) return 0;
  if (v > 1.0f) v = 1.0f;
  return static_cast<std::uint8_t>(v * 255.0f);
}

TEST(Cli, ListShowsTheEightOfferedFiltersInCatalogueOrder) {
  test::TempDir dir;
  auto r = glowsnap(dir, {"list"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "HDR Classic\nHDR Color+\nBloom\nHDR Night mode\nArt Contour HDR\nSoft Edges HDR\n"
            "More Contrast\nMore Colors\n");
  auto all = glowsnap(dir, {"list", "--all"});
  EXPECT_EQ(all.out, r.out + "Denoise (library)\nNormalize (library)\nFlash Low (library)\n");
}

TEST(Cli, MoreColorsWritesExactlyTheBytesOfItsArithmetic) {
  test::TempDir dir;
  auto photo = makePhoto(97, 61);
  auto in = writePng(dir, "in.png", photo);
  auto out = dir / "out.png";
  auto r = glowsnap(
      dir, {"apply", "-f", "More Colors", in.string(), "-o", out.string(), "--progress", "none"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto result = imageio::decodeFile(out);
  ASSERT_TRUE(result.ok());
  ASSERT_EQ((*result)->width(), 97);
  ASSERT_EQ((*result)->height(), 61);
  const auto* src = photo->data();
  const auto* dst = (*result)->data();
  const float k = 1.0f / 255.0f;
  for (size_t i = 0; i < static_cast<size_t>(97 * 61); ++i) {
    float r0 = src[i * 4 + 1] * k, g0 = src[i * 4 + 2] * k, b0 = src[i * 4 + 3] * k;
    float lum = static_cast<float>(r0 * 0.33 + g0 * 0.59 + b0 * 0.11);
    float s = 1.6f;
    std::uint8_t expect[4] = {255, storeByte(lum + s * (r0 - lum)), storeByte(lum + s * (g0 - lum)),
                              storeByte(lum + s * (b0 - lum))};
    ASSERT_EQ(0, std::memcmp(expect, dst + i * 4, 4)) << "pixel " << i;
  }
}

TEST(Cli, ProgressLinesAreTheEngineNotifications) {
  test::TempDir dir;
  auto in = writePng(dir, "sq.png", makePhoto(120, 120));
  auto r = glowsnap(dir, {"apply", "-f", "More Contrast", in.string(), "-o",
                          (dir / "o.png").string(), "--progress", "lines"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0.000000\n0.000000\n25.000000\n50.000000\n75.000000\nsearchEnd\n");
}

TEST(Cli, MaxResolutionCapsTheLongestSideAndTimingsAreReported) {
  test::TempDir dir;
  auto in = writePng(dir, "wide.png", makePhoto(1000, 500));
  auto out = dir / "wide.jpg";
  auto r = glowsnap(dir, {"apply", "-f", "More Colors", "--max-res", "320", "--timings",
                          "--progress", "none", in.string(), "-o", out.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  auto img = imageio::decodeFile(out);
  ASSERT_TRUE(img.ok());
  EXPECT_EQ((*img)->width(), 320);
  EXPECT_EQ((*img)->height(), 160);
  for (const char* word : {"decode", "normalise", "filter", "encode"})
    EXPECT_NE(r.err.find(word), std::string::npos) << r.err;
}

TEST(Cli, BadInputsAreReportedOnOneLineAndTheBatchGoesOn) {
  test::TempDir dir;
  auto good = writePng(dir, "good.png", makePhoto(40, 30));
  std::ofstream(dir / "notes.png") << "this is not a picture";
  auto png = slurp(good);
  std::ofstream(dir / "cut.png", std::ios::binary) << png.substr(0, png.size() / 2);
  std::ofstream(dir / "empty.jpg", std::ios::binary);
  std::filesystem::create_directory(dir / "out");
  auto r = glowsnap(
      dir, {"apply", "-f", "More Colors", "--progress", "none", (dir / "missing.png").string(),
            (dir / "notes.png").string(), (dir / "cut.png").string(), (dir / "empty.jpg").string(),
            good.string(), "-o", (dir / "out").string()});
  EXPECT_EQ(r.status, 3);
  for (const char* name : {"missing.png", "notes.png", "cut.png", "empty.jpg"})
    EXPECT_NE(r.err.find(name), std::string::npos) << name << " not named in: " << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 4) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "good.png"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "notes.png"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "cut.png"));
  // Nothing half-written is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "out"), {}), 1);
}

TEST(Cli, UnknownFilterSuggestsTheClosestName) {
  test::TempDir dir;
  auto in = writePng(dir, "a.png", makePhoto(8, 8));
  auto r =
      glowsnap(dir, {"apply", "-f", "hdr clasic", in.string(), "-o", (dir / "b.png").string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("\"HDR Classic\""), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "b.png"));
}

TEST(Cli, UnwritableOutputFailsWithStatusFourAndLeavesNothing) {
  test::TempDir dir;
  auto in = writePng(dir, "a.png", makePhoto(8, 8));
  auto r = glowsnap(dir, {"apply", "-f", "More Colors", "--progress", "none", in.string(), "-o",
                          (dir / "no-such-dir" / "b.png").string()});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("b.png"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "no-such-dir"));
}

TEST(Cli, UsageErrorsExitWithTwo) {
  test::TempDir dir;
  EXPECT_EQ(glowsnap(dir, {"apply", "x.png"}).status, 2);  // no -o
  EXPECT_EQ(glowsnap(dir, {"apply", "--max-res", "0", "x.png", "-o", "y.png"}).status, 2);
  EXPECT_EQ(glowsnap(dir, {"apply", "--quality", "2", "x.png", "-o", "y.png"}).status, 2);
  EXPECT_EQ(glowsnap(dir, {"apply", "x.png", "-o", "y.bmp"}).status, 2);
  EXPECT_EQ(glowsnap(dir, {"frobnicate"}).status, 2);
  auto help = glowsnap(dir, {"apply", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--max-res"), std::string::npos);
}

}  // namespace
}  // namespace glowsnap
