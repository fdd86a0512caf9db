// PP_HDR6: "Soft Edges HDR". An inverted-luminance mask, blurred four times
// at the small radius 1.1, is overlay-blended onto the photo, and the result
// is darkened where the blurred mask has edges.
#pragma once

#include <string>

#include "engine/PixelOperations.h"
#include "engine/PostProcessFilter.h"
#include "filters/HdrOperations.h"

namespace glowsnap {

class PP_HDR6 : public PostProcessFilter<PP_HDR6> {
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
      case 4:
        po = do_blur(x, y, 1.1f);
        break;
      default: {
        const rgb_color s = hdr::read_snapshot_inline(x, y);
        const rgb_color m = get_pixel(x, y);
        const rgb_color o = blend_overlay(s, m);
        const float e = do_edge_detection(x, y, 1.1f, false, 0.0f, 0.0f);
        po = {o.r * (1.0f - e), o.g * (1.0f - e), o.b * (1.0f - e)};
        break;
      }
    }
    return po;
  }
};

}  // namespace glowsnap
