// gzip in memory and file to file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "http/GzipCodec.h"
#include "http/HTTPRequest.h"
#include "support/TestSupport.h"

namespace glowsnap::test {
namespace {

Bytes sample(std::size_t n) {
  Bytes b(n);
  std::uint32_t x = 12345;
  for (auto& v : b) {
    x = x * 1103515245 + 12345;
    v = static_cast<std::uint8_t>((x >> 16) % 16);  // compressible, not trivial
  }
  return b;
}

TEST(GzipCodec, MemoryRoundTripAndGzipHeader) {
  Bytes data = sample(100000);
  auto z = GzipCodec::compressData(data);
  ASSERT_TRUE(z.has_value());
  ASSERT_GE(z->size(), 18u);
  EXPECT_EQ((*z)[0], 0x1f);
  EXPECT_EQ((*z)[1], 0x8b);
  EXPECT_LT(z->size(), data.size());
  EXPECT_EQ(GzipCodec::uncompressZippedData(*z, 1 << 20), data);
  EXPECT_EQ(HTTPRequest::uncompressZippedData(*HTTPRequest::compressData(data)), data);
}

TEST(GzipCodec, EmptyStaysEmptyWithoutAHeader) {
  EXPECT_EQ(GzipCodec::compressData({}), Bytes{});
  EXPECT_EQ(GzipCodec::uncompressZippedData({}, 10), Bytes{});
}

TEST(GzipCodec, CorruptTruncatedAndOversizedDecodeToNothing) {
  Bytes data = sample(50000);
  auto z = *GzipCodec::compressData(data);
  Bytes truncated(z.begin(), z.begin() + static_cast<std::ptrdiff_t>(z.size() / 2));
  EXPECT_FALSE(GzipCodec::uncompressZippedData(truncated, 1 << 20).has_value());
  Bytes corrupt = z;
  corrupt[z.size() / 2] ^= 0xff;
  corrupt[z.size() / 2 + 1] ^= 0xff;
  EXPECT_FALSE(GzipCodec::uncompressZippedData(corrupt, 1 << 20).has_value());
  EXPECT_FALSE(GzipCodec::uncompressZippedData(bytesFromString("plain text"), 1 << 20));
  // Exactly at the limit is fine; one byte more is not.
  EXPECT_TRUE(GzipCodec::uncompressZippedData(z, data.size()).has_value());
  EXPECT_FALSE(GzipCodec::uncompressZippedData(z, data.size() - 1).has_value());
}

TEST(GzipCodec, ZlibWrappedInputIsDetectedToo) {
  // Window bits 47 accept a zlib header as well: "x\x9c" + deflate of "hi".
  Bytes zlibbed = {0x78, 0x9c, 0xcb, 0xc8, 0x04, 0x00, 0x01, 0x3b, 0x00, 0xd2};
  EXPECT_EQ(GzipCodec::uncompressZippedData(zlibbed, 100), bytesFromString("hi"));
}

TEST(GzipCodec, FileToFile) {
  TempDir dir;
  Bytes data = sample(300000);
  {
    std::ofstream out(dir / "plain", std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
  }
  std::ofstream(dir / "z") << "previous content to be replaced";
  EXPECT_EQ(GzipCodec::compressDataFromFile((dir / "plain").string(), (dir / "z").string()), 0);
  EXPECT_EQ(GzipCodec::uncompressZippedDataFromFile((dir / "z").string(), (dir / "back").string()),
            0);
  std::ifstream in(dir / "back", std::ios::binary);
  Bytes back((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(back, data);

  // Truncated input: data error; missing input: input/output error.
  auto size = std::filesystem::file_size(dir / "z");
  std::filesystem::resize_file(dir / "z", size / 2);
  EXPECT_EQ(GzipCodec::uncompressZippedDataFromFile((dir / "z").string(), (dir / "t").string()),
            -3);
  std::ofstream(dir / "junk") << "not gzip at all";
  EXPECT_EQ(GzipCodec::uncompressZippedDataFromFile((dir / "junk").string(), (dir / "t").string()),
            -3);
  EXPECT_EQ(GzipCodec::compressDataFromFile((dir / "none").string(), (dir / "t").string()), -1);
}

}  // namespace
}  // namespace glowsnap::test
