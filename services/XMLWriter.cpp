#include "services/XMLWriter.h"

#include <cstdint>

namespace glowsnap::services {

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at i, or 0.
std::size_t utf8Length(std::string_view s, std::size_t i) {
  auto b = static_cast<unsigned char>(s[i]);
  std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  std::uint32_t c = n == 1 ? b : b & (0x7f >> n);
  for (std::size_t k = 1; k < n; ++k) {
    auto cb = static_cast<unsigned char>(s[i + k]);
    if ((cb & 0xc0) != 0x80) return 0;
    c = (c << 6) | (cb & 0x3f);
  }
  static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kMin[n] || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) return 0;
  if (c == 0xfffe || c == 0xffff) return 0;
  return n;
}

}  // namespace

XMLWriter::XMLWriter() : out_("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") {}

void XMLWriter::indent() { out_.append(open_.size() * 2, ' '); }

XMLWriter& XMLWriter::open(std::string_view name, bool asList) {
  indent();
  out_ += "<" + std::string(name) + (asList ? " list=\"true\">\n" : ">\n");
  open_.emplace_back(name);
  return *this;
}

XMLWriter& XMLWriter::close() {
  if (open_.empty()) return *this;
  std::string name = std::move(open_.back());
  open_.pop_back();
  indent();
  out_ += "</" + name + ">\n";
  return *this;
}

XMLWriter& XMLWriter::element(std::string_view name, std::string_view text) {
  indent();
  if (text.empty())
    out_ += "<" + std::string(name) + "/>\n";
  else
    out_ += "<" + std::string(name) + ">" + escape(text) + "</" + std::string(name) + ">\n";
  return *this;
}

std::string XMLWriter::finish() {
  while (!open_.empty()) close();
  return std::move(out_);
}

std::string XMLWriter::escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char c = text[i];
    auto u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      switch (c) {
        case '&':
          out += "&amp;";
          break;
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        case '"':
          out += "&quot;";
          break;
        case '\'':
          out += "&apos;";
          break;
        default:
          if (u < 0x20 && c != '\t' && c != '\n' && c != '\r')
            out += kReplacement;
          else
            out += c;
      }
      ++i;
      continue;
    }
    std::size_t n = utf8Length(text, i);
    if (n == 0) {
      out += kReplacement;
      ++i;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

}  // namespace glowsnap::services
