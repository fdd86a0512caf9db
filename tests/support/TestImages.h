// Generated test pictures (ARGB premultiplied, row 0 at the top): smooth
// gradients, checkerboards, extreme and clipped colours, photo-like noise
// and a picture with four distinct quadrants for checking turns and mirrors.
// Every generator is deterministic for its arguments.
#pragma once

#include <cstdint>

#include "platform/graphics/Image.h"

namespace glowsnap::test {

// Packs a pixel as the bytes alpha, red, green, blue.
struct Argb {
  std::uint8_t a = 255, r = 0, g = 0, b = 0;
  bool operator==(const Argb&) const = default;
};

Argb pixelAt(const Image& image, int x, int y);

ImageRef solidImage(int width, int height, Argb colour, int orientation = Image::Up);
// Red rises left to right, green top to bottom, blue along the diagonal.
ImageRef gradientImage(int width, int height);
// Cells of cell × cell pixels alternating between two colours, starting with a.
ImageRef checkerboardImage(int width, int height, int cell, Argb a = {255, 255, 255, 255},
                           Argb b = {255, 0, 0, 0});
// Vertical bands of black, white, pure and clipped primaries and greys.
ImageRef extremesImage(int width, int height);
// A smooth field with fine noise, the way photos look to a filter.
ImageRef photoLikeImage(int width, int height, std::uint32_t seed = 1);
// Uniform random bytes with random alpha, colour premultiplied.
ImageRef randomTranslucentImage(int width, int height, std::uint32_t seed = 1);
// Four quadrants of distinct colours, so that any turn or mirror shows even
// after scaling: top-left red, top-right green, bottom-left blue,
// bottom-right white.
ImageRef cornersImage(int width, int height, int orientation = Image::Up);

inline constexpr Argb kTopLeft{255, 255, 0, 0};
inline constexpr Argb kTopRight{255, 0, 255, 0};
inline constexpr Argb kBottomLeft{255, 0, 0, 255};
inline constexpr Argb kBottomRight{255, 255, 255, 255};

}  // namespace glowsnap::test
