// FileIdentity: which file a path names, by device and inode after
// following symlinks, so that two names of one file compare equal (an
// output that would overwrite an input is found this way).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>

namespace glowsnap {

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;

  // Nothing when no file is there (or it cannot be looked at).
  static std::optional<FileIdentity> of(const std::filesystem::path& path);

  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

}  // namespace glowsnap
