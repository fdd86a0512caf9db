// PP_HDR2: "Bloom". The photo's luminance, blurred four times at radius 2.0,
// is added to a reduced copy of the photo, then saturation is raised.
#pragma once

#include <string>

#include "engine/PixelOperations.h"
#include "engine/PostProcessFilter.h"
#include "filters/HdrOperations.h"

namespace glowsnap {

class PP_HDR2 : public PostProcessFilter<PP_HDR2> {
 public:
  std::string get_name() const override;
  int get_num_passes() const override;

  rgb_color compute_pixel(int x, int y, int pass) { return hdr_type2_process_x(x, y, pass); }

  rgb_color hdr_type2_process_x(int x, int y, int pass) {
    rgb_color po = {0.0f, 0.0f, 0.0f};
    switch (pass) {
      case 0: {
        copy_data_x(x, y);
        const rgb_color p = get_pixel(x, y);
        const float v = (p.r + p.g + p.b) / 3.0f;
        po = {v, v, v};
        break;
      }
      case 1:
      case 2:
      case 3:
      case 4:
        po = do_blur(x, y, 2.0f);
        break;
      case 5: {
        const rgb_color m = get_pixel(x, y);
        const rgb_color s = hdr::read_snapshot_inline(x, y);
        // exp(log(·)) gives its argument back up to rounding; the 0.001 keeps
        // the logarithm finite where the mask is black.
        const double glow = static_cast<double>(0.7f);
        rgb_color t;
        t.r = static_cast<float>(static_cast<double>(s.r * 0.6f) +
                                 std::exp(std::log(static_cast<double>(m.r) + 0.001)) * glow);
        t.g = static_cast<float>(static_cast<double>(s.g * 0.6f) +
                                 std::exp(std::log(static_cast<double>(m.g) + 0.001)) * glow);
        t.b = static_cast<float>(static_cast<double>(s.b * 0.6f) +
                                 std::exp(std::log(static_cast<double>(m.b) + 0.001)) * glow);
        po = do_saturation(t.r, t.g, t.b, 2.0f);
        break;
      }
      default:
        break;
    }
    return po;
  }
};

}  // namespace glowsnap
