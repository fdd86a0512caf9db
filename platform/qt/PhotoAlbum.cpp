#include "platform/qt/PhotoAlbum.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/ImageIO.h"

namespace glowsnap {
namespace {

constexpr const char* kDomain = "GlowsnapPhotoAlbumErrorDomain";

Error albumError(int code, const std::string& what) {
  Error e;
  e.domain = kDomain;
  e.code = code;
  e.description = what;
  return e;
}

std::string stamp() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
  return buf;
}

// A new file in dir under a fresh hidden name, created with the
// permissions any new file of the user gets (0666 less the umask).
int createTemporary(const std::filesystem::path& dir, std::string* path) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *path = (dir / (".glowsnap-" + std::to_string(::getpid()) + "-" +
                    std::to_string(serial.fetch_add(1)) + ".tmp"))
                .string();
    const int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// Writes bytes to a temporary file in dir, flushes it and links it under
// the first free name; link() refuses a name that exists, so two saves
// never overwrite each other and a reader never sees a partial file.
Result<std::filesystem::path> writeUnique(const std::filesystem::path& dir,
                                          const std::vector<std::uint8_t>& bytes) {
  std::string tmpl;
  const int fd = createTemporary(dir, &tmpl);
  if (fd < 0)
    return albumError(errno, "Cannot write to " + dir.string() + ": " + std::strerror(errno));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = errno;
      ::close(fd);
      ::unlink(tmpl.c_str());
      return albumError(err, "Cannot write to " + dir.string() + ": " + std::strerror(err));
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmpl.c_str());
    return albumError(err, "Cannot write to " + dir.string() + ": " + std::strerror(err));
  }
  const std::string base = "Glowsnap-" + stamp();
  for (int n = 1; n < 10000; ++n) {
    const std::string name = n == 1 ? base + ".jpg" : base + "-" + std::to_string(n) + ".jpg";
    const std::filesystem::path target = dir / name;
    if (::link(tmpl.c_str(), target.c_str()) == 0) {
      ::unlink(tmpl.c_str());
      return target;
    }
    if (errno != EEXIST) {
      const int err = errno;
      // Some file systems cannot link; renaming is still atomic there.
      if (!std::filesystem::exists(target) && ::rename(tmpl.c_str(), target.c_str()) == 0)
        return target;
      ::unlink(tmpl.c_str());
      return albumError(err, "Cannot write " + target.string() + ": " + std::strerror(err));
    }
  }
  ::unlink(tmpl.c_str());
  return albumError(EEXIST, "No free file name in " + dir.string());
}

}  // namespace

std::filesystem::path PhotoAlbum::directory() { return paths::picturesDirectory() / "Glowsnap"; }

Result<std::filesystem::path> PhotoAlbum::save(const Image& image) {
  const std::filesystem::path dir = directory();
  if (!paths::ensureDirectory(dir))
    return albumError(EACCES, "Cannot create the folder " + dir.string());
  Result<std::vector<std::uint8_t>> jpeg = imageio::encodeJpeg(image, 0.95f);
  if (!jpeg.ok()) return jpeg.error();
  static std::mutex mutex;  // one save at a time picks its name
  std::lock_guard<std::mutex> lock(mutex);
  return writeUnique(dir, jpeg.value());
}

void PhotoAlbum::writeImageToSavedPhotosAlbum(
    ImageRef image, std::function<void(ImageRef, Result<std::filesystem::path>)> completion) {
  std::thread([image = std::move(image), completion = std::move(completion)]() mutable {
    Result<std::filesystem::path> r =
        image ? save(*image)
              : Result<std::filesystem::path>(albumError(EINVAL, "No image to save"));
    performOnMainThread(
        [image, completion, r] {
          if (completion) completion(image, r);
        },
        false);
  }).detach();
}

}  // namespace glowsnap
