// BandwidthMeter: the arithmetic of the HTTP client's class-wide meter. It
// counts the bytes that all requests move in the current measurement second,
// keeps the counts of the last seconds for an average, and answers how much
// a throttled read may take of the second's budget. It keeps no clock and no
// lock of its own: HTTPRequest owns one meter under bandwidthThrottlingLock
// and hands it the time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

namespace glowsnap {

class BandwidthMeter {
 public:
  using Clock = std::chrono::steady_clock;

  // The history never holds more than this many samples.
  static constexpr std::size_t kMaxSamples = 6;
  // Fewer bytes than this left of a second's budget: the second is spent.
  static constexpr std::int64_t kSpentBelow = 8;

  // Bytes per second; 0 means no limit.
  std::uint32_t limit() const { return limit_; }
  void setLimit(std::uint32_t bytesPerSecond) { limit_ = bytesPerSecond; }

  // Counts bytes towards the current second (saturating).
  void add(std::uint32_t bytes);
  // True when there is no measurement second yet or it has ended.
  bool isDue(Clock::time_point now) const;
  // Ends the current second: a second without traffic clears the history;
  // otherwise one sample is dropped, the oldest first, for each whole second
  // by which the measurement date lies in the past (seconds nobody
  // recorded), and the history is kept to kMaxSamples. The next second ends
  // one second from now.
  void record(Clock::time_point now);

  std::uint32_t usedInCurrentSecond() const { return used_; }
  std::uint32_t average() const { return average_; }
  const std::deque<std::uint32_t>& samples() const { return samples_; }
  const std::optional<Clock::time_point>& measurementDate() const { return measurementDate_; }

  // What is left of the second's budget; negative once it is overspent.
  std::int64_t remaining() const {
    return static_cast<std::int64_t>(limit_) - static_cast<std::int64_t>(used_);
  }
  // A limit is set and less than kSpentBelow bytes of it are left.
  bool isSpent() const { return limit_ != 0 && remaining() < kSpentBelow; }
  // A download read of `size` under the limit: at most a quarter of what
  // is left, never less than one byte (so the stream's buffer keeps
  // draining); `size` itself without a limit.
  std::size_t downloadReadSize(std::size_t size) const;
  // An upload read: a quarter of the limit (it is shared by up to four
  // requests at once), no more than what is left of the second, 0 once the
  // second is spent; unbounded without a limit.
  std::uint32_t uploadAllowance() const;

 private:
  std::uint32_t limit_ = 0;
  std::uint32_t used_ = 0;
  std::uint32_t average_ = 0;
  std::deque<std::uint32_t> samples_;
  std::optional<Clock::time_point> measurementDate_;
};

}  // namespace glowsnap
