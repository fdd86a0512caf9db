// Comparing two images byte by byte: the largest difference of any channel
// and where it is, for tests that allow a tolerance (resampling, lossy
// codecs) and for exact comparisons that should say where they failed.
#pragma once

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "platform/graphics/Image.h"

namespace glowsnap::test {

struct ImageDifference {
  bool sameSize = false;
  int maxError = 0;      // largest absolute difference of one channel byte
  int x = -1, y = -1;    // the first pixel where it occurs
  int channel = -1;      // 0 alpha, 1 red, 2 green, 3 blue
  double meanError = 0;  // mean absolute difference over all channel bytes
  std::string describe() const;
};

ImageDifference compareImages(const Image& a, const Image& b);

// Succeeds when the sizes agree and no channel differs by more than tolerance.
::testing::AssertionResult imagesNear(const Image& a, const Image& b, int tolerance);
// Succeeds when the sizes and every byte agree.
::testing::AssertionResult imagesEqual(const Image& a, const Image& b);

}  // namespace glowsnap::test
