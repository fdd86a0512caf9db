#include "platform/graphics/JpegCodec.h"

#include <algorithm>
#include <condition_variable>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include <jerror.h>
#include <jpeglib.h>
#include <libexif/exif-data.h>

#include "platform/graphics/ImageIO.h"
#include "platform/graphics/Normalize.h"
#include "platform/graphics/PixelBuffer.h"
#include "platform/graphics/Resampler.h"

namespace glowsnap {

namespace {

using imageio::makeError;

// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back to the call that set up the work, which then cleans up.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX] = {};
  // Warnings about damaged data: the first one's text and how many came.
  char warning[JMSG_LENGTH_MAX] = {};
  int damage = 0;
  // Damage that leaves part of the picture undecoded (a lost marker, a bad
  // code), as opposed to stray bytes between segments.
  bool serious = false;
  // The data ran out (see fillAtEnd) and the decoder then missed data it
  // needed: the rest of the scan is not in the file.
  bool endReached = false;
  bool truncated = false;
};

void errorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// libjpeg only warns about damaged data and goes on, filling what it could
// not decode with grey; the warnings are kept for the caller to judge.
void emitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  switch (cinfo->err->msg_code) {
    case JWRN_HIT_MARKER:
      if (err->endReached) {
        err->truncated = true;
        return;
      }
      [[fallthrough]];
    case JWRN_HUFF_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_JPEG_EOF:
      err->serious = true;
      [[fallthrough]];
    case JWRN_EXTRANEOUS_DATA:
      if (err->damage++ == 0) {
        (*cinfo->err->format_message)(cinfo, err->warning);
        // "Corrupt JPEG data: bad Huffman code" says twice what the report says.
        static constexpr char kPrefix[] = "Corrupt JPEG data: ";
        const std::size_t n = sizeof kPrefix - 1;
        if (std::strncmp(err->warning, kPrefix, n) == 0)
          std::memmove(err->warning, err->warning + n, std::strlen(err->warning + n) + 1);
      }
      return;
    default:
      return;
  }
}

void installErrorManager(jpeg_common_struct* cinfo, ErrorManager& err) {
  cinfo->err = jpeg_std_error(&err.pub);
  err.pub.error_exit = errorExit;
  err.pub.emit_message = emitMessage;
}

// The in-memory source asks for more data only when the file is used up:
// like libjpeg's own, it then supplies an end marker, but it notes that the
// end was reached instead of warning at once. A file that lacks only its
// end marker has every pixel; one cut inside the scan makes the decoder
// miss data afterwards (a "premature end of data segment").
boolean fillAtEnd(j_decompress_ptr cinfo) {
  static const JOCTET kEndMarker[2] = {0xFF, JPEG_EOI};
  reinterpret_cast<ErrorManager*>(cinfo->err)->endReached = true;
  cinfo->src->next_input_byte = kEndMarker;
  cinfo->src->bytes_in_buffer = 2;
  return TRUE;
}

bool isExifPayload(const jpeg_saved_marker_ptr m) {
  return m->marker == JPEG_APP0 + 1 && m->data_length >= 6 &&
         std::memcmp(m->data, "Exif\0\0", 6) == 0;
}

// libjpeg's working memory (a progressive file keeps all its coefficients)
// is capped like a decoded picture.
constexpr long kMaxDecoderMemory = 1L << 30;

// Hands strips of decoded rows to a reducer on a thread of its own, so that
// reducing a large picture overlaps decoding it. A few strips circulate:
// the decoder fills one while the thread reduces the others.
class RowPipe {
 public:
  static constexpr int kStripRows = 16;

  RowPipe(RowReducer& reducer, std::size_t rowBytes) : reducer_(reducer), rowBytes_(rowBytes) {
    for (auto& strip : strips_) strip.resize(rowBytes * kStripRows);
    for (int i = 0; i < kStrips; ++i) free_.push_back(i);
    thread_ = std::thread([this] { serve(); });
  }
  ~RowPipe() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  RowPipe(const RowPipe&) = delete;
  RowPipe& operator=(const RowPipe&) = delete;

  // A strip to decode kStripRows rows into (waits for one to be free).
  std::uint8_t* acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !free_.empty(); });
    filling_ = free_.front();
    free_.pop_front();
    return strips_[filling_].data();
  }
  // The acquired strip holds rows rows, in order after the previous ones.
  void push(int rows) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      full_.emplace_back(filling_, rows);
    }
    changed_.notify_all();
  }
  // Waits until every pushed row is reduced.
  void finish() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

 private:
  static constexpr int kStrips = 4;

  void serve() {
    for (;;) {
      std::pair<int, int> job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return closed_ || !full_.empty(); });
        if (full_.empty()) return;
        job = full_.front();
        full_.pop_front();
      }
      const std::uint8_t* rows = strips_[job.first].data();
      for (int i = 0; i < job.second; ++i) reducer_.addRow(rows + rowBytes_ * i);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(job.first);
      }
      changed_.notify_all();
    }
  }

  RowReducer& reducer_;
  std::size_t rowBytes_;
  std::vector<std::uint8_t> strips_[kStrips];
  std::deque<int> free_;
  std::deque<std::pair<int, int>> full_;
  int filling_ = -1;
  bool closed_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
};

// Reductions of decoded pictures this large get a thread of their own.
constexpr std::uint64_t kPipelinedPixels = 4'000'000;

struct DecodeState {
  std::span<const std::uint8_t> data;
  std::uint64_t maxPixels = 0;
  int maxResolution = 0;  // over 0: reduce while decoding where normalising would
  ErrorManager err;
  jpeg_decompress_struct cinfo;
  std::vector<std::uint8_t> pixels;
  std::vector<std::uint8_t> strip;  // rows for the reducer, when it runs here
  std::unique_ptr<RowReducer> reducer;
  std::unique_ptr<RowPipe> pipe;  // or on a thread of its own
  int width = 0;
  int height = 0;
  int exif = 0;
  int scaleDenominator = 1;
  int errorCode = 0;
  std::string errorText;
  bool progressive = false;
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

// Sets up the reduction while decoding when normalising would shrink the
// picture: libjpeg scales by 1/2, 1/4 or 1/8 in the DCT as far as that
// keeps at least the working size, and the rows are area-averaged as they
// arrive. False leaves the whole picture to be decoded.
bool planReduction(DecodeState& st) {
  if (st.maxResolution <= 0) return false;
  const auto g = normalizeGeometry(st.width, st.height, imageio::orientationFromExif(st.exif),
                                   st.maxResolution);
  if (!g || !g->reduces) return false;
  int d = 8;
  while (d > 1 && (g->scaleU * d > 1.0 || g->scaleV * d > 1.0)) d /= 2;
  st.scaleDenominator = d;
  st.cinfo.scale_num = 1;
  st.cinfo.scale_denom = static_cast<unsigned>(d);
  jpeg_calc_output_dimensions(&st.cinfo);
  try {
    st.reducer = std::make_unique<RowReducer>(
        static_cast<int>(st.cinfo.output_width), static_cast<int>(st.cinfo.output_height),
        g->scaleU * d, g->offsetU, g->scaleV * d, g->offsetV, g->reducedWidth, g->reducedHeight);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void fail(DecodeState& st, int code, std::string text) {
  st.pipe.reset();
  st.errorCode = code;
  st.errorText = std::move(text);
  jpeg_destroy_decompress(&st.cinfo);
}

// Holds the setjmp: only plain data and the state owned by the caller live
// in this frame, so the jump back skips no destructor.
void runDecode(DecodeState& st) {
  jpeg_decompress_struct& cinfo = st.cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  installErrorManager(reinterpret_cast<jpeg_common_struct*>(&cinfo), st.err);
  if (setjmp(st.err.jump)) {
    if (cinfo.err->msg_code == JERR_NO_BACKING_STORE || cinfo.err->msg_code == JERR_OUT_OF_MEMORY)
      return fail(st, imageio::kTooLarge,
                  "the JPEG image needs more memory to decode than the limit of " +
                      std::to_string(kMaxDecoderMemory) + " bytes");
    return fail(st, imageio::kCorrupt,
                std::string(st.err.endReached ? "truncated JPEG data (" : "damaged JPEG data (") +
                    st.err.message + ")");
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
  jpeg_mem_src(&cinfo, st.data.data(), static_cast<unsigned long>(st.data.size()));
  cinfo.src->fill_input_buffer = fillAtEnd;
  jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);

  st.width = static_cast<int>(cinfo.image_width);
  st.height = static_cast<int>(cinfo.image_height);
  st.progressive = cinfo.progressive_mode;
  const std::uint64_t count = std::uint64_t{cinfo.image_width} * cinfo.image_height;
  if (count == 0) return fail(st, imageio::kEmpty, "the JPEG image has no pixels");
  if (count > st.maxPixels)
    return fail(st, imageio::kTooLarge,
                "the JPEG image of " + std::to_string(st.width) + " x " +
                    std::to_string(st.height) + " pixels is over the limit of " +
                    std::to_string(st.maxPixels) + " pixels");
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
    if (isExifPayload(m)) {
      st.exif = JpegCodec::exifOrientation({m->data, m->data_length});
      break;
    }
  }

  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_ARGB;
  const bool reducing = planReduction(st);
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 4)
    return fail(st, imageio::kCorrupt, "unsupported JPEG colour layout");
  const int outWidth = static_cast<int>(cinfo.output_width);
  const int outHeight = static_cast<int>(cinfo.output_height);
  const std::size_t rowBytes = static_cast<std::size_t>(outWidth) * 4;
  // libjpeg writes into the picture itself, or for a reduction into strips
  // of a few rows that go to the reducer.
  const int stripRows = std::max(1, static_cast<int>(cinfo.rec_outbuf_height));
  try {
    if (!reducing) {
      st.width = outWidth;
      st.height = outHeight;
      st.pixels = PixelBuffer::zeroed(rowBytes * static_cast<std::size_t>(outHeight));
    }
    if (reducing) st.strip.resize(rowBytes * static_cast<std::size_t>(stripRows));
  } catch (const std::bad_alloc&) {
    return fail(st, imageio::kTooLarge, "not enough memory for the JPEG image");
  }
  // A large reduction runs on a thread of its own, overlapping the decoding.
  const bool pipelined = reducing && std::thread::hardware_concurrency() > 1 &&
                         std::uint64_t(outWidth) * outHeight >= kPipelinedPixels;
  if (pipelined) {
    try {
      st.pipe = std::make_unique<RowPipe>(*st.reducer, rowBytes);
    } catch (const std::exception&) {
      st.pipe.reset();  // no thread or memory for it: reduced here
    }
  }
  JSAMPROW rows[RowPipe::kStripRows];
  while (cinfo.output_scanline < cinfo.output_height) {
    const int first = static_cast<int>(cinfo.output_scanline);
    std::uint8_t* base = st.pipe    ? st.pipe->acquire()
                         : reducing ? st.strip.data()
                                    : st.pixels.data() + rowBytes * static_cast<std::size_t>(first);
    const int n =
        std::min(reducing && !st.pipe ? stripRows : RowPipe::kStripRows, outHeight - first);
    for (int i = 0; i < n; ++i) rows[i] = base + rowBytes * static_cast<std::size_t>(i);
    int got = 0;
    while (got < n && !st.err.truncated) {
      const auto r = jpeg_read_scanlines(&cinfo, rows + got, static_cast<JDIMENSION>(n - got));
      if (r == 0) break;
      got += static_cast<int>(r);
    }
    if (cmyk)  // in place: each pixel's four inks are read before it is written
      for (int i = 0; i < got; ++i)
        cmykRowToArgb(rows[i], rows[i], outWidth, cinfo.saw_Adobe_marker);
    if (st.pipe)
      st.pipe->push(got);
    else if (reducing)
      for (int i = 0; i < got; ++i) st.reducer->addRow(rows[i]);
    if (got < n || st.err.truncated) break;
  }
  if (st.pipe) st.pipe->finish();
  // A picture the file ends inside of is not the photo: the rows below the
  // cut would be grey.
  if (st.err.truncated || cinfo.output_scanline < cinfo.output_height)
    return fail(st, imageio::kCorrupt, "truncated JPEG data (the file ends inside the picture)");
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
}

// The decoder's verdict on what it could not read cleanly, as one text for
// a warning or a refusal; empty when nothing was reported.
std::string damageReport(const ErrorManager& err) {
  std::string text;
  if (err.damage > 0) {
    text = std::string("damaged JPEG data (") + err.warning;
    if (err.damage > 1)
      text +=
          ", and " + std::to_string(err.damage - 1) + " more warning" + (err.damage > 2 ? "s" : "");
    text += ")";
  }
  if (err.endReached) {
    if (!text.empty()) text += "; ";
    text += "the JPEG data ends without its end marker";
  }
  return text;
}

struct EncodeState {
  const Image* image = nullptr;
  int quality = 95;
  std::vector<std::uint8_t> exif;
  std::vector<std::uint8_t> flattened;  // a translucent row laid over white
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
  // The alpha byte is skipped (translucent rows are flattened first).
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
  const int width = st.image->width();
  while (cinfo.next_scanline < cinfo.image_height) {
    // libjpeg does not write through the row pointer.
    JSAMPROW row = const_cast<JSAMPROW>(st.image->data() + rowBytes * cinfo.next_scanline);
    unsigned alpha = 255;
    for (int x = 0; x < width; ++x) alpha &= row[x * 4];
    if (alpha != 255) {
      // JPEG keeps no alpha: a translucent pixel is laid over white (its
      // colour is premultiplied, so white adds 255 − alpha to each channel).
      st.flattened.resize(rowBytes);
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = row + x * 4;
        std::uint8_t* q = st.flattened.data() + x * 4;
        const unsigned white = 255u - p[0];
        q[0] = 255;
        for (int c = 1; c < 4; ++c) q[c] = static_cast<std::uint8_t>(std::min(255u, p[c] + white));
      }
      row = st.flattened.data();
    }
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
  // Damage that left part of the picture undecoded is refused here; stray
  // bytes between segments (which many files have) and a missing end
  // marker alone leave every pixel, and the picture is kept.
  if (st->err.serious) return makeError(imageio::kCorrupt, damageReport(st->err));
  auto image = Image::create(st->width, st->height, std::move(st->pixels),
                             imageio::orientationFromExif(st->exif));
  if (!image) return makeError(imageio::kCorrupt, "the JPEG image could not be made");
  return image;
}

Result<imageio::Photo> JpegCodec::load(std::span<const std::uint8_t> data, std::uint64_t maxPixels,
                                       int maxResolution) {
  auto st = std::make_unique<DecodeState>();
  st->data = data;
  st->maxPixels = maxPixels;
  st->maxResolution = maxResolution;
  runDecode(*st);
  if (st->errorCode != 0) return makeError(st->errorCode, st->errorText);
  imageio::Photo photo;
  if (std::string report = damageReport(st->err); !report.empty())
    photo.warnings.push_back(std::move(report));
  const int orientation = imageio::orientationFromExif(st->exif);
  ImageRef bitmap;
  if (st->reducer) {
    photo.reducedWhileDecoding = true;
    photo.scaleDenominator = st->scaleDenominator;
    bitmap = st->reducer->finish();
  } else {
    bitmap = Image::create(st->width, st->height, std::move(st->pixels), Image::Up);
  }
  if (!bitmap) return makeError(imageio::kCorrupt, "the JPEG image could not be made");
  // Whatever is left is an exact copy or turn (none at all for an upright
  // picture that needs no reduction).
  photo.image = orientation == Image::Up && (st->reducer || bitmap->width() <= maxResolution &&
                                                                bitmap->height() <= maxResolution)
                    ? bitmap
                    : normalizeImage(bitmap->withOrientation(orientation), maxResolution);
  if (!photo.image) return makeError(imageio::kTooLarge, "not enough memory for the picture");
  return photo;
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
