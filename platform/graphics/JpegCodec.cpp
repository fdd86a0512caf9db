#include "platform/graphics/JpegCodec.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <jerror.h>
#include <jpeglib.h>
#include <libexif/exif-data.h>

#include "platform/graphics/ImageIO.h"
#include "platform/graphics/PixelBuffer.h"

namespace glowsnap {

namespace {

using imageio::makeError;

// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back to the call that set up the work, which then cleans up.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX] = {};
  char warning[JMSG_LENGTH_MAX] = {};
  bool damaged = false;
};

void errorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// libjpeg only warns about data that ends early or is damaged, filling the
// rest with grey; such a picture is not the photo, so it counts as corrupt.
void emitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  const int code = cinfo->err->msg_code;
  if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_MUST_RESYNC ||
      code == JWRN_NOT_SEQUENTIAL || code == JWRN_BOGUS_PROGRESSION) {
    if (!err->damaged) (*cinfo->err->format_message)(cinfo, err->warning);
    err->damaged = true;
  }
}

void installErrorManager(jpeg_common_struct* cinfo, ErrorManager& err) {
  cinfo->err = jpeg_std_error(&err.pub);
  err.pub.error_exit = errorExit;
  err.pub.emit_message = emitMessage;
}

bool isExifPayload(const jpeg_saved_marker_ptr m) {
  return m->marker == JPEG_APP0 + 1 && m->data_length >= 6 &&
         std::memcmp(m->data, "Exif\0\0", 6) == 0;
}

struct DecodeState {
  std::span<const std::uint8_t> data;
  std::uint64_t maxPixels = 0;
  ErrorManager err;
  jpeg_decompress_struct cinfo;
  std::vector<std::uint8_t> pixels;
  std::vector<std::uint8_t> row;
  int width = 0;
  int height = 0;
  int exif = 0;
  int errorCode = 0;
  std::string errorText;
};

void cmykRowToArgb(const std::uint8_t* in, std::uint8_t* out, int width, bool inverted) {
  for (int x = 0; x < width; ++x, in += 4, out += 4) {
    // Adobe's files store the inks inverted (255 = no ink).
    const unsigned c = inverted ? in[0] : 255u - in[0];
    const unsigned m = inverted ? in[1] : 255u - in[1];
    const unsigned y = inverted ? in[2] : 255u - in[2];
    const unsigned k = inverted ? in[3] : 255u - in[3];
    out[0] = 255;
    out[1] = static_cast<std::uint8_t>((c * k + 127) / 255);
    out[2] = static_cast<std::uint8_t>((m * k + 127) / 255);
    out[3] = static_cast<std::uint8_t>((y * k + 127) / 255);
  }
}

// Holds the setjmp: only plain data and the state owned by the caller live
// in this frame, so the jump back skips no destructor.
void runDecode(DecodeState& st) {
  jpeg_decompress_struct& cinfo = st.cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  installErrorManager(reinterpret_cast<jpeg_common_struct*>(&cinfo), st.err);
  if (setjmp(st.err.jump)) {
    st.errorCode = imageio::kCorrupt;
    st.errorText = std::string("damaged JPEG data (") + st.err.message + ")";
    jpeg_destroy_decompress(&cinfo);
    return;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, st.data.data(), static_cast<unsigned long>(st.data.size()));
  jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);

  st.width = static_cast<int>(cinfo.image_width);
  st.height = static_cast<int>(cinfo.image_height);
  const std::uint64_t count = std::uint64_t{cinfo.image_width} * cinfo.image_height;
  if (count == 0) {
    st.errorCode = imageio::kEmpty;
    st.errorText = "the JPEG image has no pixels";
    jpeg_destroy_decompress(&cinfo);
    return;
  }
  if (count > st.maxPixels) {
    st.errorCode = imageio::kTooLarge;
    st.errorText = "the JPEG image of " + std::to_string(st.width) + " x " +
                   std::to_string(st.height) + " pixels is over the limit of " +
                   std::to_string(st.maxPixels) + " pixels";
    jpeg_destroy_decompress(&cinfo);
    return;
  }
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
    if (isExifPayload(m)) {
      st.exif = JpegCodec::exifOrientation({m->data, m->data_length});
      break;
    }
  }

  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_ARGB;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 4) {
    st.errorCode = imageio::kCorrupt;
    st.errorText = "unsupported JPEG colour layout";
    jpeg_destroy_decompress(&cinfo);
    return;
  }
  const std::size_t rowBytes = static_cast<std::size_t>(st.width) * 4;
  try {
    st.pixels = PixelBuffer::zeroed(rowBytes * static_cast<std::size_t>(st.height));
    if (cmyk) st.row.resize(rowBytes);
  } catch (const std::bad_alloc&) {
    st.errorCode = imageio::kTooLarge;
    st.errorText = "not enough memory for the JPEG image";
    jpeg_destroy_decompress(&cinfo);
    return;
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    std::uint8_t* dst = st.pixels.data() + rowBytes * cinfo.output_scanline;
    JSAMPROW rowPtr = cmyk ? st.row.data() : dst;
    if (jpeg_read_scanlines(&cinfo, &rowPtr, 1) != 1) break;
    if (cmyk) cmykRowToArgb(st.row.data(), dst, st.width, cinfo.saw_Adobe_marker);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  if (st.err.damaged) {
    st.errorCode = imageio::kCorrupt;
    st.errorText = std::string("truncated or damaged JPEG data (") + st.err.warning + ")";
  }
}

struct EncodeState {
  const Image* image = nullptr;
  int quality = 95;
  std::vector<std::uint8_t> exif;
  ErrorManager err;
  jpeg_compress_struct cinfo;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  std::string errorText;
};

void runEncode(EncodeState& st) {
  jpeg_compress_struct& cinfo = st.cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  installErrorManager(reinterpret_cast<jpeg_common_struct*>(&cinfo), st.err);
  if (setjmp(st.err.jump)) {
    st.errorText = st.err.message;
    jpeg_destroy_compress(&cinfo);
    return;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &st.buffer, &st.size);
  cinfo.image_width = static_cast<JDIMENSION>(st.image->width());
  cinfo.image_height = static_cast<JDIMENSION>(st.image->height());
  // The colour bytes are premultiplied, so a translucent pixel comes out
  // as if laid over black; the alpha byte itself is skipped.
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_EXT_ARGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, st.quality, TRUE);
  // An EXIF file has its APP1 segment first, in place of the JFIF one.
  if (!st.exif.empty()) cinfo.write_JFIF_header = FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  if (!st.exif.empty())
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, st.exif.data(),
                      static_cast<unsigned int>(st.exif.size()));
  const std::size_t rowBytes = st.image->bytesPerRow();
  while (cinfo.next_scanline < cinfo.image_height) {
    // libjpeg does not write through the row pointer.
    JSAMPROW row = const_cast<JSAMPROW>(st.image->data() + rowBytes * cinfo.next_scanline);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
}

}  // namespace

Result<ImageRef> JpegCodec::decode(std::span<const std::uint8_t> data, std::uint64_t maxPixels) {
  auto st = std::make_unique<DecodeState>();
  st->data = data;
  st->maxPixels = maxPixels;
  runDecode(*st);
  if (st->errorCode != 0) return makeError(st->errorCode, st->errorText);
  auto image = Image::create(st->width, st->height, std::move(st->pixels),
                             imageio::orientationFromExif(st->exif));
  if (!image) return makeError(imageio::kCorrupt, "the JPEG image could not be made");
  return image;
}

Result<std::vector<std::uint8_t>> JpegCodec::encode(const Image& image, float quality) {
  auto st = std::make_unique<EncodeState>();
  st->image = &image;
  const float q = quality != quality ? 0.0f : std::min(1.0f, std::max(0.0f, quality));
  st->quality = static_cast<int>(q * 100.0f + 0.5f);
  if (image.orientation() != Image::Up) {
    st->exif = makeExifOrientation(imageio::exifFromOrientation(image.orientation()));
  }
  runEncode(*st);
  if (!st->errorText.empty()) {
    std::free(st->buffer);
    return makeError(imageio::kEncodeFailed, "JPEG encoding failed (" + st->errorText + ")");
  }
  std::vector<std::uint8_t> out(st->buffer, st->buffer + st->size);
  std::free(st->buffer);
  return out;
}

int JpegCodec::exifOrientation(std::span<const std::uint8_t> app1) {
  if (app1.size() < 6 || app1.size() > 0xFFFF) return 0;
  ExifData* ed = exif_data_new_from_data(app1.data(), static_cast<unsigned int>(app1.size()));
  if (!ed) return 0;
  int value = 0;
  ExifEntry* e = exif_content_get_entry(ed->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
  if (e && e->format == EXIF_FORMAT_SHORT && e->components >= 1 && e->data && e->size >= 2)
    value = exif_get_short(e->data, exif_data_get_byte_order(ed));
  exif_data_unref(ed);
  return value;
}

std::vector<std::uint8_t> JpegCodec::makeExifOrientation(int exifOrientation) {
  std::vector<std::uint8_t> out;
  ExifData* ed = exif_data_new();
  if (!ed) return out;
  exif_data_set_byte_order(ed, EXIF_BYTE_ORDER_MOTOROLA);
  ExifEntry* e = exif_entry_new();
  if (e) {
    exif_content_add_entry(ed->ifd[EXIF_IFD_0], e);
    exif_entry_initialize(e, EXIF_TAG_ORIENTATION);
    if (e->data && e->size >= 2) {
      exif_set_short(e->data, EXIF_BYTE_ORDER_MOTOROLA, static_cast<ExifShort>(exifOrientation));
      unsigned char* buf = nullptr;
      unsigned int size = 0;
      exif_data_save_data(ed, &buf, &size);
      if (buf) {
        out.assign(buf, buf + size);
        std::free(buf);
      }
    }
    exif_entry_unref(e);
  }
  exif_data_unref(ed);
  return out;
}

}  // namespace glowsnap
