// HdrOperations: the colour operations the filters of the HDR family share,
// written once. Internal to filters/; every recipe's arithmetic depends on
// the exact grouping and precision here, so change nothing without checking
// the byte-exact tests of every filter that uses it.
#pragma once

#include <cmath>
#include <cstdint>

#include "engine/MaskRecipe.h"
#include "engine/PixelBuffer.h"
#include "engine/PixelOperations.h"

namespace glowsnap::hdr {

// The family's snapshot reader (get_pixel_copy), one byte at a time: the
// byte divided by 255, unlike get_pixel's multiplication by the
// single-precision 1/255, so the two can differ in the last bit. Four of
// the six looks divide in double and narrow; for every byte that gives this
// same float, so one reader serves them all.
inline constexpr auto snapshot_channel = [](std::uint8_t byte) {
  return static_cast<float>(byte) / 255.0f;
};

// A look of the family: its steps (MaskRecipe.h) read the snapshot with the
// family's reader.
template <class... Steps>
constexpr auto look(Steps... steps) {
  return mask_recipe(snapshot_channel, steps...);
}

// Per channel (c − 0.5)·k + 0.5: k > 1 raises the contrast, k < 1 flattens.
inline float contrast_channel(float c, float k) { return (c - 0.5f) * k + 0.5f; }
inline rgb_color filter_contrast(float r, float g, float b, float k) {
  return {contrast_channel(r, k), contrast_channel(g, k), contrast_channel(b, k)};
}
inline rgb_color filter_contrast(rgb_color c, float k) { return filter_contrast(c.r, c.g, c.b, k); }

// The masks the looks make of the photo in pass 0: the mean of its
// channels; its inverse; the inverse of its luminance, weighted in double;
// the inverse of the mean of the photo brightened and given a hard contrast.
inline constexpr auto mean = [](rgb_color p) { return grey_of(p); };
inline constexpr auto inverted_mean = [](rgb_color p) { return 1.0f - grey_of(p); };
inline constexpr auto inverted_luminance = [](rgb_color p) {
  return 1.0f -
         static_cast<float>(static_cast<double>(p.r) * 0.299 + static_cast<double>(p.g) * 0.587 +
                            static_cast<double>(p.b) * 0.114);
};
inline constexpr auto inverted_hard_mean = [](rgb_color p) {
  return 1.0f - grey_of(filter_contrast(p.r + p.r, p.g + p.g, p.b + p.b, 3.0f));
};

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
