// TextEncoding: the text encodings a response may name, numbered as the
// platform numbers string encodings, and the decoding of response bytes
// into UTF-8 text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/net/Bytes.h"

namespace glowsnap {

class TextEncoding {
 public:
  using Value = std::uint32_t;
  static constexpr Value kASCII = 1;
  static constexpr Value kJapaneseEUC = 3;
  static constexpr Value kUTF8 = 4;
  static constexpr Value kISOLatin1 = 5;
  static constexpr Value kShiftJIS = 8;
  static constexpr Value kISOLatin2 = 9;
  static constexpr Value kUTF16 = 10;
  static constexpr Value kWindowsCP1251 = 11;
  static constexpr Value kWindowsCP1252 = 12;
  static constexpr Value kWindowsCP1253 = 13;
  static constexpr Value kWindowsCP1254 = 14;
  static constexpr Value kWindowsCP1250 = 15;
  static constexpr Value kISO2022JP = 21;
  static constexpr Value kUTF16BigEndian = 0x90000100;
  static constexpr Value kUTF16LittleEndian = 0x94000100;
  static constexpr Value kUTF32 = 0x8c000100;

  // The encoding an IANA charset name stands for (any case), or nothing.
  static std::optional<Value> fromIANACharsetName(std::string_view name);
  // The bytes as UTF-8 text; nothing when they are not valid in encoding or
  // the encoding is unknown.
  static std::optional<std::string> decode(const Bytes& bytes, Value encoding);
};

}  // namespace glowsnap
