#include "platform/graphics/PngCodec.h"

#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <png.h>

#include "platform/graphics/ImageIO.h"
#include "platform/graphics/JpegCodec.h"
#include "platform/graphics/PixelBuffer.h"

namespace glowsnap {

namespace {

using imageio::makeError;

struct DecodeState {
  std::span<const std::uint8_t> data;
  std::size_t pos = 0;
  std::uint64_t maxPixels = 0;
  std::vector<std::uint8_t> pixels;
  std::vector<png_bytep> rows;
  int width = 0;
  int height = 0;
  int exif = 0;  // EXIF orientation of an eXIf chunk, 0 without one
  int errorCode = 0;
  std::string errorText;
};

struct EncodeState {
  const Image* image = nullptr;
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> straight;  // un-premultiplied copy
  std::vector<png_bytep> rows;
  std::vector<std::uint8_t> exif;  // eXIf chunk: TIFF data without "Exif\0\0"
  std::string errorText;
};

// libpng reports fatal errors here; the message is kept and the work jumps
// back to the function that set it up.
void onError(png_structp png, png_const_charp message) {
  auto* text = static_cast<std::string*>(png_get_error_ptr(png));
  if (text && text->empty()) *text = message ? message : "unknown error";
  png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void readFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto* st = static_cast<DecodeState*>(png_get_io_ptr(png));
  if (length > st->data.size() - st->pos) png_error(png, "the data ends early");
  std::memcpy(out, st->data.data() + st->pos, length);
  st->pos += length;
}

void writeToMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* st = static_cast<EncodeState*>(png_get_io_ptr(png));
  st->out.insert(st->out.end(), data, data + length);
}

void flushNothing(png_structp) {}

void premultiplyRow(std::uint8_t* p, int width) {
  for (int x = 0; x < width; ++x, p += 4) {
    const unsigned a = p[0];
    if (a == 255) continue;
    for (int c = 1; c < 4; ++c) p[c] = static_cast<std::uint8_t>((p[c] * a + 127) / 255);
  }
}

void runDecode(DecodeState& st) {
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &st.errorText, onError, onWarning);
  if (!png) {
    st.errorCode = imageio::kCorrupt;
    st.errorText = "the PNG reader could not be created";
    return;
  }
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    st.errorCode = imageio::kCorrupt;
    st.errorText = "the PNG reader could not be created";
    return;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    st.errorCode = imageio::kCorrupt;
    st.errorText = "truncated or damaged PNG data (" + st.errorText + ")";
    return;
  }
  png_set_read_fn(png, &st, readFromMemory);
  // The pixel limit is ours to apply, after the header, before allocating.
  png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
  png_read_info(png, info);

  png_uint_32 w = 0, h = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, &w, &h, &depth, &colorType, &interlace, nullptr, nullptr);
  const std::uint64_t count = std::uint64_t{w} * h;
  if (count > st.maxPixels) {
    st.errorCode = imageio::kTooLarge;
    st.errorText = "the PNG image of " + std::to_string(w) + " x " + std::to_string(h) +
                   " pixels is over the limit of " + std::to_string(st.maxPixels) + " pixels";
    png_destroy_read_struct(&png, &info, nullptr);
    return;
  }
  st.width = static_cast<int>(w);
  st.height = static_cast<int>(h);

  // Every layout becomes 8-bit A, R, G, B.
  png_set_expand(png);  // palette → RGB, grey below 8 bits → 8, tRNS → alpha
  png_set_scale_16(png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
    png_set_gray_to_rgb(png);
  const bool hasAlpha =
      (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
  if (hasAlpha)
    png_set_swap_alpha(png);
  else
    png_set_filler(png, 0xFF, PNG_FILLER_BEFORE);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::size_t rowBytes = static_cast<std::size_t>(st.width) * 4;
  if (png_get_rowbytes(png, info) != rowBytes) png_error(png, "unexpected row layout");

  try {
    st.pixels = PixelBuffer::zeroed(rowBytes * h);
    st.rows.resize(h);
  } catch (const std::bad_alloc&) {
    png_destroy_read_struct(&png, &info, nullptr);
    st.errorCode = imageio::kTooLarge;
    st.errorText = "not enough memory for the PNG image";
    return;
  }
  for (png_uint_32 y = 0; y < h; ++y) st.rows[y] = st.pixels.data() + rowBytes * y;
  png_read_image(png, st.rows.data());
  png_read_end(png, info);  // an eXIf chunk may also follow the image data
  png_bytep exif = nullptr;
  png_uint_32 exifSize = 0;
  if (png_get_eXIf_1(png, info, &exifSize, &exif) && exif && exifSize > 0 && exifSize < 0xFFF0) {
    std::vector<std::uint8_t> payload = {'E', 'x', 'i', 'f', 0, 0};
    payload.insert(payload.end(), exif, exif + exifSize);
    st.exif = JpegCodec::exifOrientation(payload);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  if (hasAlpha)
    for (png_uint_32 y = 0; y < h; ++y) premultiplyRow(st.rows[y], st.width);
}

void runEncode(EncodeState& st) {
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, &st.errorText, onError, onWarning);
  if (!png) {
    st.errorText = "the PNG writer could not be created";
    return;
  }
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    st.errorText = "the PNG writer could not be created";
    return;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    if (st.errorText.empty()) st.errorText = "unknown error";
    return;
  }
  png_set_write_fn(png, &st, writeToMemory, flushNothing);
  const Image& image = *st.image;
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()),
               static_cast<png_uint_32>(image.height()), 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!st.exif.empty())
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(st.exif.size()), st.exif.data());
  png_write_info(png, info);
  png_set_swap_alpha(png);  // our A, R, G, B is PNG's R, G, B, A
  png_write_image(png, st.rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
}

}  // namespace

Result<ImageRef> PngCodec::decode(std::span<const std::uint8_t> data, std::uint64_t maxPixels) {
  auto st = std::make_unique<DecodeState>();
  st->data = data;
  st->maxPixels = maxPixels;
  runDecode(*st);
  if (st->errorCode != 0) return makeError(st->errorCode, st->errorText);
  auto image = Image::create(st->width, st->height, std::move(st->pixels),
                             imageio::orientationFromExif(st->exif));
  if (!image) return makeError(imageio::kEmpty, "the PNG image has no pixels");
  return image;
}

Result<std::vector<std::uint8_t>> PngCodec::encode(const Image& image) {
  auto st = std::make_unique<EncodeState>();
  st->image = &image;
  const std::size_t rowBytes = image.bytesPerRow();
  st->straight.assign(image.pixels().begin(), image.pixels().end());
  // PNG keeps colour unassociated with alpha.
  for (std::size_t i = 0; i < st->straight.size(); i += 4) {
    std::uint8_t* p = st->straight.data() + i;
    const unsigned a = p[0];
    if (a == 255) continue;
    if (a == 0) {
      p[1] = p[2] = p[3] = 0;
      continue;
    }
    for (int c = 1; c < 4; ++c) {
      const unsigned v = (p[c] * 255u + a / 2) / a;
      p[c] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
    }
  }
  if (image.orientation() != Image::Up) {
    // PNG keeps EXIF in an eXIf chunk, without the JPEG segment's header.
    auto app1 = JpegCodec::makeExifOrientation(imageio::exifFromOrientation(image.orientation()));
    if (app1.size() > 6) st->exif.assign(app1.begin() + 6, app1.end());
  }
  st->rows.resize(static_cast<std::size_t>(image.height()));
  for (int y = 0; y < image.height(); ++y) st->rows[y] = st->straight.data() + rowBytes * y;
  runEncode(*st);
  if (!st->errorText.empty())
    return makeError(imageio::kEncodeFailed, "PNG encoding failed (" + st->errorText + ")");
  return std::move(st->out);
}

}  // namespace glowsnap
