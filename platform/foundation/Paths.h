// Where Glowsnap keeps its files. Each directory has an environment variable
// that overrides it, so tests and packages can relocate it.
#pragma once

#include <filesystem>
#include <string>

namespace glowsnap::paths {

// $GLOWSNAP_CONFIG_DIR, else $XDG_CONFIG_HOME/glowsnap, else ~/.config/glowsnap.
std::filesystem::path configDirectory();
// $GLOWSNAP_DOCUMENTS_DIR, else $XDG_DATA_HOME/glowsnap, else ~/.local/share/glowsnap.
std::filesystem::path documentsDirectory();
// $GLOWSNAP_TMPDIR, else $TMPDIR, else /tmp.
std::filesystem::path temporaryDirectory();
// $GLOWSNAP_PICTURES_DIR, else XDG_PICTURES_DIR (environment or
// ~/.config/user-dirs.dirs), else ~/Pictures.
std::filesystem::path picturesDirectory();
// $GLOWSNAP_RESOURCES_DIR, else <executable>/../share/glowsnap when that
// exists, else the resources/ folder of the source tree.
std::filesystem::path resourcesDirectory();
// resourcesDirectory() / name.
std::filesystem::path resourcePath(const std::string& name);

// Creates dir and its parents when missing; false when that failed.
bool ensureDirectory(const std::filesystem::path& dir);

}  // namespace glowsnap::paths
