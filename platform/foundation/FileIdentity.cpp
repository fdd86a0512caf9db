#include "platform/foundation/FileIdentity.h"

#include <sys/stat.h>

namespace glowsnap {

std::optional<FileIdentity> FileIdentity::of(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

}  // namespace glowsnap
