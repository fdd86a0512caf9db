// PP_HDR: "HDR Color+". An inverted-luminance mask, blurred three times at
// radius 2.5, is soft-light blended onto the photo; a last pass raises
// saturation and contrast and adds back a share of the blurred mask.
#pragma once

#include <string>

#include "filters/HdrOperations.h"

namespace glowsnap {

class PP_HDR : public MaskRecipeFilter<PP_HDR> {
 public:
  static constexpr auto recipe() {
    return hdr::look(steps::mask(hdr::inverted_mean), steps::blur(2.5f, 3),
                     // The photo soft-light blended with the flattened mask;
                     // the snapshot then holds the mask for the last pass.
                     steps::saving_mask(steps::blend_channels([](float m, float s) {
                       return hdr::blend_soft_light_channel(s, hdr::contrast_channel(m, 0.8f));
                     })),
                     // More saturation and contrast, plus a share of the mask.
                     steps::combine([](const auto& px) {
                       rgb_color c = px.pixel();
                       c = do_saturation(c.r, c.g, c.b, 2.1f);
                       c = hdr::filter_contrast(c, 1.3f);
                       const double w = (1.0 - static_cast<double>(px.saved_mask().r)) *
                                        static_cast<double>(0.4f);
                       return rgb_color{static_cast<float>(static_cast<double>(c.r) * 0.8 + w),
                                        static_cast<float>(static_cast<double>(c.g) * 0.8 + w),
                                        static_cast<float>(static_cast<double>(c.b) * 0.8 + w)};
                     }));
  }

  std::string get_name() const override;
};

}  // namespace glowsnap
