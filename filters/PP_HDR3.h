// PP_HDR3: "HDR Night mode". Where the blurred luminance is dark the photo's
// colours are multiplied by a gain of up to 6; where it is bright the photo
// is left as it is.
#pragma once

#include <string>

#include "engine/PixelOperations.h"
#include "engine/PostProcessFilter.h"
#include "filters/HdrOperations.h"

namespace glowsnap {

class PP_HDR3 : public PostProcessFilter<PP_HDR3> {
 public:
  std::string get_name() const override;
  int get_num_passes() const override;

  rgb_color compute_pixel(int x, int y, int pass) { return hdr_type1_process_x(x, y, pass); }

  rgb_color hdr_type1_process_x(int x, int y, int pass) {
    rgb_color po = {0.0f, 0.0f, 0.0f};
    switch (pass) {
      case 0: {
        const float v = mask_of(get_pixel(x, y));
        copy_data_x(x, y);
        po = {v, v, v};
        break;
      }
      case 1:
      case 2:
      case 3:
      case 4:
        po = do_blur(x, y, 1.0f);
        break;
      case 5:
        po = night_of(get_pixel(x, y).r, hdr::read_snapshot_inline(x, y));
        break;
      default:
        break;
    }
    return po;
  }

  // The same passes over the mask kept as a plane (see MaskPlanes.h).
  FastPass mask_pass(int pass, MaskPass& run) {
    if (pass <= 4) return run.mask_or_blur(pass, 1.0f, [](rgb_color p) { return mask_of(p); });
    return run.combine_channels([](float m, float s) { return night_channel_of(m, s); });
  }

 private:
  // Pass 0: the luminance of photo pixel p.
  static float mask_of(rgb_color p) { return (p.r + p.g + p.b) / 3.0f; }

  // Pass 5: photo pixel s brightened where the blurred mask m is dark,
  // channel by channel.
  static float night_channel_of(float m, float s) {
    if (m <= 0.5f) {
      // 1 + 20·(m − 0.5)²: 6 for a black mask, 1 at the middle, where it
      // joins the unchanged branch.
      const double g = static_cast<double>(((m - 0.5f) * (m - 0.5f)) * 4.0f) * 5.0 + 1.0;
      return static_cast<float>(static_cast<double>(s) * g);
    }
    return s;
  }
  static rgb_color night_of(float m, rgb_color s) {
    return {night_channel_of(m, s.r), night_channel_of(m, s.g), night_channel_of(m, s.b)};
  }
};

}  // namespace glowsnap
