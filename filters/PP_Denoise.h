// PP_Denoise: "Denoise" (in the library, not offered in the catalogue). A
// per-channel sigma filter: each channel becomes the mean of the values of
// that channel in a 6 × 6 window that lie within 0.28 of it.
#pragma once

#include <cmath>
#include <string>

#include "engine/PostProcessFilter.h"

namespace glowsnap {

class PP_Denoise : public PostProcessFilter<PP_Denoise> {
 public:
  std::string get_name() const override;

  rgb_color compute_pixel(int x, int y, int /*pass*/) const {
    return do_denoise(x, y, kRadius, kThreshold);
  }

  // The same pass with every window read from rows of floats (WindowPass.h).
  FastPass window_pass(int /*pass*/, WindowPass& run) {
    return run.selective_mean(kRadius, [](float c0, float c) { return near(c0, c, kThreshold); });
  }

  static constexpr int kRadius = 3;
  static constexpr float kThreshold = 0.28f;

  // Whether window value c is close enough to the pixel's own c0 to count.
  static bool near(float c0, float c, float t) { return std::fabs(c - c0) < t; }

  // The window runs from r before the pixel to r − 1 after it in both
  // directions (not centred); positions outside the image read black.
  static rgb_color do_denoise(int x, int y, int r, float t) {
    const rgb_color c0 = get_pixel(x, y);
    rgb_color sum = {0.0f, 0.0f, 0.0f};
    int nr = 0;
    int ng = 0;
    int nb = 0;
    for (int i = x - r; i < x + r; ++i) {
      for (int j = y - r; j < y + r; ++j) {
        const rgb_color c = get_pixel(i, j);
        if (near(c0.r, c.r, t)) {
          sum.r += c.r;
          ++nr;
        }
        if (near(c0.g, c.g, t)) {
          sum.g += c.g;
          ++ng;
        }
        if (near(c0.b, c.b, t)) {
          sum.b += c.b;
          ++nb;
        }
      }
    }
    // The pixel itself is in its window and always passes, so no count is 0.
    return {sum.r / static_cast<float>(nr), sum.g / static_cast<float>(ng),
            sum.b / static_cast<float>(nb)};
  }
};

}  // namespace glowsnap
