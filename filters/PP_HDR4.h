// PP_HDR4: "HDR Classic", the first look of the catalogue. An inverted
// luminance mask, blurred twice at radius 1.0, is soft-light blended onto the
// photo twice, each time mixed back with the photo; then more saturation and
// slightly less contrast.
#pragma once

#include <string>

#include "engine/PixelOperations.h"
#include "engine/PostProcessFilter.h"
#include "filters/HdrOperations.h"

namespace glowsnap {

class PP_HDR4 : public PostProcessFilter<PP_HDR4> {
 public:
  std::string get_name() const override;
  int get_num_passes() const override;

  rgb_color compute_pixel(int x, int y, int pass) { return hdr_type3_process_x(x, y, pass); }

  rgb_color hdr_type3_process_x(int x, int y, int pass) {
    rgb_color po = {0.0f, 0.0f, 0.0f};
    switch (pass) {
      case 0: {
        copy_data_x(x, y);
        const rgb_color p = get_pixel(x, y);
        const float l =
            static_cast<float>(static_cast<double>(p.r) * 0.299 + static_cast<double>(p.g) * 0.587 +
                               static_cast<double>(p.b) * 0.114);
        const float v = 1.0f - l;
        po = {v, v, v};
        break;
      }
      case 1:
      case 2:
        po = do_blur(x, y, 1.0f);
        break;
      case 3: {
        const rgb_color m = get_pixel(x, y);
        const rgb_color s = hdr::get_pixel_copy(x, y);
        const rgb_color t1 = hdr::blend_soft_light(s, m);
        const rgb_color t2 = hdr::blend(s, t1, 0.8f);
        const rgb_color t3 = hdr::blend_soft_light(t2, m);
        const rgb_color t4 = hdr::blend(s, t3, 0.5f);
        const rgb_color t5 = do_saturation(t4.r, t4.g, t4.b, 1.7f);
        po = hdr::filter_contrast(t5, 0.95f);
        break;
      }
      default:
        break;
    }
    return po;
  }
};

}  // namespace glowsnap
