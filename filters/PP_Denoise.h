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

  rgb_color compute_pixel(int x, int y, int /*pass*/) const { return do_denoise(x, y, 3, 0.28f); }

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
        if (std::fabs(c.r - c0.r) < t) {
          sum.r += c.r;
          ++nr;
        }
        if (std::fabs(c.g - c0.g) < t) {
          sum.g += c.g;
          ++ng;
        }
        if (std::fabs(c.b - c0.b) < t) {
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
