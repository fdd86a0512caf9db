// ImageEditable: a decoded copy of an image kept for random pixel reads,
// independent of the engine's pixel buffer. Its memory holds each pixel as
// R, G, B, A (alpha last, premultiplied), the opposite of the engine's
// alpha-first layout.
#pragma once

#include <cstdint>

#include "engine/PixelBuffer.h"
#include "platform/graphics/Image.h"

namespace glowsnap {

class ImageEditable {
 public:
  ImageEditable() = default;
  ~ImageEditable();
  ImageEditable(const ImageEditable&) = delete;
  ImageEditable& operator=(const ImageEditable&) = delete;

  // Copies the image's bitmap (orientation not applied). Returns this holder,
  // or nothing when there is no image or the memory cannot be had; the
  // holder then stays empty (every read is black).
  ImageEditable* init_with_image(const ImageRef& image);

  // Channels of pixel (x, y) times the single-precision 1/255; black outside.
  rgb_color get_pixel_x(int x, int y) const;
  // Position (x, y) of a w × h frame mapped onto the image.
  rgb_color get_pixel_relative_x(int x, int y, int w, int h) const;

  unsigned width() const { return m_width; }
  void setWidth(unsigned width) { m_width = width; }
  unsigned height() const { return m_height; }
  void setHeight(unsigned height) { m_height = height; }

 private:
  std::uint8_t* m_img_data = nullptr;
  int bytesPerPixel = 4;
  int bytesPerRow = 0;
  int bitsPerComponent = 8;
  unsigned m_width = 0;
  unsigned m_height = 0;
  // How many pixels m_img_data really holds: setWidth/setHeight may claim
  // more, and a read must never leave the memory.
  std::uint64_t m_capacity = 0;
};

}  // namespace glowsnap
