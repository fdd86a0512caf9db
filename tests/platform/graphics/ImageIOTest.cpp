#include "platform/graphics/ImageIO.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <fstream>
#include <random>

#include <cstdio>

#include <jpeglib.h>
#include <libexif/exif-data.h>
#include <png.h>
#include <zlib.h>

#include "support/ImageCompare.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace glowsnap {
namespace {

using namespace imageio;
using test::Argb;
using test::pixelAt;

std::vector<std::uint8_t> jpegOf(const Image& image, float quality = 0.95f) {
  auto data = encodeJpeg(image, quality);
  EXPECT_TRUE(data.ok());
  return data.ok() ? *data : std::vector<std::uint8_t>{};
}

// An APP1 segment with only an orientation, built independently of the
// codec, placed right after the start-of-image marker.
std::vector<std::uint8_t> withExifOrientation(std::vector<std::uint8_t> jpeg, int exif,
                                              ExifByteOrder order) {
  ExifData* ed = exif_data_new();
  exif_data_set_byte_order(ed, order);
  ExifEntry* e = exif_entry_new();
  exif_content_add_entry(ed->ifd[EXIF_IFD_0], e);
  exif_entry_initialize(e, EXIF_TAG_ORIENTATION);
  exif_set_short(e->data, order, static_cast<ExifShort>(exif));
  unsigned char* buf = nullptr;
  unsigned int size = 0;
  exif_data_save_data(ed, &buf, &size);
  exif_entry_unref(e);
  exif_data_unref(ed);
  std::vector<std::uint8_t> segment = {0xFF, 0xE1, static_cast<std::uint8_t>((size + 2) >> 8),
                                       static_cast<std::uint8_t>((size + 2) & 0xFF)};
  segment.insert(segment.end(), buf, buf + size);
  free(buf);
  jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
  return jpeg;
}

// Writes a PNG of any layout from raw rows, the way other programs would.
std::vector<std::uint8_t> rawPng(int w, int h, int depth, int colorType,
                                 const std::vector<std::uint8_t>& rows, bool interlaced = false,
                                 const std::vector<png_color>& palette = {},
                                 const std::vector<png_byte>& trns = {}) {
  std::vector<std::uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    ADD_FAILURE() << "libpng could not write the test image";
    return {};
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep d, png_size_t n) {
        auto* v = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p));
        v->insert(v->end(), d, d + n);
      },
      [](png_structp) {});
  png_set_IHDR(png, info, w, h, depth, colorType,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!trns.empty()) png_set_tRNS(png, info, trns.data(), static_cast<int>(trns.size()), nullptr);
  png_write_info(png, info);
  const std::size_t rowBytes = rows.size() / h;
  std::vector<png_bytep> ptrs(h);
  for (int y = 0; y < h; ++y) ptrs[y] = const_cast<png_bytep>(rows.data() + rowBytes * y);
  png_write_image(png, ptrs.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

void putBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

int errorCode(const Result<ImageRef>& r) { return r.ok() ? 0 : r.error().code; }

TEST(ImageIO, SniffsFormatsByContentAndByName) {
  const auto photo = test::photoLikeImage(8, 8);
  EXPECT_EQ(sniffFormat(jpegOf(*photo)), Format::Jpeg);
  EXPECT_EQ(sniffFormat(*encodePng(*photo)), Format::Png);
  const std::uint8_t text[] = {'G', 'I', 'F', '8', '9', 'a', 0, 0};
  EXPECT_EQ(sniffFormat(text), Format::Unknown);
  EXPECT_EQ(formatForPath("a/b.JPG"), Format::Jpeg);
  EXPECT_EQ(formatForPath("b.jpeg"), Format::Jpeg);
  EXPECT_EQ(formatForPath("c.Png"), Format::Png);
  EXPECT_EQ(formatForPath("d.gif"), Format::Unknown);
  EXPECT_EQ(formatForPath("jpg"), Format::Unknown);
}

TEST(ImageIO, PngRoundTripIsByteExactWithAlpha) {
  for (const ImageRef& image : {test::photoLikeImage(33, 17), test::randomTranslucentImage(31, 9),
                                test::extremesImage(24, 3)}) {
    auto png = encodePng(*image);
    ASSERT_TRUE(png.ok()) << png.error().description;
    auto back = decode(*png);
    ASSERT_TRUE(back.ok()) << back.error().description;
    EXPECT_TRUE(test::imagesEqual(**back, *image));
  }
}

TEST(ImageIO, PngOfEveryLayoutDecodesToPremultipliedArgb) {
  // 16-bit RGBA: half-transparent red reduced to 8 bits and premultiplied.
  {
    std::vector<std::uint8_t> row = {0xFF, 0xFF, 0, 0, 0,    0,    0x80, 0x80,
                                     0,    0,    0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    auto img = decode(rawPng(2, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA, row));
    ASSERT_TRUE(img.ok()) << img.error().description;
    EXPECT_EQ(pixelAt(**img, 0, 0), (Argb{128, 128, 0, 0}));
    EXPECT_EQ(pixelAt(**img, 1, 0), (Argb{255, 0, 0, 255}));
  }
  // 2-bit grey, interlaced.
  {
    std::vector<std::uint8_t> rows = {0b00011011, 0b11100100};
    auto img = decode(rawPng(4, 2, 2, PNG_COLOR_TYPE_GRAY, rows, true));
    ASSERT_TRUE(img.ok()) << img.error().description;
    EXPECT_EQ(pixelAt(**img, 0, 0), (Argb{255, 0, 0, 0}));
    EXPECT_EQ(pixelAt(**img, 1, 0), (Argb{255, 85, 85, 85}));
    EXPECT_EQ(pixelAt(**img, 3, 0), (Argb{255, 255, 255, 255}));
    EXPECT_EQ(pixelAt(**img, 0, 1), (Argb{255, 255, 255, 255}));
  }
  // Palette with a transparent entry.
  {
    std::vector<png_color> palette = {{255, 0, 0}, {0, 0, 255}};
    std::vector<png_byte> trns = {0, 255};
    std::vector<std::uint8_t> rows = {0, 1};
    auto img = decode(rawPng(2, 1, 8, PNG_COLOR_TYPE_PALETTE, rows, false, palette, trns));
    ASSERT_TRUE(img.ok()) << img.error().description;
    EXPECT_EQ(pixelAt(**img, 0, 0), (Argb{0, 0, 0, 0}));
    EXPECT_EQ(pixelAt(**img, 1, 0), (Argb{255, 0, 0, 255}));
  }
  // Grey with alpha, 8-bit; RGB without alpha gets an opaque alpha byte.
  {
    std::vector<std::uint8_t> rows = {200, 51};
    auto img = decode(rawPng(1, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, rows));
    ASSERT_TRUE(img.ok()) << img.error().description;
    EXPECT_EQ(pixelAt(**img, 0, 0), (Argb{51, 40, 40, 40}));
    auto rgb = decode(rawPng(1, 1, 8, PNG_COLOR_TYPE_RGB, {7, 8, 9}));
    ASSERT_TRUE(rgb.ok()) << rgb.error().description;
    EXPECT_EQ(pixelAt(**rgb, 0, 0), (Argb{255, 7, 8, 9}));
  }
}

TEST(ImageIO, JpegRoundTripStaysWithinTolerance) {
  const auto photo = test::photoLikeImage(96, 64, 4);
  auto back = decode(jpegOf(*photo, 0.95f));
  ASSERT_TRUE(back.ok()) << back.error().description;
  EXPECT_EQ((*back)->orientation(), Image::Up);
  const auto diff = test::compareImages(**back, *photo);
  EXPECT_TRUE(diff.sameSize);
  EXPECT_LE(diff.maxError, 48) << diff.describe();
  EXPECT_LT(diff.meanError, 4.0) << diff.describe();
  // Every decoded pixel is opaque.
  for (std::size_t i = 0; i < (*back)->pixels().size(); i += 4)
    ASSERT_EQ((*back)->pixels()[i], 255);
  // Flat colours survive almost unchanged; lower quality makes smaller files.
  auto flat = test::solidImage(32, 32, {255, 200, 100, 50});
  EXPECT_TRUE(test::imagesNear(**decode(jpegOf(*flat)), *flat, 3));
  EXPECT_LT(jpegOf(*photo, 0.2f).size(), jpegOf(*photo, 0.95f).size());
}

TEST(ImageIO, ExifOrientationBecomesTheTagAndPixelsStayAsStored) {
  const auto photo = test::photoLikeImage(24, 16, 6);
  const auto plain = jpegOf(*photo);
  auto reference = decode(plain);
  ASSERT_TRUE(reference.ok());
  const int expected[9] = {0,
                           Image::Up,
                           Image::UpMirrored,
                           Image::Down,
                           Image::DownMirrored,
                           Image::LeftMirrored,
                           Image::Right,
                           Image::RightMirrored,
                           Image::Left};
  for (ExifByteOrder order : {EXIF_BYTE_ORDER_MOTOROLA, EXIF_BYTE_ORDER_INTEL}) {
    for (int exif = 1; exif <= 8; ++exif) {
      SCOPED_TRACE("EXIF orientation " + std::to_string(exif));
      auto img = decode(withExifOrientation(plain, exif, order));
      ASSERT_TRUE(img.ok()) << img.error().description;
      EXPECT_EQ((*img)->orientation(), expected[exif]);
      EXPECT_EQ(orientationFromExif(exif), expected[exif]);
      EXPECT_TRUE(test::imagesEqual(**img, **reference));
    }
  }
  EXPECT_EQ(orientationFromExif(0), Image::Up);
  EXPECT_EQ(orientationFromExif(9), Image::Up);
  EXPECT_EQ((*decode(withExifOrientation(plain, 42, EXIF_BYTE_ORDER_INTEL)))->orientation(),
            Image::Up);
}

// A CMYK JPEG as prepress programs write it: inks stored inverted (255 = no
// ink) under an Adobe marker, which libjpeg adds for CMYK.
std::vector<std::uint8_t> cmykJpeg(int w, int h, const std::uint8_t ink[4]) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = w;
  cinfo.image_height = h;
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 95, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 4);
  for (int x = 0; x < w; ++x)
    for (int c = 0; c < 4; ++c) row[x * 4 + c] = static_cast<std::uint8_t>(255 - ink[c]);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<std::uint8_t> out(buffer, buffer + size);
  free(buffer);
  return out;
}

TEST(ImageIO, CmykJpegBecomesRgb) {
  const std::uint8_t red[4] = {0, 255, 255, 0};  // magenta and yellow ink
  const std::uint8_t grey[4] = {0, 0, 0, 128};   // half black
  auto r = decode(cmykJpeg(16, 8, red));
  ASSERT_TRUE(r.ok()) << r.error().description;
  EXPECT_TRUE(test::imagesNear(**r, *test::solidImage(16, 8, {255, 255, 0, 0}), 3));
  auto g = decode(cmykJpeg(8, 8, grey));
  ASSERT_TRUE(g.ok()) << g.error().description;
  EXPECT_TRUE(test::imagesNear(**g, *test::solidImage(8, 8, {255, 127, 127, 127}), 3));
}

TEST(ImageIO, EncodersKeepTheOrientationTag) {
  const auto photo = test::photoLikeImage(16, 8, 7);
  for (int tag = 0; tag < 8; ++tag) {
    EXPECT_EQ(orientationFromExif(exifFromOrientation(tag)), tag);
    auto jpg = decode(jpegOf(*photo->withOrientation(tag)));
    ASSERT_TRUE(jpg.ok());
    EXPECT_EQ((*jpg)->orientation(), tag);
    auto png = decode(*encodePng(*photo->withOrientation(tag)));
    ASSERT_TRUE(png.ok());
    EXPECT_EQ((*png)->orientation(), tag);
    EXPECT_TRUE(test::imagesEqual(**png, *photo));
  }
  EXPECT_EQ(exifFromOrientation(8), 1);
}

TEST(ImageIO, BadDataIsRefusedWithTheRightError) {
  EXPECT_EQ(errorCode(decode({})), kEmpty);
  const std::vector<std::uint8_t> garbage(100, 0x42);
  EXPECT_EQ(errorCode(decode(garbage)), kNotAnImage);

  const auto photo = test::photoLikeImage(64, 64, 8);
  auto jpeg = jpegOf(*photo);
  for (std::size_t keep : {std::size_t{3}, std::size_t{40}, jpeg.size() / 2, jpeg.size() - 10}) {
    std::vector<std::uint8_t> cut(jpeg.begin(), jpeg.begin() + keep);
    auto r = decode(cut);
    EXPECT_EQ(errorCode(r), kCorrupt) << "JPEG cut to " << keep << " bytes";
    if (!r.ok()) {
      EXPECT_EQ(r.error().domain, kErrorDomain);
      EXPECT_FALSE(r.error().description.empty());
    }
  }
  std::vector<std::uint8_t> noise = {0xFF, 0xD8, 0xFF};
  noise.insert(noise.end(), garbage.begin(), garbage.end());
  EXPECT_EQ(errorCode(decode(noise)), kCorrupt);

  auto png = *encodePng(*photo);
  for (std::size_t keep : {std::size_t{8}, std::size_t{20}, png.size() / 2, png.size() - 4}) {
    std::vector<std::uint8_t> cut(png.begin(), png.begin() + keep);
    EXPECT_EQ(errorCode(decode(cut)), kCorrupt) << "PNG cut to " << keep << " bytes";
  }
  auto flipped = png;
  flipped[png.size() / 2] ^= 0xFF;  // inside the image data: a CRC mismatch
  EXPECT_EQ(errorCode(decode(flipped)), kCorrupt);
}

TEST(ImageIO, RandomDamageNeverCrashesTheDecoders) {
  // Deterministic damage: a few bytes changed and sometimes the end cut off.
  // Every outcome is either a picture or an error of our domain.
  const auto photo = test::photoLikeImage(40, 24, 10);
  const std::vector<std::vector<std::uint8_t>> originals = {
      jpegOf(*photo), jpegOf(*photo->withOrientation(Image::Right)), *encodePng(*photo),
      *encodePng(*test::randomTranslucentImage(16, 16))};
  std::mt19937 gen(2024);
  int refused = 0;
  for (const auto& original : originals) {
    for (int round = 0; round < 150; ++round) {
      auto data = original;
      const int flips = 1 + static_cast<int>(gen() % 6);
      for (int f = 0; f < flips; ++f) data[gen() % data.size()] = static_cast<std::uint8_t>(gen());
      if (gen() % 3 == 0) data.resize(1 + gen() % data.size());
      auto r = decode(data, 1u << 20);
      if (!r.ok()) {
        ++refused;
        EXPECT_EQ(r.error().domain, kErrorDomain);
        EXPECT_FALSE(r.error().description.empty());
      } else {
        EXPECT_EQ((*r)->pixels().size(),
                  static_cast<std::size_t>((*r)->width()) * (*r)->height() * 4);
      }
    }
  }
  EXPECT_GT(refused, 0);
}

TEST(ImageIO, HugeDimensionsAreRefusedBeforeDecoding) {
  // A PNG header claiming 100000 × 100000 pixels, with a valid checksum.
  auto png = *encodePng(*test::solidImage(2, 2, {255, 1, 2, 3}));
  putBe32(&png[16], 100000);
  putBe32(&png[20], 100000);
  putBe32(&png[29], static_cast<std::uint32_t>(crc32(0, &png[12], 17)));
  auto r = decode(png);
  EXPECT_EQ(errorCode(r), kTooLarge);
  if (!r.ok()) {
    EXPECT_NE(r.error().description.find("100000"), std::string::npos);
  }

  // A JPEG frame header claiming 65000 × 65000.
  auto jpeg = jpegOf(*test::solidImage(8, 8, {255, 1, 2, 3}));
  bool patched = false;
  for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = 0xFD, jpeg[i + 6] = 0xE8;  // height
      jpeg[i + 7] = 0xFD, jpeg[i + 8] = 0xE8;  // width
      patched = true;
      break;
    }
  }
  ASSERT_TRUE(patched);
  EXPECT_EQ(errorCode(decode(jpeg)), kTooLarge);

  // The limit is the caller's to choose.
  const auto photo = test::photoLikeImage(20, 10);
  EXPECT_EQ(errorCode(decode(jpegOf(*photo), 199)), kTooLarge);
  EXPECT_EQ(errorCode(decode(*encodePng(*photo), 199)), kTooLarge);
  EXPECT_TRUE(decode(jpegOf(*photo), 200).ok());
}

TEST(ImageIO, FilesAreReadAndWrittenWhole) {
  test::TempDir dir;
  const auto photo = test::photoLikeImage(40, 30, 9);
  ASSERT_TRUE(writeFile(*photo, dir / "a.png").ok());
  auto png = decodeFile(dir / "a.png");
  ASSERT_TRUE(png.ok()) << png.error().description;
  EXPECT_TRUE(test::imagesEqual(**png, *photo));

  ASSERT_TRUE(writeFile(*photo, dir / "b.JPG", 0.95f).ok());
  auto jpg = decodeFile(dir / "b.JPG");
  ASSERT_TRUE(jpg.ok()) << jpg.error().description;
  EXPECT_TRUE(test::imagesNear(**jpg, *photo, 48));

  auto unknown = writeFile(*photo, dir / "c.gif");
  ASSERT_FALSE(unknown.ok());
  EXPECT_EQ(unknown.error().code, kEncodeFailed);
  EXPECT_FALSE(std::filesystem::exists(dir / "c.gif"));

  auto nowhere = writeFile(*photo, dir / "missing" / "d.png");
  ASSERT_FALSE(nowhere.ok());
  EXPECT_EQ(nowhere.error().code, kWriteFailed);
  std::size_t entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) (void)e, ++entries;
  EXPECT_EQ(entries, 2u) << "nothing but the two images is left behind";

  auto missing = decodeFile(dir / "none.png");
  EXPECT_EQ(errorCode(missing), kUnreadable);
  if (!missing.ok()) {
    EXPECT_NE(missing.error().description.find("No such file"), std::string::npos)
        << missing.error().description;
  }
  EXPECT_EQ(errorCode(decodeFile(dir.path())), kUnreadable);
  { std::ofstream(dir / "empty.jpg"); }
  EXPECT_EQ(errorCode(decodeFile(dir / "empty.jpg")), kEmpty);
}

}  // namespace
}  // namespace glowsnap
