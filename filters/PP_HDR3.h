// PP_HDR3: "HDR Night mode". Where the blurred luminance is dark the photo's
// colours are multiplied by a gain of up to 6; where it is bright the photo
// is left as it is.
#pragma once

#include <string>

#include "filters/HdrOperations.h"

namespace glowsnap {

class PP_HDR3 : public MaskRecipeFilter<PP_HDR3> {
 public:
  static constexpr auto recipe() {
    return hdr::look(steps::mask(hdr::mean), steps::blur(1.0f, 4),
                     // The photo brightened where the blurred mask is dark.
                     steps::blend_channels([](float m, float s) {
                       if (m <= 0.5f) {
                         // 1 + 20·(m − 0.5)²: 6 for a black mask, 1 at the
                         // middle, where it joins the unchanged branch.
                         const double g =
                             static_cast<double>(((m - 0.5f) * (m - 0.5f)) * 4.0f) * 5.0 + 1.0;
                         return static_cast<float>(static_cast<double>(s) * g);
                       }
                       return s;
                     }));
  }

  std::string get_name() const override;
};

}  // namespace glowsnap
