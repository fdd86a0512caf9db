#include "platform/qt/QtImage.h"

#include <QTransform>

namespace glowsnap {

QImage QtImage::toQImage(const Image& image) {
  QImage out(image.width(), image.height(), QImage::Format_ARGB32_Premultiplied);
  if (out.isNull()) return out;
  const std::uint8_t* src = image.data();
  for (int y = 0; y < image.height(); ++y) {
    auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
    const std::uint8_t* row = src + static_cast<std::size_t>(y) * image.bytesPerRow();
    for (int x = 0; x < image.width(); ++x) {
      const std::uint8_t* p = row + static_cast<std::size_t>(x) * 4;
      dst[x] = (QRgb(p[0]) << 24) | (QRgb(p[1]) << 16) | (QRgb(p[2]) << 8) | QRgb(p[3]);
    }
  }
  return out;
}

QImage QtImage::toUprightQImage(const Image& image) {
  QImage raw = toQImage(image);
  if (raw.isNull()) return raw;
  switch (image.orientation()) {
    case Image::Up:
      return raw;
    case Image::Down:
      return raw.transformed(QTransform().rotate(180));
    case Image::Left:
      return raw.transformed(QTransform().rotate(-90));
    case Image::Right:
      return raw.transformed(QTransform().rotate(90));
    case Image::UpMirrored:
      return raw.mirrored(true, false);
    case Image::DownMirrored:
      return raw.mirrored(false, true);
    case Image::LeftMirrored:
      return raw.mirrored(true, false).transformed(QTransform().rotate(-90));
    case Image::RightMirrored:
      return raw.mirrored(true, false).transformed(QTransform().rotate(90));
    default:
      return raw;
  }
}

ImageRef QtImage::fromQImage(const QImage& image) {
  if (image.isNull()) return nullptr;
  const QImage src = image.format() == QImage::Format_ARGB32_Premultiplied
                         ? image
                         : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const int w = src.width();
  const int h = src.height();
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(src.constScanLine(y));
    std::uint8_t* dst = pixels.data() + static_cast<std::size_t>(y) * w * 4;
    for (int x = 0; x < w; ++x) {
      const QRgb v = row[x];
      dst[x * 4 + 0] = static_cast<std::uint8_t>(v >> 24);
      dst[x * 4 + 1] = static_cast<std::uint8_t>(v >> 16);
      dst[x * 4 + 2] = static_cast<std::uint8_t>(v >> 8);
      dst[x * 4 + 3] = static_cast<std::uint8_t>(v);
    }
  }
  return Image::create(w, h, std::move(pixels));
}

}  // namespace glowsnap
