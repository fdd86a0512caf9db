#include "http/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace glowsnap::test {

namespace {

struct Directories {
  std::filesystem::path root;
  Directories() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "glowsnap-http-XXXXXX").string();
    root = ::mkdtemp(pattern.data());
    std::filesystem::create_directories(root / "config");
    std::filesystem::create_directories(root / "tmp");
    ::setenv("GLOWSNAP_CONFIG_DIR", (root / "config").c_str(), 1);
    ::setenv("GLOWSNAP_TMPDIR", (root / "tmp").c_str(), 1);
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY",
                             "all_proxy", "ALL_PROXY"})
      ::unsetenv(name);
  }
  ~Directories() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
};

Directories& directories() {
  static Directories d;
  return d;
}

// Sets the environment before any test touches the shared stores.
const bool kInitialised = (directories(), true);

}  // namespace

std::filesystem::path testConfigDirectory() { return directories().root / "config"; }
std::filesystem::path testTemporaryDirectory() { return directories().root / "tmp"; }

}  // namespace glowsnap::test
