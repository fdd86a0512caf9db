#include "platform/graphics/Image.h"

#include <limits>

namespace glowsnap {

ImageRef Image::create(int width, int height, std::vector<std::uint8_t> pixels, int orientation) {
  if (width <= 0 || height <= 0) return nullptr;
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  if (w > std::numeric_limits<std::size_t>::max() / 4 / h) return nullptr;
  if (pixels.size() != w * h * 4) return nullptr;
  auto shared = std::make_shared<const std::vector<std::uint8_t>>(std::move(pixels));
  return ImageRef(new Image(width, height, std::move(shared), orientation));
}

Image::Image(int width, int height, Pixels pixels, int orientation)
    : width_(width), height_(height), orientation_(orientation), pixels_(std::move(pixels)) {}

Size Image::displaySize() const {
  const auto w = static_cast<float>(width_);
  const auto h = static_cast<float>(height_);
  switch (orientation_) {
    case Left:
    case Right:
    case LeftMirrored:
    case RightMirrored:
      return {h, w};
    default:
      return {w, h};
  }
}

ImageRef Image::withOrientation(int orientation) const {
  return ImageRef(new Image(width_, height_, pixels_, orientation));
}

}  // namespace glowsnap
