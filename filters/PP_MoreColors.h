// PP_MoreColors: "More Colors", one pass that pushes every pixel's colour
// away from its luminance by a factor of 1.6.
#pragma once

#include <string>

#include "engine/PixelOperations.h"
#include "engine/PostProcessFilter.h"

namespace glowsnap {

class PP_MoreColors : public PostProcessFilter<PP_MoreColors> {
 public:
  std::string get_name() const override;

  rgb_color compute_pixel(int x, int y, int /*pass*/) const {
    const rgb_color c = get_pixel(x, y);
    return do_saturation(c.r, c.g, c.b, 1.6f);
  }
};

}  // namespace glowsnap
