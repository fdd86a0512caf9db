#include "engine/ImageEditable.h"

#include <cstdlib>

namespace glowsnap {

ImageEditable::~ImageEditable() { std::free(m_img_data); }

ImageEditable* ImageEditable::init_with_image(const ImageRef& image) {
  std::free(m_img_data);
  m_img_data = nullptr;
  m_width = m_height = 0;
  bytesPerRow = 0;
  m_capacity = 0;
  if (!image) return nullptr;
  const std::uint64_t count = static_cast<std::uint64_t>(image->width()) * image->height();
  m_img_data = static_cast<std::uint8_t*>(std::malloc(count * 4));
  if (m_img_data == nullptr) return nullptr;
  // The image is drawn at its own size, which is an exact copy: only the
  // byte order within a pixel changes, A,R,G,B to R,G,B,A.
  const std::uint8_t* src = image->data();
  for (std::uint64_t i = 0; i < count; ++i) {
    m_img_data[i * 4 + 0] = src[i * 4 + 1];
    m_img_data[i * 4 + 1] = src[i * 4 + 2];
    m_img_data[i * 4 + 2] = src[i * 4 + 3];
    m_img_data[i * 4 + 3] = src[i * 4 + 0];
  }
  m_width = static_cast<unsigned>(image->width());
  m_height = static_cast<unsigned>(image->height());
  bytesPerRow = image->width() * bytesPerPixel;
  m_capacity = count;
  return this;
}

rgb_color ImageEditable::get_pixel_x(int x, int y) const {
  if (x >= 0 && y >= 0 && static_cast<unsigned>(x) < m_width &&
      static_cast<unsigned>(y) < m_height) {
    const std::uint64_t offset =
        static_cast<std::uint64_t>(x) * bytesPerPixel + static_cast<std::uint64_t>(y) * bytesPerRow;
    if (offset / 4 < m_capacity) {
      const std::uint8_t* p = m_img_data + offset;
      return {static_cast<float>(p[0]) * kByteToUnit, static_cast<float>(p[1]) * kByteToUnit,
              static_cast<float>(p[2]) * kByteToUnit};
    }
  }
  return {0.0f, 0.0f, 0.0f};
}

rgb_color ImageEditable::get_pixel_relative_x(int x, int y, int w, int h) const {
  // An empty frame maps nowhere; dividing by it would make the position
  // undefined.
  if (w <= 0 || h <= 0) return {0.0f, 0.0f, 0.0f};
  return get_pixel_x(
      static_cast<int>(static_cast<float>(x) / static_cast<float>(w) * static_cast<float>(m_width)),
      static_cast<int>(static_cast<float>(y) / static_cast<float>(h) *
                       static_cast<float>(m_height)));
}

}  // namespace glowsnap
