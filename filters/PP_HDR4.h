// PP_HDR4: "HDR Classic", the first look of the catalogue. An inverted
// luminance mask, blurred twice at radius 1.0, is soft-light blended onto the
// photo twice, each time mixed back with the photo; then more saturation and
// slightly less contrast.
#pragma once

#include <string>

#include "filters/HdrOperations.h"

namespace glowsnap {

class PP_HDR4 : public MaskRecipeFilter<PP_HDR4> {
 public:
  static constexpr auto recipe() {
    return hdr::look(steps::mask(hdr::inverted_luminance), steps::blur(1.0f, 2),
                     // The mask soft-light blended onto the photo twice, each
                     // time mixed back with it; then more saturation and
                     // slightly less contrast.
                     steps::combine([](const auto& px) {
                       const rgb_color m = px.mask();
                       const rgb_color s = px.photo();
                       const rgb_color t1 = hdr::blend_soft_light(s, m);
                       const rgb_color t2 = hdr::blend(s, t1, 0.8f);
                       const rgb_color t3 = hdr::blend_soft_light(t2, m);
                       const rgb_color t4 = hdr::blend(s, t3, 0.5f);
                       const rgb_color t5 = do_saturation(t4.r, t4.g, t4.b, 1.7f);
                       return hdr::filter_contrast(t5, 0.95f);
                     }));
  }

  std::string get_name() const override;
};

}  // namespace glowsnap
