// Progress and bandwidth: what the request tells its indicators and its
// queue as bytes move, and the class-wide meter of the bytes all requests
// move per second, with the limit and its throttling.
#include <condition_variable>
#include <limits>
#include <mutex>

#include "http/HTTPRequest.h"
#include "reachability/NetworkReachability.h"

namespace glowsnap {

namespace {

// Class-wide progress and bandwidth state, created once and kept for the
// life of the process.
struct ClassState {
  std::recursive_mutex progressLock;
  // Guards the meter and the throttling switches below.
  std::mutex bandwidthThrottlingLock;
  BandwidthMeter meter;
  bool isBandwidthThrottled = false;
  bool shouldThrottleBandwithForWWANOnly = false;
  // Wakes loops waiting for the next second when the limit changes or a
  // request is cancelled; changes counts the limit's changes.
  std::condition_variable bandwidthChanged;
  std::uint64_t changes = 0;
  // The observer of the reachability notification, while WWAN throttling
  // is on (its own lock: the notification centre is never entered under
  // bandwidthThrottlingLock).
  std::mutex observerLock;
  std::optional<NotificationCenter::Token> reachabilityObserver;
};

ClassState& classState() {
  static ClassState* state = new ClassState;
  return *state;
}

// Under bandwidthThrottlingLock.
bool throttledLocked(const ClassState& s) {
  return s.meter.limit() != 0 && (s.isBandwidthThrottled || !s.shouldThrottleBandwithForWWANOnly);
}

void recordIfDue(ClassState& s) {
  auto now = BandwidthMeter::Clock::now();
  if (s.meter.isDue(now)) s.meter.record(now);
}

constexpr std::uint32_t kWWANLimit = 14800;

}  // namespace

std::recursive_mutex& HTTPRequest::progressLock() { return classState().progressLock; }

// --- bandwidth -----------------------------------------------------------------

void HTTPRequest::setMaxBandwidthPerSecond(std::uint32_t bytes) {
  auto& s = classState();
  std::lock_guard lock(s.bandwidthThrottlingLock);
  s.meter.setLimit(bytes);
  ++s.changes;
  s.bandwidthChanged.notify_all();
}

std::uint32_t HTTPRequest::maxBandwidthPerSecond() {
  auto& s = classState();
  std::lock_guard lock(s.bandwidthThrottlingLock);
  return s.meter.limit();
}

bool HTTPRequest::isBandwidthThrottled() {
  auto& s = classState();
  std::lock_guard lock(s.bandwidthThrottlingLock);
  return throttledLocked(s);
}

void HTTPRequest::incrementBandwidthUsedInLastSecond(std::uint32_t bytes) {
  auto& s = classState();
  std::lock_guard lock(s.bandwidthThrottlingLock);
  s.meter.add(bytes);
}

void HTTPRequest::measureBandwidthUsage(const Operation* waiter) {
  auto& s = classState();
  std::unique_lock lock(s.bandwidthThrottlingLock);
  recordIfDue(s);
  // The wait applies only while throttling is in force: WWAN-only
  // throttling off the carrier's network slows nothing down.
  if (!throttledLocked(s) || !s.meter.isSpent()) return;
  auto until = *s.meter.measurementDate();
  auto changes = s.changes;
  // The condition variable releases the lock while it waits: other
  // requests and the reachability handler are never held up by a wait.
  s.bandwidthChanged.wait_until(lock, until, [&] {
    return s.changes != changes || (waiter && waiter->isCancelled());
  });
  // Another request may have ended that second already.
  recordIfDue(s);
}

std::uint32_t HTTPRequest::averageBandwidthUsedPerSecond() {
  auto& s = classState();
  std::lock_guard lock(s.bandwidthThrottlingLock);
  recordIfDue(s);
  return s.meter.average();
}

std::uint32_t HTTPRequest::maxUploadReadLength() {
  auto& s = classState();
  std::lock_guard lock(s.bandwidthThrottlingLock);
  recordIfDue(s);
  return s.meter.uploadAllowance();
}

double HTTPRequest::secondsUntilBandwidthAvailable() {
  auto& s = classState();
  std::lock_guard lock(s.bandwidthThrottlingLock);
  const auto& date = s.meter.measurementDate();
  if (!date) return 0;
  double seconds = std::chrono::duration<double>(*date - BandwidthMeter::Clock::now()).count();
  return seconds > 0 ? seconds : 0;
}

std::size_t HTTPRequest::throttledReadSize(std::size_t size) {
  auto& s = classState();
  std::lock_guard lock(s.bandwidthThrottlingLock);
  return s.meter.downloadReadSize(size);
}

void HTTPRequest::throttleBandwidthForWWANUsingLimit(std::uint32_t limit) {
  auto& s = classState();
  {
    std::lock_guard lock(s.bandwidthThrottlingLock);
    s.shouldThrottleBandwithForWWANOnly = true;
    s.meter.setLimit(limit);
    ++s.changes;
    s.bandwidthChanged.notify_all();
  }
  NetworkReachability::sharedNetworkReachability().setNetworkStatusNotificationsEnabled(true);
  {
    std::lock_guard lock(s.observerLock);
    if (!s.reachabilityObserver)
      s.reachabilityObserver = NotificationCenter::defaultCenter().addObserver(
          kNetworkStatusChangedNotification, nullptr,
          [](const Notification& n) { reachabilityChanged(n); });
  }
  reachabilityChanged(Notification{});
}

void HTTPRequest::setShouldThrottleBandwidthForWWAN(bool throttle) {
  if (throttle) {
    throttleBandwidthForWWANUsingLimit(kWWANLimit);
    return;
  }
  auto& s = classState();
  {
    std::lock_guard lock(s.observerLock);
    if (s.reachabilityObserver)
      NotificationCenter::defaultCenter().removeObserver(*s.reachabilityObserver);
    s.reachabilityObserver.reset();
  }
  std::lock_guard lock(s.bandwidthThrottlingLock);
  // Off means no limit at all, not a limit of nothing: the carrier flag
  // goes too, so no read is held to a byte.
  s.meter.setLimit(0);
  s.shouldThrottleBandwithForWWANOnly = false;
  s.isBandwidthThrottled = false;
  ++s.changes;
  s.bandwidthChanged.notify_all();
}

void HTTPRequest::reachabilityChanged(const Notification&) {
  // The status is asked for before the lock is taken: the question may
  // touch the system, and the lock is only for the flag.
  bool carrier = NetworkReachability::sharedNetworkReachability().internetConnectionStatus() ==
                 kReachableViaCarrierDataNetwork;
  auto& s = classState();
  std::lock_guard lock(s.bandwidthThrottlingLock);
  s.isBandwidthThrottled = carrier;
  ++s.changes;
  s.bandwidthChanged.notify_all();
}

BandwidthMeter HTTPRequest::bandwidthMeter() {
  auto& s = classState();
  std::lock_guard lock(s.bandwidthThrottlingLock);
  return s.meter;
}

void HTTPRequest::resetBandwidthMeter() {
  setShouldThrottleBandwidthForWWAN(false);
  auto& s = classState();
  std::lock_guard lock(s.bandwidthThrottlingLock);
  s.meter = BandwidthMeter();
}

void HTTPRequest::wakeBandwidthWaiters() {
  auto& s = classState();
  std::lock_guard lock(s.bandwidthThrottlingLock);
  s.bandwidthChanged.notify_all();
}

// --- indicators ----------------------------------------------------------------

void HTTPRequest::setUploadProgressDelegate(ProgressIndicator* p) {
  uploadProgressDelegate_ = p;
  if (p && p->respondsToSelector("setMaxValue:")) p->setMaxValue(1.0);
}

void HTTPRequest::setDownloadProgressDelegate(ProgressIndicator* p) {
  downloadProgressDelegate_ = p;
  if (p && p->respondsToSelector("setMaxValue:")) p->setMaxValue(1.0);
}

void HTTPRequest::setProgressForIndicator(double progress, ProgressIndicator* indicator) {
  if (!indicator) return;
  // Values are queued for the main thread under the lock, so they arrive
  // in the order they were computed.
  std::lock_guard lock(progressLock());
  if (indicator->respondsToSelector("setProgress:")) {
    auto value = static_cast<float>(progress);
    performOnMainThread([indicator, value] { indicator->setProgress(value); }, isMainThread());
  } else if (indicator->respondsToSelector("setDoubleValue:")) {
    performOnMainThread([indicator, progress] { indicator->setDoubleValue(progress); },
                        isMainThread());
  }
}

void HTTPRequest::updateProgressIndicators() {
  if (mainRequest_) return;
  if (!showAccurateProgress_ && !(complete() && !updatedProgress_)) return;
  updateUploadProgress();
  updateDownloadProgress();
}

void HTTPRequest::updateUploadProgress() {
  bool bufferFound = false;
  {
    std::lock_guard lock(cancelledLock_);
    if (isCancelled()) return;
    if (totalBytesSent_ > 0 && uploadBufferSize_ == 0 && totalBytesSent_ != postLength_) {
      uploadBufferSize_ = totalBytesSent_;
      bufferFound = true;
    }
  }
  auto queue = this->queue();
  // The queue takes progressLock, which comes before cancelledLock: it
  // hears of the buffer once that lock is released.
  if (bufferFound && queue && queue->respondsToSelector("setUploadBufferSize:"))
    queue->setUploadBufferSize(uploadBufferSize_);
  if (totalBytesSent_ == 0) return;
  std::uint64_t increment;
  if (showAccurateProgress_) {
    increment = (totalBytesSent_ == postLength_ || lastBytesSent_ > 0)
                    ? totalBytesSent_ - std::min(lastBytesSent_, totalBytesSent_)
                    : 0;
  } else {
    increment = 1;
    updatedProgress_ = true;
  }
  if (queue && queue->respondsToSelector("incrementUploadProgressBy:"))
    queue->incrementUploadProgressBy(increment);
  double range = static_cast<double>(postLength_) - static_cast<double>(uploadBufferSize_);
  double value =
      range > 0
          ? (static_cast<double>(totalBytesSent_) - static_cast<double>(uploadBufferSize_)) / range
          : 1.0;
  setProgressForIndicator(value, uploadProgressDelegate_);
}

void HTTPRequest::updateDownloadProgress() {
  if (!responseHeaders_) return;
  std::uint64_t soFar = totalBytesRead_ + partialDownloadSize_;
  std::uint64_t increment;
  if (showAccurateProgress_) {
    increment = soFar - std::min(lastBytesRead_, soFar);
  } else {
    increment = 1;
    updatedProgress_ = true;
  }
  if (auto queue = this->queue(); queue && queue->respondsToSelector("incrementDownloadProgressBy:"))
    queue->incrementDownloadProgressBy(increment);
  if (contentLength_ > 0)
    setProgressForIndicator(
        static_cast<double>(soFar) / static_cast<double>(contentLength_ + partialDownloadSize_),
        downloadProgressDelegate_);
  lastBytesRead_ = soFar;
}

void HTTPRequest::resetUploadProgress(std::uint64_t) {
  std::lock_guard lock(progressLock());
  setProgressForIndicator(0, uploadProgressDelegate_);
}

void HTTPRequest::resetDownloadProgress(std::uint64_t value) {
  std::lock_guard lock(progressLock());
  if (auto queue = this->queue(); queue && queue->respondsToSelector("incrementDownloadSizeBy:"))
    queue->incrementDownloadSizeBy(value);
  setProgressForIndicator(0, downloadProgressDelegate_);
}

void HTTPRequest::removeUploadProgressSoFar() {
  if (auto queue = this->queue(); queue && queue->respondsToSelector("decrementUploadProgressBy:"))
    queue->decrementUploadProgressBy(lastBytesSent_);
  setProgressForIndicator(0, uploadProgressDelegate_);
}

}  // namespace glowsnap
