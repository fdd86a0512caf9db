// PP_HDR6: "Soft Edges HDR". An inverted-luminance mask, blurred four times
// at the small radius 1.1, is overlay-blended onto the photo, and the result
// is darkened where the blurred mask has edges.
#pragma once

#include <string>

#include "filters/HdrOperations.h"

namespace glowsnap {

class PP_HDR6 : public MaskRecipeFilter<PP_HDR6> {
 public:
  static constexpr auto recipe() {
    return hdr::look(steps::mask(hdr::inverted_mean), steps::blur(1.1f, 4),
                     // The mask overlaid onto the photo, darkened by the
                     // mask's edges.
                     steps::combine_with_edges(1.1f, [](const auto& px, float e) {
                       const rgb_color o = blend_overlay(px.photo(), px.mask());
                       return rgb_color{o.r * (1.0f - e), o.g * (1.0f - e), o.b * (1.0f - e)};
                     }));
  }

  std::string get_name() const override;
};

}  // namespace glowsnap
