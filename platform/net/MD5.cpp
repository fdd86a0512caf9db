#include "platform/net/MD5.h"

#include <openssl/evp.h>

namespace glowsnap {

std::optional<MD5Digest> md5Digest(std::span<const std::uint8_t> data) {
  MD5Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_md5(), nullptr) != 1 ||
      length != digest.size())
    return std::nullopt;
  return digest;
}

std::optional<MD5Digest> md5Digest(std::string_view text) {
  return md5Digest(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string hexString(const MD5Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(digest.size() * 2);
  for (std::uint8_t byte : digest) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0f];
  }
  return out;
}

std::optional<std::string> md5HexString(std::string_view text) {
  auto digest = md5Digest(text);
  if (!digest) return std::nullopt;
  return hexString(*digest);
}

}  // namespace glowsnap
