#include "filters/PP_FlashLow.h"

namespace glowsnap {

std::uint8_t g_gamma_table[256][768];
double g_gamma_distrib_table[256][256];

std::string PP_FlashLow::get_name() const { return "Flash Low"; }

void PP_FlashLow::prepare_for_process() {
  build_gamma_distrib_table();
  build_gamma_table();
  m_sld_shadows_amount = 1.0f;
  m_sld_shadows_tonal_width = 158.0f;
  m_sld_highlights_amount = 0.5f;
  m_sld_highlights_tonal_width = 128.0f;
}

void PP_FlashLow::build_gamma_table() {
  for (int v = 0; v < 256; ++v) {
    const float b = static_cast<float>(v) / 255.0f;
    for (int j = 0; j < 768; ++j) {
      // Column 0 is a gamma of 0: an infinite exponent, 0 for every row but 255.
      const float e = 1.0f / (static_cast<float>(j) * 0.00390625f);
      const float p = ::powf(b, e);
      double entry = std::trunc(static_cast<double>(p) * 255.0 + 0.5);
      if (entry > 255.0) entry = 255.0;
      g_gamma_table[v][j] = static_cast<std::uint8_t>(entry);
    }
  }
}

void PP_FlashLow::build_gamma_distrib_table() {
  for (int w = 0; w < 256; ++w) g_gamma_distrib_table[0][w] = 0.0;
  for (int i = 1; i < 256; ++i) {
    g_gamma_distrib_table[i][0] = 0.0;
    for (int w = 1; w < 256; ++w) {
      const double W = static_cast<double>(static_cast<float>(w) * -0.00703125f + 2.8f);
      const double X = static_cast<double>(static_cast<float>(i)) * W;
      const float x = static_cast<float>(X);
      const double x2 = static_cast<double>(x * x);
      const float x3 = ::powf(x, 3.0f);
      const double x4 = static_cast<double>(::powf(x, 4.0f));
      const double x5 = static_cast<double>(::powf(x, 5.0f));
      const double n = ((((530820000.0 * X + 1678150000.0) + -5417240.0 * x2) +
                         static_cast<double>(x3 * 19094.0f)) +
                        -27.4195 * x4) +
                       0.013205 * x5;
      const double d =
          ((((-3554100.0) * X + 206322000.0) + 58260.9 * x2) + -360.368 * static_cast<double>(x3)) +
          x4;
      g_gamma_distrib_table[i][w] = ((n / d) / W) * 0.00390625;
    }
  }
}

}  // namespace glowsnap
