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
        const float v = mask_of(get_pixel(x, y));
        po = {v, v, v};
        break;
      }
      case 1:
      case 2:
      case 3:
        po = do_blur(x, y, 2.5f);
        break;
      case 4:
        po = blend_of(get_pixel(x, y), hdr::get_pixel_copy(x, y));
        // From here on the snapshot holds the blurred mask for pass 5; each
        // pixel replaces only its own entry, after reading it.
        copy_data_x(x, y);
        break;
      case 5:
        po = finish_of(get_pixel(x, y), hdr::get_pixel_copy(x, y));
        break;
      default:
        break;
    }
    return po;
  }

  // The same passes over the mask kept as a plane (see MaskPlanes.h).
  FastPass mask_pass(int pass, MaskPass& run) {
    if (pass <= 3) return run.mask_or_blur(pass, 2.5f, [](rgb_color p) { return mask_of(p); });
    if (pass == 4)
      return run.combine_channels([](float m, float s) { return blend_channel_of(m, s); });
    // Pass 5 reads the blurred mask that pass 4 saved, which the plane still
    // holds.
    return run.combine([](const MaskPixel& px) { return finish_of(px.pixel(), px.saved_mask()); });
  }

 private:
  // Pass 0: the inverted luminance of photo pixel p.
  static float mask_of(rgb_color p) { return 1.0f - (p.r + p.g + p.b) / 3.0f; }

  // Pass 4: photo pixel s soft-light blended with the flattened blurred mask
  // m, channel by channel.
  static float blend_channel_of(float m, float s) {
    return hdr::blend_soft_light_channel(s, hdr::contrast_channel(m, 0.8f));
  }
  static rgb_color blend_of(rgb_color m, rgb_color s) {
    return {blend_channel_of(m.r, s.r), blend_channel_of(m.g, s.g), blend_channel_of(m.b, s.b)};
  }

  // Pass 5: the blended pixel c, more saturated and contrasted, plus a share
  // of the blurred mask k as saved in the snapshot.
  static rgb_color finish_of(rgb_color c, rgb_color k) {
    c = do_saturation(c.r, c.g, c.b, 2.1f);
    c = hdr::filter_contrast(c, 1.3f);
    const double w = (1.0 - static_cast<double>(k.r)) * static_cast<double>(0.4f);
    return {static_cast<float>(static_cast<double>(c.r) * 0.8 + w),
            static_cast<float>(static_cast<double>(c.g) * 0.8 + w),
            static_cast<float>(static_cast<double>(c.b) * 0.8 + w)};
  }
};

}  // namespace glowsnap
