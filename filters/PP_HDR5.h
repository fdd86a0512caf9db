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
        po = blend_of(get_pixel(x, y), hdr::read_snapshot_inline(x, y));
        break;
      case 5:
        po = contour_of(do_edge_detection(x, y, 1.0f, false, 0.0f, 0.0f), get_pixel(x, y));
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
    return run.combine_with_image_edges(
        1.0f, [](const MaskPixel& px, float e) { return contour_of(e, px.pixel()); });
  }

 private:
  // Pass 0: the inverted luminance of photo pixel p, brightened and given
  // a hard contrast first.
  static float mask_of(rgb_color p) {
    p = {p.r + p.r, p.g + p.g, p.b + p.b};
    const rgb_color q = hdr::filter_contrast(p, 3.0f);
    return 1.0f - (q.r + q.g + q.b) / 3.0f;
  }

  // Pass 4: the flattened blurred mask m soft-light blended onto photo
  // pixel s, a little brighter, channel by channel.
  static float blend_channel_of(float m, float s) {
    const float b = hdr::contrast_channel(m, 0.7f);
    return static_cast<float>(static_cast<double>(hdr::blend_soft_light_channel(s, b)) * 1.2);
  }
  static rgb_color blend_of(rgb_color m, rgb_color s) {
    return {blend_channel_of(m.r, s.r), blend_channel_of(m.g, s.g), blend_channel_of(m.b, s.b)};
  }

  // Pass 5: pixel c darkened by its edge strength e, then a little more
  // saturated.
  static rgb_color contour_of(float e, rgb_color c) {
    const float e2 = e * e;
    const float k = 1.0f - e2 * e2;
    c = {c.r * k, c.g * k, c.b * k};
    return do_saturation(c.r, c.g, c.b, 1.2f);
  }
};

}  // namespace glowsnap
