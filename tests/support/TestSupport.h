// Small helpers every test executable shares: a temporary directory that
// cleans up after itself, a scoped environment variable and whole-file
// reads and writes.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace glowsnap::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Sets an environment variable for the life of the object and restores it.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// The whole file's bytes (empty when it cannot be read).
std::string readFile(const std::filesystem::path& path);
// Replaces the file's contents with the bytes.
void writeFile(const std::filesystem::path& path, const std::string& bytes);
// How many entries the directory holds.
std::size_t filesIn(const std::filesystem::path& dir);
// How many regular files lie anywhere below the directory (0 when it is missing).
std::size_t filesUnder(const std::filesystem::path& dir);

}  // namespace glowsnap::test
