#include "http/GzipCodec.h"

#include <zlib.h>

#include <cstdlib>

namespace glowsnap {

namespace {

constexpr std::size_t kChunk = 16384;

// A broken zlib invariant means memory corruption or a zlib bug; going on
// could write garbage into the user's files.
void check(bool condition) {
  if (!condition) std::abort();
}

int initDeflate(z_stream& s) {
  s = z_stream{};
  return deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
}

int initInflate(z_stream& s) {
  s = z_stream{};
  return inflateInit2(&s, 15 + 32);
}

}  // namespace

std::optional<Bytes> GzipCodec::compressData(const Bytes& data) {
  if (data.empty()) return data;
  z_stream s;
  if (initDeflate(s) != Z_OK) return std::nullopt;
  Bytes out(kChunk);
  s.next_in = const_cast<Bytef*>(data.data());
  s.avail_in = static_cast<uInt>(data.size());
  do {
    if (s.total_out >= out.size()) out.resize(out.size() + kChunk);
    s.next_out = out.data() + s.total_out;
    s.avail_out = static_cast<uInt>(out.size() - s.total_out);
    int status = deflate(&s, Z_FINISH);
    if (status == Z_STREAM_ERROR) {
      deflateEnd(&s);
      return std::nullopt;
    }
  } while (s.avail_out == 0);
  deflateEnd(&s);
  out.resize(s.total_out);
  return out;
}

std::optional<Bytes> GzipCodec::uncompressZippedData(const Bytes& data, std::uint64_t maxLength) {
  if (data.empty()) return data;
  std::size_t full = data.size();
  std::size_t half = full / 2;
  z_stream s;
  if (initInflate(s) != Z_OK) return std::nullopt;
  Bytes out(std::min<std::uint64_t>(full + half, maxLength + 1));
  s.next_in = const_cast<Bytef*>(data.data());
  s.avail_in = static_cast<uInt>(full);
  bool done = false;
  bool failed = false;
  while (!done) {
    if (s.total_out >= out.size()) {
      // One byte beyond the limit is enough to know it is exceeded.
      if (out.size() > maxLength) {
        failed = true;
        break;
      }
      out.resize(std::min<std::uint64_t>(out.size() + half, maxLength + 1));
    }
    s.next_out = out.data() + s.total_out;
    s.avail_out = static_cast<uInt>(out.size() - s.total_out);
    int status = inflate(&s, Z_SYNC_FLUSH);
    if (status == Z_STREAM_END) {
      done = true;
    } else if (status != Z_OK) {
      failed = true;
      break;
    }
  }
  if (s.total_out > maxLength) failed = true;
  if (inflateEnd(&s) != Z_OK || failed) return std::nullopt;
  out.resize(s.total_out);
  return out;
}

namespace {

// Opens source for reading and destination for writing, runs code over the
// two streams and closes them; -1 when a file cannot be opened or the
// destination cannot be closed (written out) cleanly.
int betweenFiles(const std::string& source, const std::string& destination,
                 int (*code)(std::FILE*, std::FILE*)) {
  std::FILE* out = std::fopen(destination.c_str(), "wb");
  if (!out) return -1;
  std::FILE* in = std::fopen(source.c_str(), "rb");
  if (!in) {
    std::fclose(out);
    return -1;
  }
  int status = code(in, out);
  std::fclose(in);
  if (std::fclose(out) != 0 && status == 0) status = -1;
  return status;
}

}  // namespace

int GzipCodec::compressDataFromFile(const std::string& source, const std::string& destination) {
  return betweenFiles(source, destination, &GzipCodec::compressDataFromSource);
}

int GzipCodec::uncompressZippedDataFromFile(const std::string& source,
                                            const std::string& destination) {
  return betweenFiles(source, destination, &GzipCodec::uncompressZippedDataFromSource);
}

int GzipCodec::compressDataFromSource(std::FILE* source, std::FILE* destination) {
  z_stream s;
  int status = initDeflate(s);
  if (status != Z_OK) return status;
  unsigned char in[kChunk];
  unsigned char out[kChunk];
  int flush;
  do {
    s.avail_in = static_cast<uInt>(std::fread(in, 1, kChunk, source));
    if (std::ferror(source)) {
      deflateEnd(&s);
      return -1;
    }
    flush = std::feof(source) ? Z_FINISH : Z_NO_FLUSH;
    s.next_in = in;
    do {
      s.avail_out = kChunk;
      s.next_out = out;
      status = deflate(&s, flush);
      check(status != Z_STREAM_ERROR);
      std::size_t have = kChunk - s.avail_out;
      if (std::fwrite(out, 1, have, destination) != have || std::ferror(destination)) {
        deflateEnd(&s);
        return -1;
      }
    } while (s.avail_out == 0);
    check(s.avail_in == 0);
  } while (flush != Z_FINISH);
  check(status == Z_STREAM_END);
  deflateEnd(&s);
  return 0;
}

int GzipCodec::uncompressZippedDataFromSource(std::FILE* source, std::FILE* destination) {
  z_stream s;
  int status = initInflate(s);
  if (status != Z_OK) return status;
  unsigned char in[kChunk];
  unsigned char out[kChunk];
  do {
    s.avail_in = static_cast<uInt>(std::fread(in, 1, kChunk, source));
    if (std::ferror(source)) {
      inflateEnd(&s);
      return -1;
    }
    if (s.avail_in == 0) {
      inflateEnd(&s);
      return Z_DATA_ERROR;
    }
    s.next_in = in;
    do {
      s.avail_out = kChunk;
      s.next_out = out;
      status = inflate(&s, Z_NO_FLUSH);
      check(status != Z_STREAM_ERROR);
      switch (status) {
        case Z_NEED_DICT:
          status = Z_DATA_ERROR;
          [[fallthrough]];
        case Z_DATA_ERROR:
        case Z_MEM_ERROR:
          inflateEnd(&s);
          return status;
        default:
          break;
      }
      std::size_t have = kChunk - s.avail_out;
      if (std::fwrite(out, 1, have, destination) != have || std::ferror(destination)) {
        inflateEnd(&s);
        return -1;
      }
    } while (s.avail_out == 0);
  } while (status != Z_STREAM_END);
  inflateEnd(&s);
  return 0;
}

bool GzipCodec::decodesBeyond(const Bytes& data, std::uint64_t maxLength) {
  GzipInflater inflater;
  std::uint64_t total = 0;
  int status = inflater.feed(data.data(), data.size(), [&](const std::uint8_t*, std::size_t n) {
    total += n;
    return total <= maxLength;
  });
  return status == 1 || total > maxLength;
}

struct GzipInflater::State {
  z_stream stream{};
  bool ready = false;
};

GzipInflater::GzipInflater() : state_(std::make_unique<State>()) {
  state_->ready = initInflate(state_->stream) == Z_OK;
}

GzipInflater::~GzipInflater() {
  if (state_->ready) inflateEnd(&state_->stream);
}

int GzipInflater::feed(const std::uint8_t* bytes, std::size_t count, const Sink& sink) {
  if (!state_->ready) return Z_MEM_ERROR;
  if (finished_) return 0;
  z_stream& s = state_->stream;
  unsigned char out[kChunk * 4];
  s.next_in = const_cast<Bytef*>(bytes);
  s.avail_in = static_cast<uInt>(count);
  // Until the input is used up and zlib has nothing more to give for it.
  do {
    s.next_out = out;
    s.avail_out = sizeof out;
    int status = inflate(&s, Z_NO_FLUSH);
    if (status == Z_NEED_DICT) return Z_DATA_ERROR;
    if (status == Z_DATA_ERROR || status == Z_MEM_ERROR) return status;
    check(status != Z_STREAM_ERROR);
    const std::size_t produced = sizeof out - s.avail_out;
    if (produced > 0 && !sink(out, produced)) return 1;
    if (status == Z_STREAM_END) {
      finished_ = true;
      break;
    }
  } while (s.avail_out == 0 || s.avail_in > 0);
  return 0;
}

}  // namespace glowsnap
