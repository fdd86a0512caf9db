// Bytes: the byte buffer that messages, bodies and streams pass around.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace glowsnap {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesFromString(std::string_view text) { return Bytes(text.begin(), text.end()); }
inline std::string stringFromBytes(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace glowsnap
