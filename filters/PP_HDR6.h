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
        const float v = mask_of(get_pixel(x, y));
        po = {v, v, v};
        break;
      }
      case 1:
      case 2:
      case 3:
      case 4:
        po = do_blur(x, y, 1.1f);
        break;
      default:
        po = soft_edges_of(hdr::read_snapshot_inline(x, y), get_pixel(x, y),
                           do_edge_detection(x, y, 1.1f, false, 0.0f, 0.0f));
        break;
    }
    return po;
  }

  // The same passes over the mask kept as a plane (see MaskPlanes.h).
  FastPass mask_pass(int pass, MaskPass& run) {
    if (pass <= 4) return run.mask_or_blur(pass, 1.1f, [](rgb_color p) { return mask_of(p); });
    return run.combine_with_mask_edges(1.1f, [](const MaskPixel& px, float e) {
      return soft_edges_of(px.snapshot(), px.mask(), e);
    });
  }

 private:
  // Pass 0: the inverted luminance of photo pixel p.
  static float mask_of(rgb_color p) { return 1.0f - (p.r + p.g + p.b) / 3.0f; }

  // Pass 5 and later: the blurred mask m overlaid onto photo pixel s,
  // darkened by the mask's edge strength e.
  static rgb_color soft_edges_of(rgb_color s, rgb_color m, float e) {
    const rgb_color o = blend_overlay(s, m);
    return {o.r * (1.0f - e), o.g * (1.0f - e), o.b * (1.0f - e)};
  }
};

}  // namespace glowsnap
