#include "platform/foundation/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdlib>

namespace glowsnap {
namespace {

Error ioError(const std::filesystem::path& path, const std::string& what, int err) {
  return Error{"GlowsnapFileErrorDomain", err,
               path.string() + ": " + what + ": " + std::strerror(err), nullptr, {}};
}

}  // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {}

AtomicFile::~AtomicFile() { discard(); }

Status AtomicFile::open() {
  discard();
  auto dir = target_.parent_path();
  if (dir.empty()) dir = ".";
  // The temporary lives beside the target so that the final rename stays
  // within one file system and is atomic.
  std::string name(".");
  name.append(target_.filename().string()).append(".XXXXXX");
  std::string pattern = (dir / name).string();
  int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return ioError(target_, "cannot create a temporary file", errno);
  // Same permissions a plain create would give (0666 less the umask).
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  fd_ = fd;
  temp_ = pattern;
  return {};
}

Status AtomicFile::write(const void* data, std::size_t size) {
  if (fd_ < 0) return ioError(target_, "not open", EBADF);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ioError(target_, "cannot write", errno);
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return {};
}

Status AtomicFile::commit() {
  if (fd_ < 0) return ioError(target_, "not open", EBADF);
  if (::fsync(fd_) != 0) {
    int err = errno;
    discard();
    return ioError(target_, "cannot flush", err);
  }
  ::close(fd_);
  fd_ = -1;
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    int err = errno;
    ::unlink(temp_.c_str());
    temp_.clear();
    return ioError(target_, "cannot replace", err);
  }
  temp_.clear();
  return {};
}

void AtomicFile::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

Status AtomicFile::writeAll(const std::filesystem::path& target,
                            std::span<const std::uint8_t> data) {
  AtomicFile file(target);
  if (auto s = file.open(); !s) return s;
  if (auto s = file.write(data.data(), data.size()); !s) return s;
  return file.commit();
}

Status AtomicFile::writeAll(const std::filesystem::path& target, const std::string& data) {
  return writeAll(target, std::span<const std::uint8_t>(
                              reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
}

}  // namespace glowsnap
