// PhotoFiles: the uploaded pictures, one file each under
// <data>/photos/<owner id>/, written atomically under a fresh random name
// so that no upload can overwrite another or be seen half-written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"

namespace glowsnap::services {

class PhotoFiles {
 public:
  explicit PhotoFiles(std::filesystem::path dataDirectory)
      : dataDirectory_(std::move(dataDirectory)) {}

  // Writes data and answers its path relative to the data directory.
  Result<std::string> write(std::int64_t ownerId, std::string_view data,
                            std::string_view extension);
  // The full path of a stored file; nothing for a relative path that leaves
  // the photo folder.
  std::filesystem::path resolve(const std::string& relative) const;
  void remove(const std::string& relative) const;

 private:
  std::filesystem::path dataDirectory_;
};

}  // namespace glowsnap::services
