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
        const float v = mask_of(get_pixel(x, y));
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
        po = bloom_of(hdr::read_snapshot_inline(x, y), glow_of(m.r), glow_of(m.g), glow_of(m.b));
        break;
      }
      default:
        break;
    }
    return po;
  }

  // The same passes over the mask kept as a plane (see MaskPlanes.h).
  FastPass mask_pass(int pass, MaskPass& run) {
    if (pass <= 4) return run.mask_or_blur(pass, 2.0f, [](rgb_color p) { return mask_of(p); });
    // The glow depends on nothing but the mask byte: worked out once for
    // each of the 256.
    double glow[256];
    for (int b = 0; b < 256; ++b) glow[b] = glow_of(static_cast<float>(b) * kByteToUnit);
    return run.combine([&glow](const MaskPixel& px) {
      const double g = glow[px.mask_byte()];
      return bloom_of(px.snapshot(), g, g, g);
    });
  }

 private:
  // Pass 0: the luminance of photo pixel p.
  static float mask_of(rgb_color p) { return (p.r + p.g + p.b) / 3.0f; }

  // The glow of a mask channel m. exp(log(·)) gives its argument back up to
  // rounding; the 0.001 keeps the logarithm finite where the mask is black.
  static double glow_of(float m) {
    return std::exp(std::log(static_cast<double>(m) + 0.001)) * static_cast<double>(0.7f);
  }

  // Pass 5: a reduced copy of photo pixel s plus the glow of each channel,
  // then saturation raised.
  static rgb_color bloom_of(rgb_color s, double glow_r, double glow_g, double glow_b) {
    const float r = static_cast<float>(static_cast<double>(s.r * 0.6f) + glow_r);
    const float g = static_cast<float>(static_cast<double>(s.g * 0.6f) + glow_g);
    const float b = static_cast<float>(static_cast<double>(s.b * 0.6f) + glow_b);
    return do_saturation(r, g, b, 2.0f);
  }
};

}  // namespace glowsnap
