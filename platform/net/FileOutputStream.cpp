#include "platform/net/FileOutputStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace glowsnap {

FileOutputStream::FileOutputStream(std::filesystem::path path, bool append)
    : path_(std::move(path)), append_(append) {}

FileOutputStream::~FileOutputStream() { close(); }

bool FileOutputStream::open() {
  if (fd_ >= 0) return true;
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append_ ? O_APPEND : O_TRUNC);
  fd_ = ::open(path_.c_str(), flags, 0644);
  if (fd_ < 0) {
    error_ = path_.string() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool FileOutputStream::write(const void* data, std::size_t size) {
  if (fd_ < 0) {
    error_ = path_.string() + ": not open";
    return false;
  }
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = path_.string() + ": " + std::strerror(errno);
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool FileOutputStream::appendContentsOfFile(const std::filesystem::path& source,
                                            std::size_t chunk) {
  if (fd_ < 0) {
    error_ = path_.string() + ": not open";
    return false;
  }
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    error_ = source.string() + ": " + std::strerror(errno);
    return false;
  }
  bool ok = true;
  bool kernelCopy = true;
  std::vector<char> buffer;
  for (;;) {
    ssize_t n;
    if (kernelCopy) {
      n = ::copy_file_range(in, nullptr, fd_, nullptr, chunk, 0);
      if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                    errno == EBADF)) {
        kernelCopy = false;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error_ = path_.string() + ": " + std::strerror(errno);
        ok = false;
        break;
      }
      if (n == 0) break;
      continue;
    }
    if (buffer.empty()) buffer.resize(chunk);
    n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error_ = source.string() + ": " + std::strerror(errno);
      ok = false;
      break;
    }
    if (n == 0) break;
    if (!write(buffer.data(), static_cast<std::size_t>(n))) {
      ok = false;
      break;
    }
  }
  ::close(in);
  return ok;
}

void FileOutputStream::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace glowsnap
