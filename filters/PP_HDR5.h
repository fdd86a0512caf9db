// PP_HDR5: "Art Contour HDR". A hard, blurred inverted mask gives the photo a
// strong HDR look; a last pass darkens the edges of that result, which draws
// contour lines.
#pragma once

#include <string>

#include "filters/HdrOperations.h"

namespace glowsnap {

class PP_HDR5 : public MaskRecipeFilter<PP_HDR5> {
 public:
  static constexpr auto recipe() {
    return hdr::look(
        steps::mask(hdr::inverted_hard_mean), steps::blur(2.5f, 3),
        // The flattened mask soft-light blended onto the photo, a little brighter.
        steps::blend_channels([](float m, float s) {
          const float b = hdr::contrast_channel(m, 0.7f);
          return static_cast<float>(static_cast<double>(hdr::blend_soft_light_channel(s, b)) * 1.2);
        }),
        // That result darkened by its own edges, then a little more saturated.
        steps::combine_with_edges(1.0f, [](const auto& px, float e) {
          const float e2 = e * e;
          const float k = 1.0f - e2 * e2;
          const rgb_color c = px.pixel();
          return do_saturation(c.r * k, c.g * k, c.b * k, 1.2f);
        }));
  }

  std::string get_name() const override;
};

}  // namespace glowsnap
