// QtImage: conversions between glowsnap::Image (bytes alpha, red, green,
// blue, premultiplied, plus an orientation tag) and QImage, whose
// ARGB32_Premultiplied format keeps each pixel as a native-endian 32-bit
// word and is therefore BGRA in memory on little-endian machines.
#pragma once

#include <QImage>

#include "platform/graphics/Image.h"

namespace glowsnap {

class QtImage {
 public:
  // The bitmap as stored, the orientation tag not applied.
  static QImage toQImage(const Image& image);
  // The picture as seen upright: the orientation tag applied.
  static QImage toUprightQImage(const Image& image);
  // A new image (orientation Up) from any QImage; nothing for a null image.
  static ImageRef fromQImage(const QImage& image);
};

}  // namespace glowsnap
