#include "http/StringAdditions.h"

#include <cstring>

#include "http/TextEncoding.h"
#include "platform/net/URL.h"

namespace glowsnap {

std::string encodedCookieValue(std::string_view text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7f || std::strchr("\"%<>[\\]^`{|}", c)) {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> decodedCookieValue(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int hi = hexDigitValue(text[i + 1]);
    int lo = hexDigitValue(text[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    decoded += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  if (!TextEncoding::decode(Bytes(decoded.begin(), decoded.end()), TextEncoding::kUTF8))
    return std::nullopt;
  for (auto& c : decoded)
    if (c == '+') c = ' ';
  return decoded;
}

}  // namespace glowsnap
