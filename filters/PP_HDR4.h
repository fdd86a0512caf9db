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
        const float v = mask_of(get_pixel(x, y));
        po = {v, v, v};
        break;
      }
      case 1:
      case 2:
        po = do_blur(x, y, 1.0f);
        break;
      case 3:
        po = classic_of(get_pixel(x, y), hdr::get_pixel_copy(x, y));
        break;
      default:
        break;
    }
    return po;
  }

  // The same passes over the mask kept as a plane (see MaskPlanes.h).
  FastPass mask_pass(int pass, MaskPass& run) {
    if (pass <= 2) return run.mask_or_blur(pass, 1.0f, [](rgb_color p) { return mask_of(p); });
    return run.combine([](const MaskPixel& px) { return classic_of(px.mask(), px.snapshot()); });
  }

 private:
  // Pass 0: the inverted luminance of photo pixel p, weighted in double.
  static float mask_of(rgb_color p) {
    const float l =
        static_cast<float>(static_cast<double>(p.r) * 0.299 + static_cast<double>(p.g) * 0.587 +
                           static_cast<double>(p.b) * 0.114);
    return 1.0f - l;
  }

  // Pass 3: the blurred mask m soft-light blended onto photo pixel s twice,
  // each time mixed back with the photo; then more saturation and slightly
  // less contrast.
  static rgb_color classic_of(rgb_color m, rgb_color s) {
    const rgb_color t1 = hdr::blend_soft_light(s, m);
    const rgb_color t2 = hdr::blend(s, t1, 0.8f);
    const rgb_color t3 = hdr::blend_soft_light(t2, m);
    const rgb_color t4 = hdr::blend(s, t3, 0.5f);
    const rgb_color t5 = do_saturation(t4.r, t4.g, t4.b, 1.7f);
    return hdr::filter_contrast(t5, 0.95f);
  }
};

}  // namespace glowsnap
