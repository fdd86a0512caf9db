#include "base64/Base64.h"

#include <cassert>
#include <cstdio>
#include <cstring>
#include <limits>

namespace glowsnap {

namespace {

// The allocating operations size their buffers so that the buffer coders
// always fit; a mismatch is a bug of this file, reported, and the operation
// fails instead of answering a wrong length. The buffer coders themselves
// fail quietly on a buffer that is too small: that is the caller's input.
void reportInternalFault(const char* message) {
  std::fprintf(stderr, "Base64: %s\n", message);
  assert(!"Base64 internal sizing fault");
}

constexpr bool isSpace(unsigned char c) {
  return c == 9 || c == 10 || c == 11 || c == 12 || c == 13 || c == 32 || c == 160 ||
         c == 255;
}

// Encoding works on 12 bits at a time: one lookup gives two characters.
struct PairTable {
  char pairs[4096][2];
};

constexpr PairTable makePairTable(const char* alphabet) {
  PairTable table{};
  for (unsigned i = 0; i < 4096; ++i) {
    table.pairs[i][0] = alphabet[i >> 6];
    table.pairs[i][1] = alphabet[i & 63];
  }
  return table;
}

constexpr PairTable kStandardPairs = makePairTable(kBase64EncodeChars);
constexpr PairTable kWebSafePairs = makePairTable(kWebSafeBase64EncodeChars);

// Decoding works on whole quanta: each of the four characters has a table of
// its value already shifted into place, so one OR gives the 24 data bits and
// the high byte tells whether any of the four was something else (a byte
// outside the alphabet, whitespace, "="), which the exact path then handles.
constexpr std::uint32_t kNotData = 0xFF000000u;

struct QuantumTables {
  std::uint32_t shifted[4][256];
};

constexpr QuantumTables makeQuantumTables(const std::array<std::uint8_t, 256>& decode) {
  QuantumTables tables{};
  for (unsigned c = 0; c < 256; ++c) {
    for (unsigned pos = 0; pos < 4; ++pos) {
      tables.shifted[pos][c] = decode[c] == kBase64InvalidChar
                                   ? kNotData
                                   : static_cast<std::uint32_t>(decode[c]) << (18 - 6 * pos);
    }
  }
  return tables;
}

constexpr QuantumTables kStandardQuanta = makeQuantumTables(kBase64DecodeChars);
constexpr QuantumTables kWebSafeQuanta = makeQuantumTables(kWebSafeBase64DecodeChars);

const PairTable* pairsFor(const char* charset) {
  if (charset == kBase64EncodeChars) return &kStandardPairs;
  if (charset == kWebSafeBase64EncodeChars) return &kWebSafePairs;
  return nullptr;
}

const QuantumTables* quantaFor(const std::uint8_t* charset) {
  if (charset == kBase64DecodeChars.data()) return &kStandardQuanta;
  if (charset == kWebSafeBase64DecodeChars.data()) return &kWebSafeQuanta;
  return nullptr;
}

bool isAscii(std::string_view text) {
  unsigned char any = 0;
  for (char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

}  // namespace

std::size_t Base64::encodedLength(std::size_t length, bool padded) {
  if (length > (std::numeric_limits<std::size_t>::max() - 8) / 8) return 0;
  std::size_t chars = (length * 8 + 5) / 6;
  if (padded) chars = (chars + 3) / 4 * 4;
  return chars;
}

std::size_t Base64::decodedCapacity(std::size_t length) {
  return (length / 4 + (length % 4 != 0)) * 3;
}

std::size_t Base64::baseEncode(const void* srcBytes, std::size_t srcLen, char* destBytes,
                               std::size_t destLen, const char* charset, bool padded) {
  if (srcLen == 0 || destLen == 0 || srcBytes == nullptr || destBytes == nullptr ||
      charset == nullptr) {
    return 0;
  }
  const std::size_t needed = encodedLength(srcLen, padded);
  if (needed == 0) return 0;  // too large to be encoded at all
  if (destLen < needed) return 0;  // never a partial text
  const auto* src = static_cast<const std::uint8_t*>(srcBytes);
  char* out = destBytes;
  std::size_t groups = srcLen / 3;

  if (const PairTable* pairs = pairsFor(charset)) {
    for (; groups >= 2; groups -= 2, src += 6, out += 8) {
      const std::uint32_t a = (std::uint32_t{src[0]} << 16) | (std::uint32_t{src[1]} << 8) | src[2];
      const std::uint32_t b = (std::uint32_t{src[3]} << 16) | (std::uint32_t{src[4]} << 8) | src[5];
      std::memcpy(out, pairs->pairs[a >> 12], 2);
      std::memcpy(out + 2, pairs->pairs[a & 0xFFF], 2);
      std::memcpy(out + 4, pairs->pairs[b >> 12], 2);
      std::memcpy(out + 6, pairs->pairs[b & 0xFFF], 2);
    }
  }
  for (; groups > 0; --groups, src += 3, out += 4) {
    out[0] = charset[src[0] >> 2];
    out[1] = charset[((src[0] & 3) << 4) + (src[1] >> 4)];
    out[2] = charset[((src[1] & 15) << 2) + (src[2] >> 6)];
    out[3] = charset[src[2] & 63];
  }
  switch (srcLen % 3) {
    case 1:
      *out++ = charset[src[0] >> 2];
      *out++ = charset[(src[0] & 3) << 4];
      if (padded) {
        *out++ = '=';
        *out++ = '=';
      }
      break;
    case 2:
      *out++ = charset[src[0] >> 2];
      *out++ = charset[((src[0] & 3) << 4) + (src[1] >> 4)];
      *out++ = charset[(src[1] & 15) << 2];
      if (padded) *out++ = '=';
      break;
    default:
      break;
  }
  return static_cast<std::size_t>(out - destBytes);
}

std::size_t Base64::baseDecode(const char* srcBytes, std::size_t srcLen, std::uint8_t* destBytes,
                               std::size_t destLen, const std::uint8_t* charset,
                               bool requirePadding) {
  if (srcLen == 0 || destLen == 0 || srcBytes == nullptr || destBytes == nullptr ||
      charset == nullptr) {
    return 0;
  }
  const auto* src = reinterpret_cast<const unsigned char*>(srcBytes);
  // A NUL byte ends the input wherever it is.
  if (const void* nul = std::memchr(src, 0, srcLen)) {
    srcLen = static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - src);
  }
  const QuantumTables* quanta = quantaFor(charset);

  std::size_t p = 0;  // input position
  std::size_t i = 0;  // output index
  int state = 0;
  // Bits of the byte being assembled; kept apart from the output so that a
  // caller's buffer is never written beyond the bytes actually decoded.
  unsigned pending = 0;
  bool sawPadding = false;

  while (true) {
    if (state == 0 && quanta != nullptr) {
      while (srcLen - p >= 4 && destLen - i >= 3) {
        const std::uint32_t bits =
            quanta->shifted[0][src[p]] | quanta->shifted[1][src[p + 1]] |
            quanta->shifted[2][src[p + 2]] | quanta->shifted[3][src[p + 3]];
        if (bits & kNotData) break;
        destBytes[i] = static_cast<std::uint8_t>(bits >> 16);
        destBytes[i + 1] = static_cast<std::uint8_t>(bits >> 8);
        destBytes[i + 2] = static_cast<std::uint8_t>(bits);
        i += 3;
        p += 4;
      }
    }
    if (p >= srcLen) break;
    const unsigned char c = src[p++];
    if (isSpace(c)) continue;
    if (c == '=') {
      sawPadding = true;
      break;
    }
    const unsigned v = charset[c];
    if (v >= 64) return 0;
    switch (state) {
      case 0:
        pending = v << 2;
        state = 1;
        break;
      case 1:
        if (i >= destLen) return 0;
        destBytes[i++] = static_cast<std::uint8_t>(pending | (v >> 4));
        pending = (v & 15) << 4;
        state = 2;
        break;
      case 2:
        if (i >= destLen) return 0;
        destBytes[i++] = static_cast<std::uint8_t>(pending | (v >> 2));
        pending = (v & 3) << 6;
        state = 3;
        break;
      default:
        if (i >= destLen) return 0;
        destBytes[i++] = static_cast<std::uint8_t>(pending | v);
        pending = 0;
        state = 0;
        break;
    }
  }

  if (sawPadding) {
    if (state == 0 || state == 1) return 0;
    if (p < srcLen) {
      if (state == 2) {
        while (p < srcLen && isSpace(src[p])) ++p;
        if (p >= srcLen || src[p] != '=') return 0;
        ++p;
      }
      for (; p < srcLen; ++p) {
        if (!isSpace(src[p])) return 0;
      }
    } else if (state == 2) {
      return 0;  // the second "=" is missing
    }
  } else if (requirePadding ? state != 0 : state == 1) {
    return 0;
  }
  // The last character may not carry bits beyond the data.
  if (pending != 0) return 0;
  return i;
}

template <typename Container>
std::optional<Container> Base64::baseEncode(const void* bytes, std::size_t length,
                                            const char* charset, bool padded) {
  if (bytes == nullptr || length == 0) return std::nullopt;
  const std::size_t size = encodedLength(length, padded);
  if (size == 0) return std::nullopt;
  Container out(size, 0);
  const std::size_t written =
      baseEncode(bytes, length, reinterpret_cast<char*>(out.data()), out.size(), charset, padded);
  if (written != size) {
    reportInternalFault("how did we calc the length wrong?");
    return std::nullopt;
  }
  return out;
}

std::optional<Base64::Bytes> Base64::baseDecode(const char* bytes, std::size_t length,
                                                const std::uint8_t* charset,
                                                bool requirePadding) {
  if (bytes == nullptr || length == 0) return std::nullopt;
  Bytes out(decodedCapacity(length), 0);
  const std::size_t written =
      baseDecode(bytes, length, out.data(), out.size(), charset, requirePadding);
  if (written == 0) return std::nullopt;
  out.resize(written);
  return out;
}

std::optional<Base64::Bytes> Base64::encodeData(ByteSpan data) {
  return baseEncode<Bytes>(data.data(), data.size(), kBase64EncodeChars, true);
}

std::optional<Base64::Bytes> Base64::encodeBytes(const void* bytes, std::size_t length) {
  return baseEncode<Bytes>(bytes, length, kBase64EncodeChars, true);
}

std::optional<std::string> Base64::stringByEncodingData(ByteSpan data) {
  return baseEncode<std::string>(data.data(), data.size(), kBase64EncodeChars, true);
}

std::optional<std::string> Base64::stringByEncodingBytes(const void* bytes, std::size_t length) {
  return baseEncode<std::string>(bytes, length, kBase64EncodeChars, true);
}

std::optional<Base64::Bytes> Base64::decodeData(ByteSpan data) {
  return baseDecode(reinterpret_cast<const char*>(data.data()), data.size(),
                    kBase64DecodeChars.data(), true);
}

std::optional<Base64::Bytes> Base64::decodeBytes(const void* bytes, std::size_t length) {
  return baseDecode(static_cast<const char*>(bytes), length, kBase64DecodeChars.data(), true);
}

std::optional<Base64::Bytes> Base64::decodeString(std::string_view string) {
  if (!isAscii(string)) return std::nullopt;
  return baseDecode(string.data(), string.size(), kBase64DecodeChars.data(), true);
}

std::optional<Base64::Bytes> Base64::webSafeEncodeData(ByteSpan data, bool padded) {
  return baseEncode<Bytes>(data.data(), data.size(), kWebSafeBase64EncodeChars, padded);
}

std::optional<Base64::Bytes> Base64::webSafeEncodeBytes(const void* bytes, std::size_t length,
                                                        bool padded) {
  return baseEncode<Bytes>(bytes, length, kWebSafeBase64EncodeChars, padded);
}

std::optional<std::string> Base64::stringByWebSafeEncodingData(ByteSpan data, bool padded) {
  return baseEncode<std::string>(data.data(), data.size(), kWebSafeBase64EncodeChars, padded);
}

std::optional<std::string> Base64::stringByWebSafeEncodingBytes(const void* bytes,
                                                                std::size_t length, bool padded) {
  return baseEncode<std::string>(bytes, length, kWebSafeBase64EncodeChars, padded);
}

std::optional<Base64::Bytes> Base64::webSafeDecodeData(ByteSpan data) {
  return baseDecode(reinterpret_cast<const char*>(data.data()), data.size(),
                    kWebSafeBase64DecodeChars.data(), false);
}

std::optional<Base64::Bytes> Base64::webSafeDecodeBytes(const void* bytes, std::size_t length) {
  return baseDecode(static_cast<const char*>(bytes), length, kWebSafeBase64DecodeChars.data(),
                    false);
}

std::optional<Base64::Bytes> Base64::webSafeDecodeString(std::string_view string) {
  if (!isAscii(string)) return std::nullopt;
  return baseDecode(string.data(), string.size(), kWebSafeBase64DecodeChars.data(), false);
}

}  // namespace glowsnap
