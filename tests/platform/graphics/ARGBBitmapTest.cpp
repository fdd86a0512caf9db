#include "platform/graphics/ARGBBitmap.h"

#include <gtest/gtest.h>

#include <limits>

namespace glowsnap {
namespace {

std::string stderrOf(int width, int height, bool* made) {
  ::testing::internal::CaptureStderr();
  auto context = CreateARGBBitmapContext(width, height);
  *made = context != nullptr;
  return ::testing::internal::GetCapturedStderr();
}

TEST(ARGBBitmap, MakesAZeroedCanvasSilently) {
  ::testing::internal::CaptureStderr();
  auto context = CreateARGBBitmapContext(3, 2);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  ASSERT_TRUE(context);
  EXPECT_EQ(context->width(), 3);
  EXPECT_EQ(context->height(), 2);
  EXPECT_EQ(context->bytesPerRow(), 12u);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(context->data()[i], 0) << i;
}

TEST(ARGBBitmap, FailuresWriteTheirTextAndGiveNothing) {
  bool made = true;
  EXPECT_EQ(stderrOf(0, 10, &made), "Context not created!");
  EXPECT_FALSE(made);
  EXPECT_EQ(stderrOf(10, -1, &made), "Context not created!");
  EXPECT_FALSE(made);
  // Both negative would multiply to a positive size.
  EXPECT_EQ(stderrOf(-100, -100, &made), "Context not created!");
  EXPECT_FALSE(made);
  // width·4·height overflows 32 bits, and passes the limit.
  const int big = std::numeric_limits<int>::max();
  EXPECT_EQ(stderrOf(big, big, &made), "Memory not allocated!");
  EXPECT_FALSE(made);
  EXPECT_EQ(stderrOf(20000, 20000, &made), "Memory not allocated!");
  EXPECT_FALSE(made);
}

}  // namespace
}  // namespace glowsnap
