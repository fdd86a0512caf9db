#include "http/BandwidthMeter.h"

#include <limits>
#include <numeric>

namespace glowsnap {

void BandwidthMeter::add(std::uint32_t bytes) {
  std::uint64_t sum = static_cast<std::uint64_t>(used_) + bytes;
  used_ = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(sum, std::numeric_limits<std::uint32_t>::max()));
}

bool BandwidthMeter::isDue(Clock::time_point now) const {
  return !measurementDate_ || *measurementDate_ <= now;
}

void BandwidthMeter::record(Clock::time_point now) {
  if (used_ == 0) {
    samples_.clear();
  } else {
    double t = measurementDate_ ? std::chrono::duration<double>(*measurementDate_ - now).count()
                                : 0.0;
    // Only whole seconds that went by without a recording take samples
    // away: a recording a moment after the date (the usual case) keeps the
    // history, so the average really spans the last seconds.
    while (!samples_.empty() && (t <= -1 || samples_.size() > kMaxSamples - 1)) {
      samples_.pop_front();
      t += 1;
    }
  }
  samples_.push_back(used_);
  measurementDate_ = now + std::chrono::seconds(1);
  used_ = 0;
  std::uint64_t sum = std::accumulate(samples_.begin(), samples_.end(), std::uint64_t{0});
  average_ = static_cast<std::uint32_t>(sum / samples_.size());
}

std::size_t BandwidthMeter::downloadReadSize(std::size_t size) const {
  if (limit_ == 0) return size;
  std::int64_t left = remaining();
  if (left < 0) return 1;
  auto quarter = static_cast<std::uint64_t>(left / 4);
  if (quarter < size) size = static_cast<std::size_t>(quarter);
  return size < 1 ? 1 : size;
}

std::uint32_t BandwidthMeter::uploadAllowance() const {
  if (limit_ == 0) return std::numeric_limits<std::uint32_t>::max();
  // A limit below four bytes a second still lets one byte through.
  std::uint32_t allowance = limit_ < 4 ? 1 : limit_ / 4;
  if (static_cast<std::uint64_t>(used_) + allowance > limit_)
    allowance = used_ >= limit_ ? 0 : limit_ - used_;
  return allowance;
}

}  // namespace glowsnap
