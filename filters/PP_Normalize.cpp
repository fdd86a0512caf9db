#include "filters/PP_Normalize.h"

namespace glowsnap {

std::string PP_Normalize::get_name() const { return "Normalize"; }

}  // namespace glowsnap
