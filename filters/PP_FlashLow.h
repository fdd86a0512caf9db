// PP_FlashLow: "Flash Low" (in the library, not offered in the catalogue). A
// shadows-and-highlights correction for under-exposed photos: every pixel is
// raised to a power taken from its brightness, lifting the shadows and
// holding back the highlights, looked up in two tables built before the pass.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "engine/PostProcessFilter.h"

namespace glowsnap {

// Row v (a channel byte), column j (a gamma of j/256): the byte nearest to
// 255·(v/255)^(256/j), at most 255.
extern std::uint8_t g_gamma_table[256][768];
// Row i (a brightness 0..255), column w (a tonal width 0..255): the weight
// of a shadow/highlight correction at that brightness.
extern double g_gamma_distrib_table[256][256];

class PP_FlashLow : public PostProcessFilter<PP_FlashLow> {
 public:
  std::string get_name() const override;
  // Rebuilds both tables and resets the four settings; every run does it.
  void prepare_for_process() override;

  rgb_color compute_pixel(int x, int y, int /*pass*/) const {
    const float s2 = m_sld_shadows_amount + m_sld_shadows_amount;
    const float h = m_sld_highlights_amount;

    const std::uint8_t* p = gp_data + (static_cast<std::int64_t>(y) * g_width + x) * (g_bpp / 8);
    const std::int32_t cur_r = p[1];
    const std::int32_t cur_g = p[2];
    const std::int32_t cur_b = p[3];

    const float pixel_intensivity =
        static_cast<float>(static_cast<double>(cur_r) * 0.3 + static_cast<double>(cur_g) * 0.59 +
                           static_cast<double>(cur_b) * 0.11);
    const double shadows_distrib_res =
        g_gamma_distrib_table[row_index(std::lround(pixel_intensivity))]
                             [row_index(std::lround(m_sld_shadows_tonal_width))];
    const float highlights_distrib_res = static_cast<float>(
        g_gamma_distrib_table[row_index(std::lround(255.0f - pixel_intensivity))]
                             [row_index(std::lround(m_sld_highlights_tonal_width))]);

    const float gamma_shadows = static_cast<float>(static_cast<double>(s2) * shadows_distrib_res);
    const float gamma_highlights = highlights_distrib_res * h;
    const float gamma = (gamma_shadows - gamma_highlights) + 1.0f;
    long k = std::lround(255.0f * gamma);
    // With the fixed settings k stays within 221..407; the bounds only keep a
    // changed setting from reading outside the table.
    if (k < 0) k = 0;
    if (k > 767) k = 767;

    return {static_cast<float>(g_gamma_table[cur_r][k]) / 255.0f,
            static_cast<float>(g_gamma_table[cur_g][k]) / 255.0f,
            static_cast<float>(g_gamma_table[cur_b][k]) / 255.0f};
  }

  static void build_gamma_table();
  static void build_gamma_distrib_table();

 private:
  static long row_index(long i) { return i < 0 ? 0 : (i > 255 ? 255 : i); }

  // The per-pixel values (cur_r … gamma) live in compute_pixel as locals, so
  // that pixels can be computed independently of one another.
  float m_sld_shadows_amount = 1.0f;
  float m_sld_shadows_tonal_width = 158.0f;
  float m_sld_highlights_amount = 0.5f;
  float m_sld_highlights_tonal_width = 128.0f;
};

}  // namespace glowsnap
