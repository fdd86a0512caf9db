// RequestBody: a request body made of pieces sent one after another: bytes
// held in memory, and ranges of files that are read from the files
// themselves while the body is sent. Nothing is copied into a file of the
// body's own, and no file named here is ever written.
//
// A file piece is measured when it is appended; a file that is shorter
// when it is sent makes the body's stream fail (naming the file) instead of
// sending fewer bytes than announced, and one that grew is sent as it was
// measured.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/Bytes.h"
#include "platform/net/InputStream.h"

namespace glowsnap {

class RequestBody {
 public:
  struct Piece {
    Bytes bytes;       // a piece in memory, or
    std::string path;  // a range of this file
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool isFile() const { return !path.empty(); }
  };

  // Appends bytes (joined to a piece in memory just before them).
  void appendBytes(const std::uint8_t* data, std::size_t size);
  void appendBytes(const Bytes& data) { appendBytes(data.data(), data.size()); }
  // Appends the whole of a regular file as it is now. The reason, naming
  // the file, when it cannot be read (missing, a directory, no permission).
  std::optional<std::string> appendFile(const std::string& path);
  // Appends the pieces of another body.
  void append(const RequestBody& other);

  std::uint64_t length() const { return length_; }
  bool empty() const { return pieces_.empty(); }
  const std::vector<Piece>& pieces() const { return pieces_; }
  void clear();

  // A new stream that reads the pieces in order (each attempt of a request
  // takes its own).
  std::shared_ptr<InputStream> inputStream() const;

 private:
  std::vector<Piece> pieces_;
  std::uint64_t length_ = 0;
};

}  // namespace glowsnap
