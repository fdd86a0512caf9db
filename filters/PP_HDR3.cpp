#include "filters/PP_HDR3.h"

namespace glowsnap {

std::string PP_HDR3::get_name() const { return "HDR Night mode"; }

}  // namespace glowsnap
