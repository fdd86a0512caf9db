#include "http/TextEncoding.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

namespace glowsnap {

namespace {

struct Entry {
  const char* name;
  TextEncoding::Value value;
};

constexpr Entry kNames[] = {
    {"us-ascii", TextEncoding::kASCII},
    {"ascii", TextEncoding::kASCII},
    {"utf-8", TextEncoding::kUTF8},
    {"utf8", TextEncoding::kUTF8},
    {"iso-8859-1", TextEncoding::kISOLatin1},
    {"latin1", TextEncoding::kISOLatin1},
    {"iso_8859-1", TextEncoding::kISOLatin1},
    {"iso-8859-2", TextEncoding::kISOLatin2},
    {"euc-jp", TextEncoding::kJapaneseEUC},
    {"shift_jis", TextEncoding::kShiftJIS},
    {"iso-2022-jp", TextEncoding::kISO2022JP},
    {"utf-16", TextEncoding::kUTF16},
    {"utf-16be", TextEncoding::kUTF16BigEndian},
    {"utf-16le", TextEncoding::kUTF16LittleEndian},
    {"utf-32", TextEncoding::kUTF32},
    {"windows-1250", TextEncoding::kWindowsCP1250},
    {"windows-1251", TextEncoding::kWindowsCP1251},
    {"windows-1252", TextEncoding::kWindowsCP1252},
    {"windows-1253", TextEncoding::kWindowsCP1253},
    {"windows-1254", TextEncoding::kWindowsCP1254},
};

const char* iconvName(TextEncoding::Value v) {
  switch (v) {
    case TextEncoding::kASCII:
      return "US-ASCII";
    case TextEncoding::kJapaneseEUC:
      return "EUC-JP";
    case TextEncoding::kUTF8:
      return "UTF-8";
    case TextEncoding::kISOLatin1:
      return "ISO-8859-1";
    case TextEncoding::kShiftJIS:
      return "SHIFT_JIS";
    case TextEncoding::kISOLatin2:
      return "ISO-8859-2";
    case TextEncoding::kUTF16:
      return "UTF-16";
    case TextEncoding::kWindowsCP1251:
      return "CP1251";
    case TextEncoding::kWindowsCP1252:
      return "CP1252";
    case TextEncoding::kWindowsCP1253:
      return "CP1253";
    case TextEncoding::kWindowsCP1254:
      return "CP1254";
    case TextEncoding::kWindowsCP1250:
      return "CP1250";
    case TextEncoding::kISO2022JP:
      return "ISO-2022-JP";
    case TextEncoding::kUTF16BigEndian:
      return "UTF-16BE";
    case TextEncoding::kUTF16LittleEndian:
      return "UTF-16LE";
    case TextEncoding::kUTF32:
      return "UTF-32";
    default:
      return nullptr;
  }
}

bool validUTF8(const Bytes& b) {
  std::size_t i = 0;
  while (i < b.size()) {
    unsigned char c = b[i];
    std::size_t n;
    std::uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if ((c & 0xe0) == 0xc0) {
      n = 1;
      cp = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
      n = 2;
      cp = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
      n = 3;
      cp = c & 0x07;
    } else
      return false;
    if (i + n >= b.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      if ((b[i + k] & 0xc0) != 0x80) return false;
      cp = (cp << 6) | (b[i + k] & 0x3f);
    }
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) ||
        cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
      return false;
    i += n + 1;
  }
  return true;
}

}  // namespace

std::optional<TextEncoding::Value> TextEncoding::fromIANACharsetName(std::string_view name) {
  std::string n(name);
  for (auto& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const auto& e : kNames)
    if (n == e.name) return e.value;
  return std::nullopt;
}

std::optional<std::string> TextEncoding::decode(const Bytes& bytes, Value encoding) {
  if (encoding == kUTF8) {
    if (!validUTF8(bytes)) return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
  }
  if (encoding == kISOLatin1) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else {
        out += static_cast<char>(0xc0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3f));
      }
    }
    return out;
  }
  const char* from = iconvName(encoding);
  if (!from) return std::nullopt;
  iconv_t cd = ::iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out(bytes.size() * 4 + 16, '\0');
  char* in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes.data()));
  std::size_t inLeft = bytes.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  std::size_t rc = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  ::iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace glowsnap
