#include "cli/Messages.h"

#include <cstdio>

namespace glowsnap::cli {

std::string printable(const std::string& text) {
  bool plain = true;
  for (unsigned char c : text) plain = plain && c >= 0x20 && c != 0x7F;
  if (plain) return text;
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02x", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string printable(const std::filesystem::path& path) { return printable(path.string()); }

std::string fileMessage(const std::filesystem::path& file, const std::string& cause) {
  return "glowsnap: " + printable(file) + ": " + cause;
}

}  // namespace glowsnap::cli
