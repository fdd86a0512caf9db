#include "http/StringAdditions.h"

#include <cstring>

#include "http/TextEncoding.h"

namespace glowsnap {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

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
    int hi = hexValue(text[i + 1]);
    int lo = hexValue(text[i + 2]);
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
