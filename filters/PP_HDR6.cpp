#include "filters/PP_HDR6.h"

namespace glowsnap {

std::string PP_HDR6::get_name() const { return "Soft Edges HDR"; }

}  // namespace glowsnap
