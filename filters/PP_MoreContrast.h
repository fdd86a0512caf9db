// PP_MoreContrast: "More Contrast", one pass that spreads every channel
// away from mid grey by a factor of 1.3.
#pragma once

#include <string>

#include "engine/PostProcessFilter.h"
#include "filters/HdrOperations.h"

namespace glowsnap {

class PP_MoreContrast : public PostProcessFilter<PP_MoreContrast> {
 public:
  std::string get_name() const override;

  rgb_color compute_pixel(int x, int y, int /*pass*/) const {
    const rgb_color c = get_pixel(x, y);
    return hdr::filter_contrast(c, 1.3f);
  }
};

}  // namespace glowsnap
