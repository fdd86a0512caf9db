#include "filters/PP_MoreContrast.h"

namespace glowsnap {

std::string PP_MoreContrast::get_name() const { return "More Contrast"; }

}  // namespace glowsnap
