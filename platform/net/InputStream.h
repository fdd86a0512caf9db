// InputStream: a pull stream of bytes, over memory or a file, that the HTTP
// stream reads a request body from. Subclasses may wrap another stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/net/Bytes.h"

namespace glowsnap {

class InputStream {
 public:
  enum class Status { NotOpen, Open, AtEnd, Closed, Error };

  virtual ~InputStream() = default;

  // A stream over a copy of the bytes.
  static std::shared_ptr<InputStream> withData(Bytes data);
  // A stream over a file; opening fails when the file cannot be read.
  static std::shared_ptr<InputStream> withFileAtPath(const std::filesystem::path& path);

  virtual bool open() = 0;
  virtual void close() = 0;
  // What read() answers when no byte may be read now although the stream
  // is not at its end (a body held to a bandwidth limit): the reader tries
  // again after secondsUntilReadable().
  static constexpr std::int64_t kWouldBlock = -2;

  // Up to maxLength bytes into buffer: the count, 0 at the end, -1 on
  // error, kWouldBlock when nothing may be read yet.
  virtual std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) = 0;
  virtual bool hasBytesAvailable() const = 0;
  // After kWouldBlock: how long to wait before reading again.
  virtual double secondsUntilReadable() const { return 0; }
  virtual Status status() const = 0;
  // Total length when it is known.
  virtual std::optional<std::uint64_t> length() const = 0;
};

}  // namespace glowsnap
