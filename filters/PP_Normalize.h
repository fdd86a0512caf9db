// PP_Normalize: "Normalize" (in the library, not offered in the catalogue).
// Every pixel is multiplied by a gain that depends on its own mean
// brightness: up to 7 for dark pixels, close to 1 for bright ones.
#pragma once

#include <cmath>
#include <string>

#include "engine/PostProcessFilter.h"

namespace glowsnap {

class PP_Normalize : public PostProcessFilter<PP_Normalize> {
 public:
  std::string get_name() const override;

  rgb_color compute_pixel(int x, int y, int /*pass*/) const {
    const rgb_color c = get_pixel(x, y);
    const float g = (c.r + c.g + c.b) / 3.0f;
    return {gamma_correct_color(c.r, g), gamma_correct_color(c.g, g), gamma_correct_color(c.b, g)};
  }

  // v times the gain for brightness g, the gain held within 0.7..7.
  static float gamma_correct_color(float v, float g) {
    float k = static_cast<float>(0.14 / std::log(static_cast<double>(g) + 1.1) - 0.02) * 6.0f;
    if (k > 7.0f) {
      k = 7.0f;
    } else if (static_cast<double>(k) < 0.7) {
      k = 0.7f;
    }
    return v * k;
  }
};

}  // namespace glowsnap
