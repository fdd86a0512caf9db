// PP_HDR: "HDR Color+". An inverted-luminance mask, blurred three times at
// radius 2.5, is soft-light blended onto the photo; a last pass raises
// saturation and contrast and adds back a share of the blurred mask.
#pragma once

#include <string>

#include "engine/PixelOperations.h"
#include "engine/PostProcessFilter.h"
#include "filters/HdrOperations.h"

namespace glowsnap {

class PP_HDR : public PostProcessFilter<PP_HDR> {
 public:
  std::string get_name() const override;
  int get_num_passes() const override;

  rgb_color compute_pixel(int x, int y, int pass) { return hdr_type1_process_x(x, y, pass); }

  rgb_color hdr_type1_process_x(int x, int y, int pass) {
    rgb_color po = {0.0f, 0.0f, 0.0f};
    switch (pass) {
      case 0: {
        copy_data_x(x, y);
        const rgb_color p = get_pixel(x, y);
        const float v = 1.0f - (p.r + p.g + p.b) / 3.0f;
        po = {v, v, v};
        break;
      }
      case 1:
      case 2:
      case 3:
        po = do_blur(x, y, 2.5f);
        break;
      case 4: {
        const rgb_color m = get_pixel(x, y);
        const rgb_color b = hdr::filter_contrast(m, 0.8f);
        const rgb_color s = hdr::get_pixel_copy(x, y);
        po = hdr::blend_soft_light(s, b);
        // From here on the snapshot holds the blurred mask for pass 5; each
        // pixel replaces only its own entry, after reading it.
        copy_data_x(x, y);
        break;
      }
      case 5: {
        rgb_color c = get_pixel(x, y);
        c = do_saturation(c.r, c.g, c.b, 2.1f);
        c = hdr::filter_contrast(c, 1.3f);
        const rgb_color k = hdr::get_pixel_copy(x, y);
        const double w = (1.0 - static_cast<double>(k.r)) * static_cast<double>(0.4f);
        po.r = static_cast<float>(static_cast<double>(c.r) * 0.8 + w);
        po.g = static_cast<float>(static_cast<double>(c.g) * 0.8 + w);
        po.b = static_cast<float>(static_cast<double>(c.b) * 0.8 + w);
        break;
      }
      default:
        break;
    }
    return po;
  }
};

}  // namespace glowsnap
