// HdrOperations: the colour operations the filters of the HDR family share,
// written once. Internal to filters/; every recipe's arithmetic depends on
// the exact grouping and precision here, so change nothing without checking
// the byte-exact tests of every filter that uses it.
#pragma once

#include <cmath>
#include <cstdint>

#include "engine/PixelBuffer.h"

namespace glowsnap::hdr {

// Pixel (x, y) of the snapshot buffer, each byte divided by 255 (a division,
// unlike get_pixel's multiplication by the single-precision 1/255, so the two
// can differ in the last bit); black outside the image.
__attribute__((always_inline)) inline rgb_color get_pixel_copy(int x, int y) {
  if (x >= 0 && y >= 0 && x < g_width && y < g_height) {
    const std::uint8_t* p =
        gp_data_copy + (static_cast<std::int64_t>(y) * g_width + x) * (g_bpp / 8);
    return {static_cast<float>(p[1]) / 255.0f, static_cast<float>(p[2]) / 255.0f,
            static_cast<float>(p[3]) / 255.0f};
  }
  return {0.0f, 0.0f, 0.0f};
}

// The snapshot read the way Bloom, HDR Night mode, Art Contour HDR and Soft
// Edges HDR do it within their recipes: the byte divided by 255.0 in double
// and narrowed. For every byte value this gives the same float as
// get_pixel_copy; the two stay separate because they are written apart.
__attribute__((always_inline)) inline rgb_color read_snapshot_inline(int x, int y) {
  if (x >= 0 && y >= 0 && x < g_width && y < g_height) {
    const std::uint8_t* p =
        gp_data_copy + (static_cast<std::int64_t>(y) * g_width + x) * (g_bpp / 8);
    return {static_cast<float>(p[1] / 255.0), static_cast<float>(p[2] / 255.0),
            static_cast<float>(p[3] / 255.0)};
  }
  return {0.0f, 0.0f, 0.0f};
}

// Per channel (c − 0.5)·k + 0.5: k > 1 raises the contrast, k < 1 flattens.
inline float contrast_channel(float c, float k) { return (c - 0.5f) * k + 0.5f; }
inline rgb_color filter_contrast(float r, float g, float b, float k) {
  return {contrast_channel(r, k), contrast_channel(g, k), contrast_channel(b, k)};
}
inline rgb_color filter_contrast(rgb_color c, float k) { return filter_contrast(c.r, c.g, c.b, k); }

// From a towards b by t, per channel.
inline rgb_color blend(rgb_color a, rgb_color b, float t) {
  return {(b.r - a.r) * t + a.r, (b.g - a.g) * t + a.g, (b.b - a.b) * t + a.b};
}

// Soft light of blend value m onto base x: m = 0.5 keeps x, m = 0 gives x²,
// m = 1 gives a polynomial up to x = 0.25 and √x above.
inline float blend_soft_light_channel(float x, float m) {
  if (m <= 0.5f) {
    const double dx = x;
    return static_cast<float>(dx - ((static_cast<double>(m) * -2.0 + 1.0) * dx) * (1.0 - dx));
  }
  float d;
  if (x <= 0.25f) {
    const double dx = x;
    d = static_cast<float>(((16.0 * dx - 12.0) * dx + 4.0) * dx);
  } else {
    d = std::sqrt(x);
  }
  return ((m + m) - 1.0f) * (d - x) + x;
}

inline rgb_color blend_soft_light(rgb_color a, rgb_color b) {
  return {blend_soft_light_channel(a.r, b.r), blend_soft_light_channel(a.g, b.g),
          blend_soft_light_channel(a.b, b.b)};
}

}  // namespace glowsnap::hdr
