#include "filters/PP_HDR.h"

namespace glowsnap {

std::string PP_HDR::get_name() const { return "HDR Color+"; }

int PP_HDR::get_num_passes() const { return 6; }

}  // namespace glowsnap
