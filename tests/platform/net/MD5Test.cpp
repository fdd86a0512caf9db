// MD5 against the test suite of RFC 1321, appendix A.5, and the hex form
// the Mingle signature uses.
#include <gtest/gtest.h>

#include "platform/net/MD5.h"

namespace glowsnap {
namespace {

TEST(MD5, RFC1321TestSuite) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [text, hex] : cases) EXPECT_EQ(md5HexString(text), hex) << '"' << text << '"';
}

TEST(MD5, DigestBytesAndTheirHexForm) {
  auto digest = md5Digest(std::string_view("abc"));
  ASSERT_TRUE(digest);
  EXPECT_EQ((*digest)[0], 0x90);
  EXPECT_EQ((*digest)[15], 0x72);
  EXPECT_EQ(hexString(*digest), "900150983cd24fb0d6963f7d28e17f72");
  // Bytes beyond ASCII and NUL go in as they are.
  const std::uint8_t bytes[] = {0x00, 0xff, 0xc3, 0xa9};
  EXPECT_EQ(hexString(*md5Digest(std::span<const std::uint8_t>(bytes))),
            *md5HexString(std::string_view("\0\xff\xc3\xa9", 4)));
}

}  // namespace
}  // namespace glowsnap
