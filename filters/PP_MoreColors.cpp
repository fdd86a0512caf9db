#include "filters/PP_MoreColors.h"

namespace glowsnap {

std::string PP_MoreColors::get_name() const { return "More Colors"; }

}  // namespace glowsnap
