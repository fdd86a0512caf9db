// GzipCodec: gzip compression of request bodies and decoding of gzip (or
// zlib) responses with zlib, in memory and file to file, with the exact
// parameters the client has always used: deflate at the default level with
// a gzip wrapper (window bits 31, memory level 8), inflate with automatic
// header detection (window bits 47), 16384-byte chunks between files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/net/Bytes.h"

namespace glowsnap {

class GzipCodec {
 public:
  // gzip bytes; the empty input comes back as it is; nothing when zlib
  // cannot be initialised.
  static std::optional<Bytes> compressData(const Bytes& data);
  // Decoded bytes; the empty input comes back as it is; nothing for a
  // corrupt or truncated stream, or one that would decode to more than
  // maxLength bytes (a "zip bomb" must not exhaust memory).
  static std::optional<Bytes> uncompressZippedData(const Bytes& data, std::uint64_t maxLength);
  // Whether data decodes (whole) to more than maxLength bytes, as opposed to
  // being corrupt; decodes without keeping anything.
  static bool decodesBeyond(const Bytes& data, std::uint64_t maxLength);

  // File to file: the destination is created (replaced) first. The answer
  // is 0 on success, -1 for an input/output error, -3 for corrupt data, -4
  // when zlib runs out of memory, or zlib's own initialisation code.
  static int compressDataFromFile(const std::string& source, const std::string& destination);
  static int uncompressZippedDataFromFile(const std::string& source,
                                          const std::string& destination);
  static int compressDataFromSource(std::FILE* source, std::FILE* destination);
  static int uncompressZippedDataFromSource(std::FILE* source, std::FILE* destination);
};

// Decodes a gzip (or zlib) stream that arrives in pieces, handing the
// decoded bytes on as they come, in constant memory.
class GzipInflater {
 public:
  // Receives decoded bytes; answers false to stop.
  using Sink = std::function<bool(const std::uint8_t* bytes, std::size_t count)>;
  GzipInflater();
  ~GzipInflater();
  GzipInflater(const GzipInflater&) = delete;
  GzipInflater& operator=(const GzipInflater&) = delete;

  // 0 when the bytes were decoded and handed on; zlib's error code for
  // corrupt data (-3) or missing memory (-4); 1 when the sink stopped.
  // Bytes after the end of the stream are ignored.
  int feed(const std::uint8_t* bytes, std::size_t count, const Sink& sink);
  // Whether the stream has reached its end.
  bool finished() const { return finished_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  bool finished_ = false;
};

}  // namespace glowsnap
