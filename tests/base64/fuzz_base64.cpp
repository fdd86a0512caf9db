// libFuzzer target for the Base64 decoders: no input may crash them or make
// them read or write out of bounds (the sanitizers watch), and every accepted
// input must be the canonical text of what it decodes to once whitespace and
// everything from a NUL on are taken out, so re-encoding gives it back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base64/Base64.h"

namespace {

using glowsnap::Base64;

void check(bool condition) {
  if (!condition) std::abort();
}

// The input as the decoder sees it: up to the first NUL, without whitespace.
std::string significant(const std::uint8_t* data, std::size_t size) {
  std::string out;
  for (std::size_t k = 0; k < size && data[k] != 0; ++k) {
    const std::uint8_t c = data[k];
    if (c == 9 || c == 10 || c == 11 || c == 12 || c == 13 || c == 32 || c == 160 || c == 255) {
      continue;
    }
    out.push_back(static_cast<char>(c));
  }
  return out;
}

void checkDecoder(const std::uint8_t* data, std::size_t size, bool webSafe) {
  const auto decoded =
      webSafe ? Base64::webSafeDecodeBytes(data, size) : Base64::decodeBytes(data, size);
  // The same decode into a buffer of exactly the decoded size (heap, so the
  // sanitizer sees any write past it) must agree.
  if (decoded) {
    check(!decoded->empty());
    std::vector<std::uint8_t> exact(decoded->size());
    const std::size_t n = Base64::baseDecode(
        reinterpret_cast<const char*>(data), size, exact.data(), exact.size(),
        webSafe ? glowsnap::kWebSafeBase64DecodeChars.data() : glowsnap::kBase64DecodeChars.data(),
        !webSafe);
    check(n == decoded->size());
    check(exact == *decoded);
  }
  if (!decoded) return;

  const std::string text = significant(data, size);
  if (webSafe) {
    const auto unpadded = Base64::stringByWebSafeEncodingData(*decoded, false);
    const auto padded = Base64::stringByWebSafeEncodingData(*decoded, true);
    check(unpadded && padded);
    check(text == *unpadded || text == *padded);
    check(Base64::webSafeDecodeString(*unpadded) == decoded);
  } else {
    const auto encoded = Base64::stringByEncodingData(*decoded);
    check(encoded && text == *encoded);
    check(Base64::decodeString(*encoded) == decoded);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  checkDecoder(data, size, false);
  checkDecoder(data, size, true);

  // The input taken as bytes to encode comes back unchanged.
  if (size > 0) {
    const auto encoded = Base64::encodeBytes(data, size);
    check(encoded && Base64::decodeData(*encoded) == std::vector<std::uint8_t>(data, data + size));
    const auto safe = Base64::webSafeEncodeBytes(data, size, false);
    check(safe && Base64::webSafeDecodeData(*safe) == std::vector<std::uint8_t>(data, data + size));
  }
  return 0;
}
