#include "platform/graphics/ARGBBitmap.h"

#include <cstdint>
#include <cstdio>

namespace glowsnap {

std::unique_ptr<BitmapContext> CreateARGBBitmapContext(int width, int height) {
  // The device RGB colour space is implicit in the canvas and cannot be
  // missing here, so "Error allocating color space\n" is never written.
  if (width <= 0 || height <= 0) {
    std::fputs("Context not created!", stderr);
    return nullptr;
  }
  const std::uint64_t bytes =
      static_cast<std::uint64_t>(width) * 4u * static_cast<std::uint64_t>(height);
  if (bytes > kMaxBitmapBytes) {
    std::fputs("Memory not allocated!", stderr);
    return nullptr;
  }
  auto context = BitmapContext::create(width, height);
  if (!context) {
    std::fputs("Memory not allocated!", stderr);
    return nullptr;
  }
  return context;
}

}  // namespace glowsnap
