#include "filters/PP_HDR2.h"

namespace glowsnap {

std::string PP_HDR2::get_name() const { return "Bloom"; }

}  // namespace glowsnap
