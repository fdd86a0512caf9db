// AtomicFile: writes an output so that readers see either the old content
// or the whole new one, never a torn file, and so that nothing the user
// owns is harmed on the way:
// - a regular file, or a name where nothing is yet, is replaced atomically:
//   data goes to a temporary file beside it and commit() flushes it and
//   renames it over the target (an existing file's permissions are kept);
// - a symlink is written through: the file it finally points to is replaced
//   that way, and the link stays as it is;
// - a character device or a FIFO (/dev/null, /dev/stdout, a pipe) is
//   written straight into;
// - a directory or any other kind of file is an error naming the path.
// Destroying an uncommitted AtomicFile removes the temporary; while it
// exists, the temporary is tracked by TemporaryFiles, so a terminating
// signal removes it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "platform/foundation/Result.h"

namespace glowsnap {

// Where an output's bytes finally land, and how they get there.
struct OutputTarget {
  std::filesystem::path path;  // the symlink's final target for a link
  bool stream = false;         // a device or FIFO: written straight into
};

class AtomicFile {
 public:
  explicit AtomicFile(std::filesystem::path target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Decides how an output named `requested` is written (see above), for
  // code that writes its outputs its own way. Errors name `requested`.
  static Result<OutputTarget> resolveOutput(const std::filesystem::path& requested);

  // Creates the temporary file (or opens the device). Errors name the
  // target and the cause.
  Status open();
  Status write(const void* data, std::size_t size);
  // Makes the new content visible under the target name.
  Status commit();
  // Drops the temporary file; the target stays as it was. (Bytes already
  // written into a device or FIFO cannot be taken back.)
  void discard();

  const std::filesystem::path& target() const { return target_; }
  // Where the bytes land: the target, or the file a symlink points to.
  const std::filesystem::path& finalPath() const { return resolved_.path; }
  bool writesStraightIn() const { return resolved_.stream; }
  const std::filesystem::path& temporaryPath() const { return temp_; }
  int fd() const { return fd_; }

  // Convenience: the whole content at once.
  static Status writeAll(const std::filesystem::path& target, std::span<const std::uint8_t> data);
  static Status writeAll(const std::filesystem::path& target, const std::string& data);

 private:
  std::filesystem::path target_;
  OutputTarget resolved_;
  std::filesystem::path temp_;
  int fd_ = -1;
};

}  // namespace glowsnap
