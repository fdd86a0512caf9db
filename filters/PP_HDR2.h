// PP_HDR2: "Bloom". The photo's luminance, blurred four times at radius 2.0,
// is added to a reduced copy of the photo, then saturation is raised.
#pragma once

#include <cmath>
#include <string>

#include "filters/HdrOperations.h"

namespace glowsnap {

class PP_HDR2 : public MaskRecipeFilter<PP_HDR2> {
 public:
  std::string get_name() const override;

  static constexpr auto recipe() {
    return hdr::look(
        steps::mask(hdr::mean), steps::blur(2.0f, 4),
        steps::combine_by_mask(
            // The glow of the blurred luminance m. exp(log(·)) gives its argument back up
            // to rounding; the 0.001 keeps the logarithm finite where m is 0.
            [](float m) {
              return std::exp(std::log(static_cast<double>(m) + 0.001)) * static_cast<double>(0.7f);
            },
            // A reduced copy of the photo plus the glow, then saturation raised.
            [](const auto& px, double glow) {
              const rgb_color s = px.photo();
              return do_saturation(static_cast<float>(static_cast<double>(s.r * 0.6f) + glow),
                                   static_cast<float>(static_cast<double>(s.g * 0.6f) + glow),
                                   static_cast<float>(static_cast<double>(s.b * 0.6f) + glow),
                                   2.0f);
            }));
  }
};

}  // namespace glowsnap
