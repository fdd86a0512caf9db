#include "base64/Base64.h"

#include <sys/mman.h>

#include <cassert>
#include <cstdio>
#include <cstring>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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
  return c == 9 || c == 10 || c == 11 || c == 12 || c == 13 || c == 32 || c == 160 || c == 255;
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

// The vector path (x86-64 with AVX2, chosen at run time): 24 bytes become 32
// characters per step and back. Its tables are derived from the scalar ones
// above, so both alphabets (and the rules of each) are one definition.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define GLOWSNAP_BASE64_AVX2 1

struct VectorEncodeTables {
  std::int8_t offsets[16];  // added to a 6-bit value to give its character
};

constexpr VectorEncodeTables makeVectorEncodeTables(const char* alphabet) {
  // Values 0-25 map to 13, 26-51 to 0, 52-61 to 1-10, 62 to 11, 63 to 12.
  VectorEncodeTables t{};
  t.offsets[13] = static_cast<std::int8_t>(alphabet[0] - 0);
  t.offsets[0] = static_cast<std::int8_t>(alphabet[26] - 26);
  for (int k = 1; k <= 10; ++k) t.offsets[k] = static_cast<std::int8_t>(alphabet[52] - 52);
  t.offsets[11] = static_cast<std::int8_t>(alphabet[62] - 62);
  t.offsets[12] = static_cast<std::int8_t>(alphabet[63] - 63);
  return t;
}

// The offsets above only hold for alphabets that run A-Z, a-z, 0-9 in
// order, as both of ours do.
constexpr bool hasLetterDigitRuns(const char* alphabet) {
  for (int k = 0; k < 26; ++k) {
    if (alphabet[k] != 'A' + k || alphabet[26 + k] != 'a' + k) return false;
  }
  for (int k = 0; k < 10; ++k) {
    if (alphabet[52 + k] != '0' + k) return false;
  }
  return true;
}
static_assert(hasLetterDigitRuns(kBase64EncodeChars) &&
              hasLetterDigitRuns(kWebSafeBase64EncodeChars));

constexpr VectorEncodeTables kStandardVectorEncode = makeVectorEncodeTables(kBase64EncodeChars);
constexpr VectorEncodeTables kWebSafeVectorEncode =
    makeVectorEncodeTables(kWebSafeBase64EncodeChars);

// Decoding classifies a character by its two nibbles: it is not of the
// alphabet exactly when lowBits[low] & highBits[high] is not zero, one bit
// per distinct set of invalid low nibbles. Its value is the character plus
// offsets[high], or offsets[high | 8] for the one character ("special") whose
// offset differs from the rest of its high nibble.
struct VectorDecodeTables {
  bool usable = false;
  std::uint8_t lowBits[16] = {};
  std::uint8_t highBits[16] = {};
  std::int8_t offsets[16] = {};
  std::uint8_t special = 0;
};

constexpr VectorDecodeTables makeVectorDecodeTables(const std::array<std::uint8_t, 256>& decode) {
  VectorDecodeTables t{};
  std::uint16_t patterns[8] = {};
  int patternCount = 0;
  for (int high = 0; high < 16; ++high) {
    std::uint16_t invalid = 0;
    for (int low = 0; low < 16; ++low) {
      if (decode[high * 16 + low] >= 64) invalid = static_cast<std::uint16_t>(invalid | 1u << low);
    }
    if (invalid == 0) continue;
    int bit = 0;
    while (bit < patternCount && patterns[bit] != invalid) ++bit;
    if (bit == patternCount) {
      if (patternCount == 8) return t;
      patterns[patternCount++] = invalid;
    }
    t.highBits[high] = static_cast<std::uint8_t>(1u << bit);
  }
  for (int low = 0; low < 16; ++low) {
    for (int bit = 0; bit < patternCount; ++bit) {
      if (patterns[bit] & (1u << low))
        t.lowBits[low] = static_cast<std::uint8_t>(t.lowBits[low] | 1u << bit);
    }
  }
  bool haveSpecial = false;
  for (int high = 0; high < 16; ++high) {
    // The offsets of the high nibble's characters: one shared by all but at
    // most one character.
    int count[256] = {};
    for (int low = 0; low < 16; ++low) {
      const int c = high * 16 + low;
      if (decode[c] < 64) ++count[(decode[c] - c) & 0xFF];
    }
    int common = -1;
    int distinct = 0;
    for (int off = 0; off < 256; ++off) {
      if (count[off] == 0) continue;
      ++distinct;
      if (common < 0 || count[off] > count[common]) common = off;
    }
    if (distinct == 0) continue;
    if (distinct > 2 || high >= 8) return t;  // characters above 127 are never data
    t.offsets[high] = static_cast<std::int8_t>(common);
    if (distinct == 2) {
      if (haveSpecial) return t;
      for (int low = 0; low < 16; ++low) {
        const int c = high * 16 + low;
        if (decode[c] < 64 && ((decode[c] - c) & 0xFF) != common) {
          if (count[(decode[c] - c) & 0xFF] != 1) return t;
          t.special = static_cast<std::uint8_t>(c);
          t.offsets[high | 8] = static_cast<std::int8_t>((decode[c] - c) & 0xFF);
          haveSpecial = true;
        }
      }
    }
  }
  t.usable = true;
  return t;
}

constexpr VectorDecodeTables kStandardVectorDecode = makeVectorDecodeTables(kBase64DecodeChars);
constexpr VectorDecodeTables kWebSafeVectorDecode =
    makeVectorDecodeTables(kWebSafeBase64DecodeChars);
static_assert(kStandardVectorDecode.usable && kWebSafeVectorDecode.usable);

bool cpuHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

__attribute__((target("avx2"))) inline __m256i load16(const void* p) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(p)));
}

// Encodes whole steps of 24 bytes while 28 can be read; answers the bytes
// consumed (a multiple of 24), having written 4/3 as many characters.
__attribute__((target("avx2"))) std::size_t encodeAvx2(const std::uint8_t* src, std::size_t srcLen,
                                                       char* out,
                                                       const VectorEncodeTables& tables) {
  const __m256i shuffle = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0,
                                           2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
  const __m256i offsets = load16(tables.offsets);
  std::size_t done = 0;
  while (srcLen - done >= 28) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + done));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + done + 12));
    __m256i in = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    // Each 32-bit word gets b1 b0 b2 b1, then the four 6-bit fields are
    // moved into the four bytes.
    in = _mm256_shuffle_epi8(in, shuffle);
    const __m256i t0 = _mm256_and_si256(in, _mm256_set1_epi32(0x0fc0fc00));
    const __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
    const __m256i t2 = _mm256_and_si256(in, _mm256_set1_epi32(0x003f03f0));
    const __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
    const __m256i values = _mm256_or_si256(t1, t3);
    __m256i key = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
    const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), values);
    key = _mm256_or_si256(key, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
    const __m256i chars = _mm256_add_epi8(values, _mm256_shuffle_epi8(offsets, key));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), chars);
    done += 24;
    out += 32;
  }
  return done;
}

// Decodes whole steps of 32 characters of the alphabet while 32 bytes may be
// written; stops before the first step holding anything else. Answers the
// characters consumed (a multiple of 32), having written 3/4 as many bytes.
__attribute__((target("avx2"))) std::size_t decodeAvx2(const unsigned char* src, std::size_t srcLen,
                                                       std::uint8_t* out, std::size_t outLen,
                                                       const VectorDecodeTables& tables) {
  const __m256i lowBits = load16(tables.lowBits);
  const __m256i highBits = load16(tables.highBits);
  const __m256i offsets = load16(tables.offsets);
  const __m256i special = _mm256_set1_epi8(static_cast<char>(tables.special));
  const __m256i nibble = _mm256_set1_epi8(0x0f);
  const __m256i pack = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2,
                                        1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
  std::size_t done = 0;
  std::size_t written = 0;
  while (srcLen - done >= 32 && outLen - written >= 32) {
    const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + done));
    const __m256i high = _mm256_and_si256(_mm256_srli_epi32(in, 4), nibble);
    const __m256i low = _mm256_and_si256(in, nibble);
    if (!_mm256_testz_si256(_mm256_shuffle_epi8(lowBits, low),
                            _mm256_shuffle_epi8(highBits, high))) {
      break;
    }
    const __m256i key = _mm256_or_si256(
        high, _mm256_and_si256(_mm256_cmpeq_epi8(in, special), _mm256_set1_epi8(8)));
    const __m256i values = _mm256_add_epi8(in, _mm256_shuffle_epi8(offsets, key));
    // Four 6-bit values per word become one 24-bit number, whose bytes are
    // then put in order and the lanes' 12 bytes side by side.
    const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
    const __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, pack), lanes);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + written), bytes);
    done += 32;
    written += 24;
  }
  return done;
}

const VectorEncodeTables* vectorEncodeFor(const char* charset) {
  if (!cpuHasAvx2()) return nullptr;
  if (charset == kBase64EncodeChars) return &kStandardVectorEncode;
  if (charset == kWebSafeBase64EncodeChars) return &kWebSafeVectorEncode;
  return nullptr;
}

const VectorDecodeTables* vectorDecodeFor(const std::uint8_t* charset) {
  if (!cpuHasAvx2()) return nullptr;
  if (charset == kBase64DecodeChars.data()) return &kStandardVectorDecode;
  if (charset == kWebSafeBase64DecodeChars.data()) return &kWebSafeVectorDecode;
  return nullptr;
}
#endif

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

// Results of many megabytes are written once, front to back, right after
// they are allocated: asking for huge pages there saves the kernel one
// page fault per 4 KiB, which costs more than the coding itself.
template <typename Container>
void allocateZeroed(Container& out, std::size_t size) {
  constexpr std::size_t kHugePage = 2u << 20;
  if (size >= 2 * kHugePage) {
    out.reserve(size);
    const auto begin = reinterpret_cast<std::uintptr_t>(out.data());
    const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (begin + size) & ~(kHugePage - 1);
    if (last > first) {
      ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
  }
  out.resize(size, 0);
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
  if (needed == 0) return 0;       // too large to be encoded at all
  if (destLen < needed) return 0;  // never a partial text
  const auto* src = static_cast<const std::uint8_t*>(srcBytes);
  char* out = destBytes;
#ifdef GLOWSNAP_BASE64_AVX2
  if (const VectorEncodeTables* vector = vectorEncodeFor(charset)) {
    const std::size_t consumed = encodeAvx2(src, srcLen, out, *vector);
    src += consumed;
    out += consumed / 3 * 4;
  }
#endif
  const std::size_t rest =
      srcLen - static_cast<std::size_t>(src - static_cast<const std::uint8_t*>(srcBytes));
  std::size_t groups = rest / 3;

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
  switch (rest % 3) {
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
#ifdef GLOWSNAP_BASE64_AVX2
  const VectorDecodeTables* vector = vectorDecodeFor(charset);
#endif

  std::size_t p = 0;  // input position
  std::size_t i = 0;  // output index
  int state = 0;
  // Bits of the byte being assembled; kept apart from the output so that a
  // caller's buffer is never written beyond the bytes actually decoded.
  unsigned pending = 0;
  bool sawPadding = false;

  while (true) {
    if (state == 0 && quanta != nullptr) {
#ifdef GLOWSNAP_BASE64_AVX2
      if (vector != nullptr) {
        const std::size_t consumed =
            decodeAvx2(src + p, srcLen - p, destBytes + i, destLen - i, *vector);
        p += consumed;
        i += consumed / 4 * 3;
      }
#endif
      while (srcLen - p >= 4 && destLen - i >= 3) {
        const std::uint32_t bits = quanta->shifted[0][src[p]] | quanta->shifted[1][src[p + 1]] |
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
  Container out;
  allocateZeroed(out, size);
  const std::size_t written =
      baseEncode(bytes, length, reinterpret_cast<char*>(out.data()), out.size(), charset, padded);
  if (written != size) {
    reportInternalFault("how did we calc the length wrong?");
    return std::nullopt;
  }
  return out;
}

std::optional<Base64::Bytes> Base64::baseDecode(const char* bytes, std::size_t length,
                                                const std::uint8_t* charset, bool requirePadding) {
  if (bytes == nullptr || length == 0) return std::nullopt;
  Bytes out;
  allocateZeroed(out, decodedCapacity(length));
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
