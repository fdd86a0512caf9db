#include "filters/PP_HDR.h"

namespace glowsnap {

std::string PP_HDR::get_name() const { return "HDR Color+"; }

}  // namespace glowsnap
