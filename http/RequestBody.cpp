#include "http/RequestBody.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace glowsnap {

namespace {

// Reads the pieces in order; a file is opened when its piece is reached and
// closed when it is done, so that only one is open at a time.
class PiecesInputStream final : public InputStream {
 public:
  PiecesInputStream(std::vector<RequestBody::Piece> pieces, std::uint64_t length)
      : pieces_(std::move(pieces)), length_(length) {}
  ~PiecesInputStream() override { closeFile(); }

  bool open() override {
    if (status_ == Status::NotOpen) status_ = length_ == 0 ? Status::AtEnd : Status::Open;
    return status_ != Status::Error;
  }
  void close() override {
    closeFile();
    if (status_ != Status::Error) status_ = Status::Closed;
  }
  std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (status_ == Status::AtEnd) return 0;
    if (status_ != Status::Open) return -1;
    std::size_t done = 0;
    while (done < maxLength && index_ < pieces_.size()) {
      const auto& piece = pieces_[index_];
      const std::uint64_t left = (piece.isFile() ? piece.length : piece.bytes.size()) - within_;
      if (left == 0) {
        closeFile();
        ++index_;
        within_ = 0;
        continue;
      }
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(left, maxLength - done));
      if (!piece.isFile()) {
        std::memcpy(buffer + done, piece.bytes.data() + within_, want);
        done += want;
        within_ += want;
        continue;
      }
      if (fd_ < 0) {
        fd_ = ::open(piece.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return fail();
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
      }
      ssize_t n = ::pread(fd_, buffer + done, want, static_cast<off_t>(piece.offset + within_));
      if (n < 0 && errno == EINTR) continue;
      // A file that got shorter since it was measured cannot give the
      // announced length.
      if (n <= 0) return fail();
      done += static_cast<std::size_t>(n);
      within_ += static_cast<std::uint64_t>(n);
    }
    position_ += done;
    if (position_ >= length_) status_ = Status::AtEnd;
    return static_cast<std::int64_t>(done);
  }
  bool hasBytesAvailable() const override { return position_ < length_; }
  Status status() const override { return status_; }
  std::optional<std::uint64_t> length() const override { return length_; }

 private:
  std::int64_t fail() {
    closeFile();
    status_ = Status::Error;
    return -1;
  }
  void closeFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  std::vector<RequestBody::Piece> pieces_;
  std::uint64_t length_;
  std::size_t index_ = 0;
  std::uint64_t within_ = 0;
  std::uint64_t position_ = 0;
  int fd_ = -1;
  Status status_ = Status::NotOpen;
};

}  // namespace

void RequestBody::appendBytes(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  if (pieces_.empty() || pieces_.back().isFile()) pieces_.emplace_back();
  pieces_.back().bytes.insert(pieces_.back().bytes.end(), data, data + size);
  length_ += size;
}

std::optional<std::string> RequestBody::appendFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "Unable to read file at '" + path + "': " + std::strerror(errno);
  struct stat st {};
  const bool measured = ::fstat(fd, &st) == 0;
  const int err = errno;
  ::close(fd);
  if (!measured) return "Unable to read file at '" + path + "': " + std::strerror(err);
  if (S_ISDIR(st.st_mode)) return "Unable to read file at '" + path + "': it is a directory";
  if (!S_ISREG(st.st_mode))
    return "Unable to read file at '" + path + "': it is not a regular file";
  if (st.st_size == 0) return std::nullopt;
  Piece piece;
  piece.path = path;
  piece.length = static_cast<std::uint64_t>(st.st_size);
  length_ += piece.length;
  pieces_.push_back(std::move(piece));
  return std::nullopt;
}

void RequestBody::append(const RequestBody& other) {
  for (const auto& piece : other.pieces_) {
    if (piece.isFile()) {
      pieces_.push_back(piece);
      length_ += piece.length;
    } else {
      appendBytes(piece.bytes);
    }
  }
}

void RequestBody::clear() {
  pieces_.clear();
  length_ = 0;
}

std::shared_ptr<InputStream> RequestBody::inputStream() const {
  return std::make_shared<PiecesInputStream>(pieces_, length_);
}

}  // namespace glowsnap
