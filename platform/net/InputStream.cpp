#include "platform/net/InputStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace glowsnap {

namespace {

class DataInputStream final : public InputStream {
 public:
  explicit DataInputStream(Bytes data) : data_(std::move(data)) {}
  bool open() override {
    status_ = data_.empty() ? Status::AtEnd : Status::Open;
    return true;
  }
  void close() override { status_ = Status::Closed; }
  std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (status_ != Status::Open && status_ != Status::AtEnd) return -1;
    std::size_t n = std::min(maxLength, data_.size() - offset_);
    if (n) std::memcpy(buffer, data_.data() + offset_, n);
    offset_ += n;
    if (offset_ == data_.size()) status_ = Status::AtEnd;
    return static_cast<std::int64_t>(n);
  }
  bool hasBytesAvailable() const override { return offset_ < data_.size(); }
  Status status() const override { return status_; }
  std::optional<std::uint64_t> length() const override { return data_.size(); }

 private:
  Bytes data_;
  std::size_t offset_ = 0;
  Status status_ = Status::NotOpen;
};

class FileInputStream final : public InputStream {
 public:
  explicit FileInputStream(std::filesystem::path path) : path_(std::move(path)) {}
  ~FileInputStream() override { close(); }
  bool open() override {
    if (fd_ >= 0) return true;
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
      status_ = Status::Error;
      return false;
    }
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode))
      length_ = static_cast<std::uint64_t>(st.st_size);
    if (S_ISDIR(st.st_mode)) {
      ::close(fd_);
      fd_ = -1;
      status_ = Status::Error;
      return false;
    }
    status_ = Status::Open;
    return true;
  }
  void close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (status_ != Status::Error) status_ = Status::Closed;
  }
  std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) override {
    if (fd_ < 0) return -1;
    if (status_ == Status::AtEnd) return 0;
    for (;;) {
      ssize_t n = ::read(fd_, buffer, maxLength);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        status_ = Status::Error;
        return -1;
      }
      if (n == 0 && maxLength > 0) status_ = Status::AtEnd;
      position_ += static_cast<std::uint64_t>(n);
      return n;
    }
  }
  bool hasBytesAvailable() const override {
    if (status_ != Status::Open) return false;
    return !length_ || position_ < *length_;
  }
  Status status() const override { return status_; }
  std::optional<std::uint64_t> length() const override {
    if (length_) return length_;
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      return static_cast<std::uint64_t>(st.st_size);
    return std::nullopt;
  }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  Status status_ = Status::NotOpen;
  std::optional<std::uint64_t> length_;
  std::uint64_t position_ = 0;
};

}  // namespace

std::shared_ptr<InputStream> InputStream::withData(Bytes data) {
  return std::make_shared<DataInputStream>(std::move(data));
}

std::shared_ptr<InputStream> InputStream::withFileAtPath(const std::filesystem::path& path) {
  return std::make_shared<FileInputStream>(path);
}

}  // namespace glowsnap
