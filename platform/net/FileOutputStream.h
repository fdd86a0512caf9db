// FileOutputStream: writes bytes to a file, from its start or appended, and
// says what went wrong when it cannot. Used for request bodies assembled on
// disk and for downloads.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace glowsnap {

class FileOutputStream {
 public:
  FileOutputStream(std::filesystem::path path, bool append);
  ~FileOutputStream();
  FileOutputStream(const FileOutputStream&) = delete;
  FileOutputStream& operator=(const FileOutputStream&) = delete;

  // Creates or opens the file; false (see lastError()) when it cannot.
  bool open();
  // Writes everything or answers false.
  bool write(const void* data, std::size_t size);
  // Appends the whole content of the file at source, chunk bytes at a time,
  // copied inside the kernel where it can be. False (see lastError()) when
  // the source cannot be read or the copy fails.
  bool appendContentsOfFile(const std::filesystem::path& source, std::size_t chunk);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  const std::filesystem::path& path() const { return path_; }
  const std::string& lastError() const { return error_; }

 private:
  std::filesystem::path path_;
  bool append_;
  int fd_ = -1;
  std::string error_;
};

}  // namespace glowsnap
