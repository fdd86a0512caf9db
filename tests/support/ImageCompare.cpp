#include "support/ImageCompare.h"

#include <cstdlib>
#include <sstream>

namespace glowsnap::test {

std::string ImageDifference::describe() const {
  std::ostringstream out;
  if (!sameSize) {
    out << "the sizes differ";
    return out.str();
  }
  static const char* kChannels[] = {"alpha", "red", "green", "blue"};
  out << "largest error " << maxError;
  if (maxError > 0) out << " at (" << x << ", " << y << ") in " << kChannels[channel];
  out << ", mean error " << meanError;
  return out.str();
}

ImageDifference compareImages(const Image& a, const Image& b) {
  ImageDifference d;
  d.sameSize = a.width() == b.width() && a.height() == b.height();
  if (!d.sameSize) return d;
  const std::uint8_t* pa = a.data();
  const std::uint8_t* pb = b.data();
  const std::size_t n = a.pixels().size();
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const int e = std::abs(int{pa[i]} - int{pb[i]});
    sum += static_cast<std::uint64_t>(e);
    if (e > d.maxError) {
      d.maxError = e;
      const std::size_t pixel = i / 4;
      d.x = static_cast<int>(pixel % static_cast<std::size_t>(a.width()));
      d.y = static_cast<int>(pixel / static_cast<std::size_t>(a.width()));
      d.channel = static_cast<int>(i % 4);
    }
  }
  d.meanError = n ? static_cast<double>(sum) / static_cast<double>(n) : 0.0;
  return d;
}

::testing::AssertionResult imagesNear(const Image& a, const Image& b, int tolerance) {
  const ImageDifference d = compareImages(a, b);
  if (!d.sameSize)
    return ::testing::AssertionFailure() << "sizes differ: " << a.width() << "x" << a.height()
                                         << " vs " << b.width() << "x" << b.height();
  if (d.maxError > tolerance)
    return ::testing::AssertionFailure() << d.describe() << " (tolerance " << tolerance << ")";
  return ::testing::AssertionSuccess() << d.describe();
}

::testing::AssertionResult imagesEqual(const Image& a, const Image& b) {
  return imagesNear(a, b, 0);
}

}  // namespace glowsnap::test
