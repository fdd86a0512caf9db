#include "services/PhotoFiles.h"

#include <span>

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Paths.h"
#include "services/Secrets.h"

namespace glowsnap::services {

Result<std::string> PhotoFiles::write(std::int64_t ownerId, std::string_view data,
                                      std::string_view extension) {
  std::string folder = "photos/" + std::to_string(ownerId);
  if (!paths::ensureDirectory(dataDirectory_ / folder)) {
    Error e;
    e.domain = "GlowsnapServicesFiles";
    e.description = (dataDirectory_ / folder).string() + ": cannot create the folder";
    return e;
  }
  std::string relative = folder + "/" + randomHex(16) + "." + std::string(extension);
  auto status = AtomicFile::writeAll(
      dataDirectory_ / relative,
      std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
  if (!status) return status.error();
  return relative;
}

std::filesystem::path PhotoFiles::resolve(const std::string& relative) const {
  std::filesystem::path p(relative);
  if (p.is_absolute() || relative.rfind("photos/", 0) != 0) return {};
  for (const auto& part : p)
    if (part == "..") return {};
  return dataDirectory_ / p;
}

void PhotoFiles::remove(const std::string& relative) const {
  auto path = resolve(relative);
  if (path.empty()) return;
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

}  // namespace glowsnap::services
