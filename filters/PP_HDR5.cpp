#include "filters/PP_HDR5.h"

namespace glowsnap {

std::string PP_HDR5::get_name() const { return "Art Contour HDR"; }

}  // namespace glowsnap
