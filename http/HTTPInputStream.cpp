#include "http/HTTPInputStream.h"

#include <algorithm>
#include <limits>

#include "http/HTTPRequest.h"

namespace glowsnap {

std::shared_ptr<HTTPInputStream> HTTPInputStream::inputStreamWithData(Bytes data) {
  return std::make_shared<HTTPInputStream>(InputStream::withData(std::move(data)));
}

std::shared_ptr<HTTPInputStream> HTTPInputStream::inputStreamWithFileAtPath(
    const std::string& path) {
  return std::make_shared<HTTPInputStream>(InputStream::withFileAtPath(path));
}

HTTPInputStream::HTTPInputStream(std::shared_ptr<InputStream> stream)
    : stream_(std::move(stream)) {}

std::mutex& HTTPInputStream::readLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::int64_t HTTPInputStream::read(std::uint8_t* buffer, std::size_t maxLength) {
  std::size_t toRead = maxLength;
  {
    // readLock comes before bandwidthThrottlingLock, which the questions
    // below take.
    std::lock_guard lock(readLock());
    if (HTTPRequest::isBandwidthThrottled()) {
      std::uint32_t allowance = HTTPRequest::maxUploadReadLength();
      if (allowance == 0) return kWouldBlock;
      if (toRead >= allowance) toRead = allowance;
    }
    auto counted = static_cast<std::uint32_t>(
        std::min<std::size_t>(toRead, std::numeric_limits<std::uint32_t>::max()));
    HTTPRequest::incrementBandwidthUsedInLastSecond(counted);
  }
  return stream_->read(buffer, toRead);
}

bool HTTPInputStream::hasBytesAvailable() const {
  if (HTTPRequest::isBandwidthThrottled()) {
    std::lock_guard lock(readLock());
    if (HTTPRequest::maxUploadReadLength() == 0) return false;
  }
  return stream_->hasBytesAvailable();
}

double HTTPInputStream::secondsUntilReadable() const {
  return HTTPRequest::secondsUntilBandwidthAvailable();
}

}  // namespace glowsnap
