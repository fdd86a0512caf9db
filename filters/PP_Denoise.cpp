#include "filters/PP_Denoise.h"

namespace glowsnap {

std::string PP_Denoise::get_name() const { return "Denoise"; }

}  // namespace glowsnap
