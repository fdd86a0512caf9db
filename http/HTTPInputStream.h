// HTTPInputStream: the stream through which every request body reaches the
// connection, in memory or from a file. It wraps a plain input stream and
// counts each read towards the client's bandwidth meter before it happens.
// While bandwidth is throttled a read takes at most the upload allowance of
// the second, and once the second's budget is spent it answers kWouldBlock
// (never 0, which would end the body) until the next second; everything
// else is the wrapped stream's.
#pragma once

#include <memory>
#include <mutex>

#include "platform/net/InputStream.h"

namespace glowsnap {

class HTTPInputStream : public InputStream {
 public:
  static std::shared_ptr<HTTPInputStream> inputStreamWithData(Bytes data);
  static std::shared_ptr<HTTPInputStream> inputStreamWithFileAtPath(const std::string& path);

  explicit HTTPInputStream(std::shared_ptr<InputStream> stream);

  const std::shared_ptr<InputStream>& stream() const { return stream_; }
  void setStream(std::shared_ptr<InputStream> stream) { stream_ = std::move(stream); }

  bool open() override { return stream_->open(); }
  void close() override { stream_->close(); }
  std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) override;
  bool hasBytesAvailable() const override;
  double secondsUntilReadable() const override;
  Status status() const override { return stream_->status(); }
  std::optional<std::uint64_t> length() const override { return stream_->length(); }

  // Serialises body reads of all requests with the bandwidth meter.
  static std::mutex& readLock();

 private:
  std::shared_ptr<InputStream> stream_;
};

}  // namespace glowsnap
