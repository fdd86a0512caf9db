#include "filters/PP_HDR3.h"

namespace glowsnap {

std::string PP_HDR3::get_name() const { return "HDR Night mode"; }

int PP_HDR3::get_num_passes() const { return 6; }

}  // namespace glowsnap
