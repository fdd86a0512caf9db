// MD5 (RFC 1321) through OpenSSL's EVP digests. The Mingle REST API signs
// its calls with it; it is not meant for anything that needs collision
// resistance.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace glowsnap {

using MD5Digest = std::array<std::uint8_t, 16>;

// The digest of data; nothing when the digest is not available (a crypto
// library set up to refuse MD5, as in FIPS mode).
std::optional<MD5Digest> md5Digest(std::span<const std::uint8_t> data);
std::optional<MD5Digest> md5Digest(std::string_view text);

// 32 lowercase hexadecimal digits, two per byte in order.
std::string hexString(const MD5Digest& digest);

// hexString(md5Digest(text)), or nothing as above.
std::optional<std::string> md5HexString(std::string_view text);

}  // namespace glowsnap
