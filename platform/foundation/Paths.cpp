#include "platform/foundation/Paths.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <system_error>

namespace glowsnap::paths {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::filesystem::path home() {
  std::string h = env("HOME");
  return h.empty() ? std::filesystem::path("/tmp") : std::filesystem::path(h);
}

// Reads XDG_PICTURES_DIR from ~/.config/user-dirs.dirs ("$HOME/Pictures").
std::string userDirsPictures() {
  std::string cfg = env("XDG_CONFIG_HOME");
  std::filesystem::path file =
      (cfg.empty() ? home() / ".config" : std::filesystem::path(cfg)) / "user-dirs.dirs";
  std::ifstream in(file);
  std::string line;
  const std::string key = "XDG_PICTURES_DIR=";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = home().string() + value.substr(5);
    return value;
  }
  return {};
}

std::filesystem::path executableDirectory() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : exe.parent_path();
}

}  // namespace

std::filesystem::path configDirectory() {
  if (auto v = env("GLOWSNAP_CONFIG_DIR"); !v.empty()) return v;
  if (auto v = env("XDG_CONFIG_HOME"); !v.empty()) return std::filesystem::path(v) / "glowsnap";
  return home() / ".config" / "glowsnap";
}

std::filesystem::path documentsDirectory() {
  if (auto v = env("GLOWSNAP_DOCUMENTS_DIR"); !v.empty()) return v;
  if (auto v = env("XDG_DATA_HOME"); !v.empty()) return std::filesystem::path(v) / "glowsnap";
  return home() / ".local" / "share" / "glowsnap";
}

std::filesystem::path temporaryDirectory() {
  if (auto v = env("GLOWSNAP_TMPDIR"); !v.empty()) return v;
  if (auto v = env("TMPDIR"); !v.empty()) return v;
  return "/tmp";
}

std::filesystem::path picturesDirectory() {
  if (auto v = env("GLOWSNAP_PICTURES_DIR"); !v.empty()) return v;
  if (auto v = env("XDG_PICTURES_DIR"); !v.empty()) return v;
  if (auto v = userDirsPictures(); !v.empty()) return v;
  return home() / "Pictures";
}

std::filesystem::path resourcesDirectory() {
  if (auto v = env("GLOWSNAP_RESOURCES_DIR"); !v.empty()) return v;
  std::error_code ec;
  auto exeDir = executableDirectory();
  if (!exeDir.empty()) {
    auto installed = exeDir.parent_path() / "share" / "glowsnap";
    if (std::filesystem::is_directory(installed, ec)) return installed;
  }
  return GLOWSNAP_SOURCE_RESOURCES_DIR;
}

std::filesystem::path resourcePath(const std::string& name) { return resourcesDirectory() / name; }

bool ensureDirectory(const std::filesystem::path& dir) {
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) return true;
  std::filesystem::create_directories(dir, ec);
  return std::filesystem::is_directory(dir, ec);
}

}  // namespace glowsnap::paths
