#include "base64/Base64.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace glowsnap {
namespace {

using Bytes = Base64::Bytes;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string textOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// RFC 4648 section 10: the same texts in both alphabets, since none of them
// uses values 62 or 63.
struct Vector {
  const char* plain;
  const char* encoded;
  const char* unpadded;
};
constexpr Vector kRfcVectors[] = {
    {"f", "Zg==", "Zg"},
    {"fo", "Zm8=", "Zm8"},
    {"foo", "Zm9v", "Zm9v"},
    {"foob", "Zm9vYg==", "Zm9vYg"},
    {"fooba", "Zm9vYmE=", "Zm9vYmE"},
    {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
};

TEST(Base64Test, RfcVectorsInBothAlphabets) {
  for (const auto& v : kRfcVectors) {
    SCOPED_TRACE(v.plain);
    const Bytes plain = bytesOf(v.plain);
    EXPECT_EQ(Base64::stringByEncodingData(plain), v.encoded);
    EXPECT_EQ(Base64::stringByEncodingBytes(v.plain, std::strlen(v.plain)), v.encoded);
    EXPECT_EQ(Base64::encodeData(plain), bytesOf(v.encoded));
    EXPECT_EQ(Base64::encodeBytes(v.plain, std::strlen(v.plain)), bytesOf(v.encoded));
    EXPECT_EQ(Base64::decodeString(v.encoded), plain);
    EXPECT_EQ(Base64::decodeData(bytesOf(v.encoded)), plain);
    EXPECT_EQ(Base64::decodeBytes(v.encoded, std::strlen(v.encoded)), plain);

    EXPECT_EQ(Base64::stringByWebSafeEncodingData(plain, true), v.encoded);
    EXPECT_EQ(Base64::stringByWebSafeEncodingData(plain, false), v.unpadded);
    EXPECT_EQ(Base64::stringByWebSafeEncodingBytes(v.plain, std::strlen(v.plain), false),
              v.unpadded);
    EXPECT_EQ(Base64::webSafeEncodeData(plain, true), bytesOf(v.encoded));
    EXPECT_EQ(Base64::webSafeEncodeBytes(v.plain, std::strlen(v.plain), false),
              bytesOf(v.unpadded));
    EXPECT_EQ(Base64::webSafeDecodeString(v.encoded), plain);
    EXPECT_EQ(Base64::webSafeDecodeString(v.unpadded), plain);
    EXPECT_EQ(Base64::webSafeDecodeData(bytesOf(v.unpadded)), plain);
    EXPECT_EQ(Base64::webSafeDecodeBytes(v.encoded, std::strlen(v.encoded)), plain);
  }
}

TEST(Base64Test, AlphabetsDifferOnlyInValues62And63) {
  const Bytes high = {0xFB, 0xEF, 0xFF};  // values 62, 62, 63, 63
  EXPECT_EQ(Base64::stringByEncodingData(high), "++//");
  EXPECT_EQ(Base64::stringByWebSafeEncodingData(high, true), "--__");
  EXPECT_EQ(Base64::stringByWebSafeEncodingData(Bytes{0xFF}, false), "_w");
  EXPECT_EQ(Base64::stringByWebSafeEncodingData(Bytes{0xFF}, true), "_w==");

  EXPECT_EQ(Base64::decodeString("++//"), high);
  EXPECT_EQ(Base64::webSafeDecodeString("--__"), high);
  // Each table knows only its own alphabet.
  EXPECT_FALSE(Base64::decodeString("--__"));
  EXPECT_FALSE(Base64::decodeString("ab-d"));
  EXPECT_FALSE(Base64::decodeString("ab_d"));
  EXPECT_FALSE(Base64::webSafeDecodeString("++//"));
  EXPECT_FALSE(Base64::webSafeDecodeString("ab+d"));
  EXPECT_FALSE(Base64::webSafeDecodeString("ab/d"));
  for (int c = 128; c < 256; ++c) {
    EXPECT_EQ(kBase64DecodeChars[c], kBase64InvalidChar);
    EXPECT_EQ(kWebSafeBase64DecodeChars[c], kBase64InvalidChar);
  }
}

TEST(Base64Test, BasicAuthorizationText) {
  EXPECT_EQ(Base64::stringByEncodingData(bytesOf("abc")), "YWJj");
  EXPECT_EQ(Base64::stringByEncodingData(bytesOf("ab")), "YWI=");
  EXPECT_EQ(Base64::stringByEncodingData(bytesOf("Aladdin:open sesame")),
            "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

TEST(Base64Test, WhitespaceIsSkippedAnywhere) {
  const std::string clean = "YWJj";
  for (std::size_t a = 0; a <= clean.size(); ++a) {
    for (std::size_t b = a; b <= clean.size(); ++b) {
      std::string text = clean;
      text.insert(b, "\n");
      text.insert(a, " ");
      SCOPED_TRACE(text);
      EXPECT_EQ(Base64::decodeString(text), bytesOf("abc"));
    }
  }
  // Every byte of the whitespace set, the two outside ASCII through the byte
  // decoders only.
  const Bytes spaced = {'Y', 9, 'W', 10, 11, 'J', 12, 13, 'j', 32, 160, 255};
  EXPECT_EQ(Base64::decodeData(spaced), bytesOf("abc"));
  EXPECT_EQ(Base64::webSafeDecodeData(spaced), bytesOf("abc"));
  // Whitespace between and after the padding characters.
  EXPECT_EQ(Base64::decodeString("YQ= \t=\r\n"), bytesOf("a"));
  EXPECT_EQ(Base64::decodeString("YQ==  "), bytesOf("a"));
  // Line-broken text, as mail bodies carry it, long enough to leave and
  // re-enter the quantum-at-a-time path several times.
  std::string plain(300, '\0');
  for (std::size_t k = 0; k < plain.size(); ++k) plain[k] = static_cast<char>(k * 7);
  std::string encoded = *Base64::stringByEncodingBytes(plain.data(), plain.size());
  for (std::size_t k = 76; k < encoded.size(); k += 78) encoded.insert(k, "\r\n");
  EXPECT_EQ(Base64::decodeString(encoded), bytesOf(plain));
}

TEST(Base64Test, PaddingRules) {
  EXPECT_FALSE(Base64::decodeString("YWI"));  // padding required
  EXPECT_EQ(Base64::webSafeDecodeString("YWI"), bytesOf("ab"));
  EXPECT_FALSE(Base64::decodeString("YQ="));  // the second "=" is missing
  EXPECT_FALSE(Base64::webSafeDecodeString("YQ="));
  EXPECT_FALSE(Base64::decodeString("YQ= "));
  EXPECT_FALSE(Base64::decodeString("YQ=x"));
  EXPECT_FALSE(Base64::decodeString("YQ== x"));  // text after the padding
  EXPECT_FALSE(Base64::decodeString("YWI=="));   // one "=" too many
  EXPECT_FALSE(Base64::decodeString("YWI=YQ=="));
  EXPECT_FALSE(Base64::decodeString("Y==="));  // "=" after one character
  EXPECT_FALSE(Base64::decodeString("=YWJ"));  // "=" first
  EXPECT_FALSE(Base64::decodeString("YWJj="));
  EXPECT_FALSE(Base64::decodeString("Y"));  // a lone character is never data
  EXPECT_FALSE(Base64::webSafeDecodeString("YWJjY"));
  EXPECT_EQ(Base64::webSafeDecodeString("YQ"), bytesOf("a"));
  EXPECT_EQ(Base64::webSafeDecodeString("YQ=="), bytesOf("a"));
}

TEST(Base64Test, LeftoverBitsMustBeZero) {
  EXPECT_FALSE(Base64::decodeString("QR=="));
  EXPECT_EQ(Base64::decodeString("QQ=="), Bytes{65});
  EXPECT_FALSE(Base64::decodeString("QUJ="));
  EXPECT_EQ(Base64::decodeString("QUI="), bytesOf("AB"));
  EXPECT_FALSE(Base64::webSafeDecodeString("QR"));
  EXPECT_FALSE(Base64::webSafeDecodeString("QUJ"));
}

TEST(Base64Test, NulEndsTheInput) {
  const char withNul[] = "YWJj\0!!!";
  EXPECT_EQ(Base64::decodeBytes(withNul, sizeof withNul - 1), bytesOf("abc"));
  const char paddedNul[] = "YQ==\0x";
  EXPECT_EQ(Base64::decodeBytes(paddedNul, sizeof paddedNul - 1), bytesOf("a"));
  const char missing[] = "YQ=\0=";
  EXPECT_FALSE(Base64::decodeBytes(missing, sizeof missing - 1));
  const char early[] = "YQ\0Jj";
  EXPECT_FALSE(Base64::decodeBytes(early, sizeof early - 1));
  EXPECT_EQ(Base64::webSafeDecodeBytes(early, sizeof early - 1), bytesOf("a"));
  EXPECT_FALSE(Base64::decodeString(std::string_view("\0YWJj", 5)));
}

TEST(Base64Test, NothingForEmptyOrBadInput) {
  EXPECT_FALSE(Base64::encodeData({}));
  EXPECT_FALSE(Base64::encodeBytes(nullptr, 3));
  EXPECT_FALSE(Base64::encodeBytes("abc", 0));
  EXPECT_FALSE(Base64::stringByEncodingData({}));
  EXPECT_FALSE(Base64::stringByWebSafeEncodingData({}, false));
  EXPECT_FALSE(Base64::webSafeEncodeBytes(nullptr, 0, true));
  EXPECT_FALSE(Base64::decodeString(""));
  EXPECT_FALSE(Base64::decodeData({}));
  EXPECT_FALSE(Base64::decodeBytes(nullptr, 4));
  EXPECT_FALSE(Base64::webSafeDecodeString(""));
  // Whitespace only decodes to nothing, not to an empty result.
  EXPECT_FALSE(Base64::decodeString(" \r\n\t"));
  EXPECT_FALSE(Base64::webSafeDecodeString("  "));
  EXPECT_FALSE(Base64::decodeString("===="));
  // Strings outside ASCII, even where the byte would be whitespace.
  EXPECT_FALSE(Base64::decodeString("YWJj\xC2\xA0"));
  EXPECT_FALSE(Base64::webSafeDecodeString("\xFFYWJj"));
  EXPECT_FALSE(Base64::decodeString("YW*j"));
  EXPECT_FALSE(Base64::decodeString("YWJjYW.j"));
}

TEST(Base64Test, BufferCodersNeverWritePastTheirBuffer) {
  // Sizes that the allocating operations never use: too small is a failure
  // with no byte written past the end.
  char encoded[8];
  std::memset(encoded, '#', sizeof encoded);
  EXPECT_EQ(Base64::baseEncode("abcd", 4, encoded, 7, kBase64EncodeChars, true), 0u);
  EXPECT_EQ(encoded[7], '#');
  EXPECT_EQ(Base64::baseEncode("abcd", 4, encoded, 8, kBase64EncodeChars, true), 8u);
  EXPECT_EQ(std::string(encoded, 8), "YWJjZA==");
  EXPECT_EQ(Base64::baseEncode("abcd", 4, encoded, 6, kWebSafeBase64EncodeChars, false), 6u);

  std::uint8_t decoded[4];
  std::memset(decoded, 0xEE, sizeof decoded);
  EXPECT_EQ(Base64::baseDecode("YWJjZA==", 8, decoded, 3, kBase64DecodeChars.data(), true), 0u);
  EXPECT_EQ(decoded[3], 0xEE);
  EXPECT_EQ(Base64::baseDecode("YWJjZA==", 8, decoded, 4, kBase64DecodeChars.data(), true), 4u);
  EXPECT_EQ(std::memcmp(decoded, "abcd", 4), 0);
  // An exact buffer with leftover garbage past the data still decodes.
  std::uint8_t one[1] = {0x5A};
  EXPECT_EQ(Base64::baseDecode("QQ==", 4, one, 1, kBase64DecodeChars.data(), true), 1u);
  EXPECT_EQ(one[0], 65);
  EXPECT_EQ(Base64::encodedLength(5, true), 8u);
  EXPECT_EQ(Base64::encodedLength(5, false), 7u);
  EXPECT_EQ(Base64::decodedCapacity(5), 6u);
  EXPECT_EQ(Base64::encodedLength(SIZE_MAX / 4, true), 0u);
}

TEST(Base64Test, CustomAlphabetTakesTheReferencePath) {
  // The fast paths are keyed to the two built-in tables; an alphabet of the
  // caller's must give the same arithmetic through the plain path.
  static constexpr char kReversed[] =
      "/+9876543210zyxwvutsrqponmlkjihgfedcbaZYXWVUTSRQPONMLKJIHGFEDCBA";
  constexpr auto table = base64_detail::makeDecodeTable(kReversed);
  const std::string plain = "Many hands make light work.";
  std::string encoded(Base64::encodedLength(plain.size(), true), '\0');
  ASSERT_EQ(Base64::baseEncode(plain.data(), plain.size(), encoded.data(), encoded.size(),
                               kReversed, true),
            encoded.size());
  std::string standard = *Base64::stringByEncodingBytes(plain.data(), plain.size());
  for (std::size_t k = 0; k < standard.size(); ++k) {
    if (standard[k] == '=') continue;
    EXPECT_EQ(encoded[k], kReversed[kBase64DecodeChars[static_cast<unsigned char>(standard[k])]]);
  }
  Bytes back(Base64::decodedCapacity(encoded.size()));
  ASSERT_EQ(Base64::baseDecode(encoded.data(), encoded.size(), back.data(), back.size(),
                               table.data(), true),
            plain.size());
  back.resize(plain.size());
  EXPECT_EQ(back, bytesOf(plain));
}

// The table-driven and vector paths are keyed to the built-in tables; the
// same tables at another address take the plain character-by-character
// path, which is the reference they must agree with, byte for byte and in
// what they reject.
TEST(Base64Test, FastPathsAgreeWithThePlainPath) {
  const std::array<std::uint8_t, 256> standardCopy = kBase64DecodeChars;
  const std::array<std::uint8_t, 256> webSafeCopy = kWebSafeBase64DecodeChars;
  static constexpr char standardChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  static constexpr char webSafeChars[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::mt19937 rng(7);
  for (bool webSafe : {false, true}) {
    SCOPED_TRACE(webSafe ? "web-safe" : "standard");
    const std::uint8_t* fast =
        webSafe ? kWebSafeBase64DecodeChars.data() : kBase64DecodeChars.data();
    const std::uint8_t* plain = webSafe ? webSafeCopy.data() : standardCopy.data();
    const char* fastChars = webSafe ? kWebSafeBase64EncodeChars : kBase64EncodeChars;
    const char* plainChars = webSafe ? webSafeChars : standardChars;

    // Encoding, every length up to a few vector steps.
    for (std::size_t length = 1; length <= 200; ++length) {
      Bytes data(length);
      for (auto& b : data) b = static_cast<std::uint8_t>(rng());
      for (bool padded : {false, true}) {
        std::string a(Base64::encodedLength(length, padded), '\0'), b = a;
        ASSERT_EQ(Base64::baseEncode(data.data(), length, a.data(), a.size(), fastChars, padded),
                  a.size());
        ASSERT_EQ(Base64::baseEncode(data.data(), length, b.data(), b.size(), plainChars, padded),
                  b.size());
        ASSERT_EQ(a, b) << length;
      }
    }

    // Decoding: every byte value at every position of a text three vector
    // steps long.
    Bytes data(72);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    const std::string valid = *Base64::stringByWebSafeEncodingData(data, true);
    std::string text = webSafe ? valid : *Base64::stringByEncodingData(data);
    ASSERT_EQ(text.size(), 96u);
    for (std::size_t position = 0; position < text.size(); ++position) {
      for (int c = 0; c < 256; ++c) {
        std::string changed = text;
        changed[position] = static_cast<char>(c);
        Bytes a(Base64::decodedCapacity(changed.size())), b = a;
        const std::size_t na =
            Base64::baseDecode(changed.data(), changed.size(), a.data(), a.size(), fast, !webSafe);
        const std::size_t nb =
            Base64::baseDecode(changed.data(), changed.size(), b.data(), b.size(), plain, !webSafe);
        ASSERT_EQ(na, nb) << "byte " << c << " at " << position;
        a.resize(na);
        b.resize(nb);
        ASSERT_EQ(a, b) << "byte " << c << " at " << position;
      }
    }
  }
}

TEST(Base64Test, RoundTripOfRandomInputsOfEveryLength) {
  std::mt19937 rng(20261207);
  std::uniform_int_distribution<int> byte(0, 255);
  for (std::size_t length = 0; length <= 300; ++length) {
    Bytes data(length);
    for (auto& b : data) b = static_cast<std::uint8_t>(byte(rng));
    SCOPED_TRACE(length);
    const auto standard = Base64::encodeData(data);
    const auto padded = Base64::webSafeEncodeData(data, true);
    const auto unpadded = Base64::webSafeEncodeData(data, false);
    if (length == 0) {
      EXPECT_FALSE(standard);
      EXPECT_FALSE(padded);
      EXPECT_FALSE(unpadded);
      continue;
    }
    ASSERT_TRUE(standard && padded && unpadded);
    EXPECT_EQ(standard->size(), (length + 2) / 3 * 4);
    EXPECT_EQ(unpadded->size(), (length * 8 + 5) / 6);
    EXPECT_EQ(Base64::decodeData(*standard), data);
    EXPECT_EQ(Base64::webSafeDecodeData(*padded), data);
    EXPECT_EQ(Base64::webSafeDecodeData(*unpadded), data);
    if (length % 3 != 0) {
      // Dropping one "=" leaves a partial quantum.
      EXPECT_FALSE(Base64::decodeData(Bytes(standard->begin(), standard->end() - 1)));
    }
    // The strings are the same texts.
    EXPECT_EQ(Base64::stringByEncodingData(data), textOf(*standard));
    EXPECT_EQ(Base64::stringByWebSafeEncodingData(data, false), textOf(*unpadded));
    EXPECT_EQ(Base64::decodeString(textOf(*standard)), data);
    EXPECT_EQ(Base64::webSafeDecodeString(textOf(*unpadded)), data);
  }
}

TEST(Base64Test, LargeRoundTrip) {
  // Large enough for the results to be allocated on huge pages.
  Bytes data(6 << 20);
  std::mt19937_64 rng(3);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng() >> 56);
  const auto text = Base64::stringByEncodingData(data);
  ASSERT_TRUE(text);
  ASSERT_EQ(text->size(), (data.size() + 2) / 3 * 4);
  EXPECT_EQ(text->substr(0, 8), *Base64::stringByEncodingBytes(data.data(), 6));
  EXPECT_EQ(Base64::decodeString(*text), data);
  const auto safe = Base64::webSafeEncodeData(data, false);
  ASSERT_TRUE(safe);
  EXPECT_EQ(Base64::webSafeDecodeData(*safe), data);
}

}  // namespace
}  // namespace glowsnap
