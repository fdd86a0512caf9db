#include "filters/PP_HDR4.h"

namespace glowsnap {

std::string PP_HDR4::get_name() const { return "HDR Classic"; }

}  // namespace glowsnap
