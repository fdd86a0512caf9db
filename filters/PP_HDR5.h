// PP_HDR5: "Art Contour HDR". A hard, blurred inverted mask gives the photo a
// strong HDR look; a last pass darkens the edges of that result, which draws
// contour lines.
#pragma once

#include <string>

#include "engine/PixelOperations.h"
#include "engine/PostProcessFilter.h"
#include "filters/HdrOperations.h"

namespace glowsnap {

class PP_HDR5 : public PostProcessFilter<PP_HDR5> {
 public:
  std::string get_name() const override;
  int get_num_passes() const override;

  rgb_color compute_pixel(int x, int y, int pass) { return hdr_type1_process_x(x, y, pass); }

  rgb_color hdr_type1_process_x(int x, int y, int pass) {
    rgb_color po = {0.0f, 0.0f, 0.0f};
    switch (pass) {
      case 0: {
        copy_data_x(x, y);
        rgb_color p = get_pixel(x, y);
        p = {p.r + p.r, p.g + p.g, p.b + p.b};
        const rgb_color q = hdr::filter_contrast(p, 3.0f);
        const float v = 1.0f - (q.r + q.g + q.b) / 3.0f;
        po = {v, v, v};
        break;
      }
      case 1:
      case 2:
      case 3:
        po = do_blur(x, y, 2.5f);
        break;
      case 4: {
        const rgb_color b = hdr::filter_contrast(get_pixel(x, y), 0.7f);
        const rgb_color s = hdr::read_snapshot_inline(x, y);
        po.r =
            static_cast<float>(static_cast<double>(hdr::blend_soft_light_channel(s.r, b.r)) * 1.2);
        po.g =
            static_cast<float>(static_cast<double>(hdr::blend_soft_light_channel(s.g, b.g)) * 1.2);
        po.b =
            static_cast<float>(static_cast<double>(hdr::blend_soft_light_channel(s.b, b.b)) * 1.2);
        break;
      }
      case 5: {
        const float e = do_edge_detection(x, y, 1.0f, false, 0.0f, 0.0f);
        const float e2 = e * e;
        const float k = 1.0f - e2 * e2;
        rgb_color c = get_pixel(x, y);
        c = {c.r * k, c.g * k, c.b * k};
        po = do_saturation(c.r, c.g, c.b, 1.2f);
        break;
      }
      default:
        break;
    }
    return po;
  }
};

}  // namespace glowsnap
