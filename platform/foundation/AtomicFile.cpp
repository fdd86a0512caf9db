#include "platform/foundation/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "platform/foundation/TemporaryFiles.h"

namespace glowsnap {
namespace {

constexpr const char* kDomain = "GlowsnapFileErrorDomain";

Error ioError(const std::filesystem::path& path, const std::string& what, int err) {
  return Error{kDomain, err, path.string() + ": " + what + ": " + std::strerror(err), nullptr, {}};
}

Error kindError(const std::filesystem::path& path, const std::string& what, int err) {
  return Error{kDomain, err, path.string() + ": " + what, nullptr, {}};
}

// Six letters or digits, different in every call and every process.
std::string randomSuffix() {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 gen(std::random_device{}() ^
                                   (static_cast<std::uint64_t>(::getpid()) << 32));
  std::string out(6, 'X');
  for (char& c : out) c = kLetters[gen() % (sizeof kLetters - 1)];
  return out;
}

// Follows a chain of symlinks to the name it ends at, which may not exist
// yet (a dangling link names the file that writing it creates).
Result<std::filesystem::path> followLinks(const std::filesystem::path& requested) {
  std::filesystem::path current = requested;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    char buffer[PATH_MAX];
    ssize_t n = ::readlink(current.c_str(), buffer, sizeof buffer - 1);
    if (n < 0) return ioError(requested, "cannot read the symlink", errno);
    std::filesystem::path next(std::string(buffer, static_cast<std::size_t>(n)));
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  return ioError(requested, "cannot follow the symlink", ELOOP);
}

}  // namespace

Result<OutputTarget> AtomicFile::resolveOutput(const std::filesystem::path& requested) {
  // A device or pipe reached through links is written through the name as
  // given: /dev/stdout leads to /proc/self/fd/1, whose link text for a pipe
  // ("pipe:[…]") names no file, though opening the name itself works.
  struct stat direct {};
  if (::stat(requested.c_str(), &direct) == 0 &&
      (S_ISCHR(direct.st_mode) || S_ISFIFO(direct.st_mode)))
    return OutputTarget{requested, true};
  auto followed = followLinks(requested);
  if (!followed) return followed.error();
  OutputTarget out{std::move(followed).value(), false};
  struct stat st {};
  if (::stat(out.path.c_str(), &st) != 0) {
    if (errno == ENOENT) return out;  // nothing there yet: created atomically
    return ioError(requested, "cannot look at the output", errno);
  }
  if (S_ISREG(st.st_mode)) return out;
  if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
    out.stream = true;
    return out;
  }
  if (S_ISDIR(st.st_mode)) return kindError(requested, "is a directory", EISDIR);
  return kindError(requested, "is not a regular file, a device or a pipe", EINVAL);
}

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {}

AtomicFile::~AtomicFile() { discard(); }

Status AtomicFile::open() {
  discard();
  auto resolved = resolveOutput(target_);
  if (!resolved) return resolved.error();
  resolved_ = std::move(resolved).value();
  if (resolved_.stream) {
    int fd = ::open(resolved_.path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return ioError(target_, "cannot open", errno);
    fd_ = fd;
    return {};
  }
  auto dir = resolved_.path.parent_path();
  if (dir.empty()) dir = ".";
  // The temporary lives beside the file it replaces so that the final
  // rename stays within one file system and is atomic.
  // The name is tracked before the file exists: a signal that arrives
  // while it is created then finds it (or finds nothing, harmlessly), where
  // a file made first and tracked after would be left behind.
  std::string pattern;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    pattern = (dir / ("." + resolved_.path.filename().string() + "." + randomSuffix())).string();
    TemporaryFiles::track(pattern);
    fd = ::open(pattern.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      const int err = errno;
      TemporaryFiles::untrack(pattern);
      if (err != EEXIST || attempt >= 100)
        return ioError(target_, "cannot create a temporary file", err);
    }
  }
  // A replaced file keeps its permissions; a new one gets what a plain
  // create would give (0666 less the umask).
  struct stat st {};
  mode_t mode;
  if (::stat(resolved_.path.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    // umask() can only be read by setting it: done once, so that threads
    // writing files at the same time never see (or leave) the mask at 0.
    static const mode_t mask = [] {
      const mode_t m = ::umask(0);
      ::umask(m);
      return m;
    }();
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
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
  if (resolved_.stream) {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) return ioError(target_, "cannot write", errno);
    return {};
  }
  if (::fsync(fd_) != 0) {
    int err = errno;
    discard();
    return ioError(target_, "cannot flush", err);
  }
  ::close(fd_);
  fd_ = -1;
  if (::rename(temp_.c_str(), resolved_.path.c_str()) != 0) {
    int err = errno;
    discard();
    return ioError(target_, "cannot replace", err);
  }
  TemporaryFiles::untrack(temp_);
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
    TemporaryFiles::untrack(temp_);
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
