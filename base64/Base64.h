// Base64: the RFC 4648 codec in the standard alphabet ("+", "/") and the
// URL- and file-name-safe one ("-", "_"). Stateless; every operation answers
// std::nullopt for bad input and also for empty input or empty output, never
// a partial or empty result.
//
// Decoders skip whitespace (tab, LF, VT, FF, CR, space, 160, 255) anywhere,
// stop at a NUL byte, reject characters of the other alphabet, reject a
// misplaced "=" or text after the padding, and reject a last character that
// carries bits beyond the data (QR== fails, QQ== is the byte 65). The
// standard decoders require the padding; the web-safe ones accept it or not.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace glowsnap {

// The two alphabets in value order (NUL-terminated, 64 characters each).
inline constexpr char kBase64EncodeChars[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr char kWebSafeBase64EncodeChars[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Marks a byte that is not a character of a decode table's alphabet.
inline constexpr std::uint8_t kBase64InvalidChar = 99;

namespace base64_detail {
constexpr std::array<std::uint8_t, 256> makeDecodeTable(const char* alphabet) {
  std::array<std::uint8_t, 256> table{};
  for (auto& entry : table) entry = kBase64InvalidChar;
  for (std::uint8_t value = 0; value < 64; ++value) {
    table[static_cast<unsigned char>(alphabet[value])] = value;
  }
  return table;
}
}  // namespace base64_detail

// Decode tables indexed by the unsigned input byte: the 6-bit value of the
// character in the table's own alphabet, or kBase64InvalidChar.
inline constexpr std::array<std::uint8_t, 256> kBase64DecodeChars =
    base64_detail::makeDecodeTable(kBase64EncodeChars);
inline constexpr std::array<std::uint8_t, 256> kWebSafeBase64DecodeChars =
    base64_detail::makeDecodeTable(kWebSafeBase64EncodeChars);

class Base64 {
 public:
  using Bytes = std::vector<std::uint8_t>;
  using ByteSpan = std::span<const std::uint8_t>;

  // Standard alphabet, padding written.
  static std::optional<Bytes> encodeData(ByteSpan data);
  static std::optional<Bytes> encodeBytes(const void* bytes, std::size_t length);
  static std::optional<std::string> stringByEncodingData(ByteSpan data);
  static std::optional<std::string> stringByEncodingBytes(const void* bytes, std::size_t length);

  // Standard alphabet, padding required. The string decoder answers nothing
  // for a string with a byte outside ASCII.
  static std::optional<Bytes> decodeData(ByteSpan data);
  static std::optional<Bytes> decodeBytes(const void* bytes, std::size_t length);
  static std::optional<Bytes> decodeString(std::string_view string);

  // Web-safe alphabet, padding written when padded is true.
  static std::optional<Bytes> webSafeEncodeData(ByteSpan data, bool padded);
  static std::optional<Bytes> webSafeEncodeBytes(const void* bytes, std::size_t length,
                                                 bool padded);
  static std::optional<std::string> stringByWebSafeEncodingData(ByteSpan data, bool padded);
  static std::optional<std::string> stringByWebSafeEncodingBytes(const void* bytes,
                                                                 std::size_t length, bool padded);

  // Web-safe alphabet, padding optional.
  static std::optional<Bytes> webSafeDecodeData(ByteSpan data);
  static std::optional<Bytes> webSafeDecodeBytes(const void* bytes, std::size_t length);
  static std::optional<Bytes> webSafeDecodeString(std::string_view string);

  // Buffer-level coders that every operation above is built on, for callers
  // that own their buffers. charset is kBase64EncodeChars or
  // kWebSafeBase64EncodeChars (encoding) or one of the two decode tables
  // (decoding); any other 64-character alphabet or 256-entry table works
  // too, only without the fast path. Each answers the number of bytes
  // written, 0 on failure or for empty input; nothing is ever written past
  // destLen. A decode may leave bytes in destBytes when it fails.
  static std::size_t baseEncode(const void* srcBytes, std::size_t srcLen, char* destBytes,
                                std::size_t destLen, const char* charset, bool padded);
  static std::size_t baseDecode(const char* srcBytes, std::size_t srcLen, std::uint8_t* destBytes,
                                std::size_t destLen, const std::uint8_t* charset,
                                bool requirePadding);

  // (n * 8 + 5) / 6 characters, rounded up to a multiple of 4 when padded;
  // 0 when the size would overflow.
  static std::size_t encodedLength(std::size_t length, bool padded);
  // ((n + 3) / 4) * 3: the most bytes n characters can decode to.
  static std::size_t decodedCapacity(std::size_t length);

 private:
  template <typename Container>
  static std::optional<Container> baseEncode(const void* bytes, std::size_t length,
                                             const char* charset, bool padded);
  static std::optional<Bytes> baseDecode(const char* bytes, std::size_t length,
                                         const std::uint8_t* charset, bool requirePadding);
};

}  // namespace glowsnap
