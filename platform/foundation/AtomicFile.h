// AtomicFile: writes a file so that readers see either the old content or
// the whole new one, never a torn file. Data goes to a temporary file in
// the target's directory; commit() flushes it to disk and renames it over
// the target. Destroying an uncommitted AtomicFile removes the temporary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "platform/foundation/Result.h"

namespace glowsnap {

class AtomicFile {
 public:
  explicit AtomicFile(std::filesystem::path target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file. Errors name the target and the cause.
  Status open();
  Status write(const void* data, std::size_t size);
  // Makes the new content visible under the target name.
  Status commit();
  // Drops the temporary file; the target stays as it was.
  void discard();

  const std::filesystem::path& target() const { return target_; }
  const std::filesystem::path& temporaryPath() const { return temp_; }
  int fd() const { return fd_; }

  // Convenience: the whole content at once.
  static Status writeAll(const std::filesystem::path& target, std::span<const std::uint8_t> data);
  static Status writeAll(const std::filesystem::path& target, const std::string& data);

 private:
  std::filesystem::path target_;
  std::filesystem::path temp_;
  int fd_ = -1;
};

}  // namespace glowsnap
