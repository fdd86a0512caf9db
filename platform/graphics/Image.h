// Image: an immutable, shared bitmap of W × H pixels, four bytes each in the
// order alpha, red, green, blue (colour premultiplied by alpha), rows of W·4
// bytes with row 0 at the top, plus an orientation tag 0–7 that says how
// the bitmap must be turned to be seen upright.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/graphics/Geometry.h"

namespace glowsnap {

class Image;
using ImageRef = std::shared_ptr<const Image>;

class Image {
 public:
  enum Orientation : int {
    Up = 0,
    Down = 1,
    Left = 2,
    Right = 3,
    UpMirrored = 4,
    DownMirrored = 5,
    LeftMirrored = 6,
    RightMirrored = 7,
  };

  // pixels must hold width·height·4 bytes; nothing when it does not or the
  // size is not positive.
  static ImageRef create(int width, int height, std::vector<std::uint8_t> pixels,
                         int orientation = Up);

  int width() const { return width_; }    // bitmap columns
  int height() const { return height_; }  // bitmap rows
  int orientation() const { return orientation_; }
  // Width and height as seen upright: exchanged for tags 2, 3, 6 and 7.
  Size displaySize() const;
  std::size_t bytesPerRow() const { return static_cast<std::size_t>(width_) * 4; }
  const std::uint8_t* data() const { return pixels_->data(); }
  const std::vector<std::uint8_t>& pixels() const { return *pixels_; }

  // The same pixels under another orientation tag (shared, not copied).
  ImageRef withOrientation(int orientation) const;

 private:
  using Pixels = std::shared_ptr<const std::vector<std::uint8_t>>;
  Image(int width, int height, Pixels pixels, int orientation);
  int width_;
  int height_;
  int orientation_;
  Pixels pixels_;  // never null; shared between images that differ only by tag
};

}  // namespace glowsnap
