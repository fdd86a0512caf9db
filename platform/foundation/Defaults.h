// Defaults: the user settings store, one JSON object in a file.
//
// Values are kept in memory and every change is written through to the file
// atomically. A file that cannot be parsed is moved aside (".corrupt"
// appended) and reported through lastError(); the store then starts empty.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace glowsnap {

class Defaults {
 public:
  // The process-wide store: $GLOWSNAP_CONFIG_DIR or the configuration
  // directory (see Paths), file "defaults.json".
  static Defaults& standard();

  explicit Defaults(std::filesystem::path file);
  ~Defaults();
  Defaults(const Defaults&) = delete;
  Defaults& operator=(const Defaults&) = delete;

  bool hasKey(const std::string& key) const;
  // Every key that has a value, in sorted order.
  std::vector<std::string> keys() const;
  // Missing keys and values of another type read as 0, false or nothing.
  std::int64_t integerForKey(const std::string& key) const;
  bool boolForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;
  std::optional<std::string> stringForKey(const std::string& key) const;

  void setInteger(std::int64_t value, const std::string& key);
  void setBool(bool value, const std::string& key);
  void setDouble(double value, const std::string& key);
  void setString(const std::string& value, const std::string& key);
  void removeObject(const std::string& key);

  // Writes the values to the file; false when that failed (see lastError()).
  bool synchronize();
  // Reads the file again, dropping values not written yet.
  void reload();

  const std::filesystem::path& file() const;
  // The last problem with the file (unreadable, corrupt, not writable), or empty.
  std::string lastError() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace glowsnap
