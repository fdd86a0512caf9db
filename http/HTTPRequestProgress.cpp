// Progress and bandwidth: what the request tells its indicators and its
// queue as bytes move, and the class-wide meter of the bytes all requests
// move per second.
#include <mutex>
#include <vector>

#include "http/HTTPRequest.h"

namespace glowsnap {

namespace {

// Class-wide progress and bandwidth state, created once and kept for the
// life of the process.
struct ClassState {
  std::recursive_mutex progressLock;
  std::mutex bandwidthThrottlingLock;
  std::vector<std::uint32_t> bandwidthUsageTracker;
  std::uint32_t bandwidthUsedInLastSecond = 0;
  ClassState() { bandwidthUsageTracker.reserve(5); }
};

ClassState& classState() {
  static ClassState* state = new ClassState;
  return *state;
}

}  // namespace

std::recursive_mutex& HTTPRequest::progressLock() { return classState().progressLock; }

void HTTPRequest::incrementBandwidthUsedInLastSecond(std::uint32_t bytes) {
  auto& s = classState();
  std::lock_guard lock(s.bandwidthThrottlingLock);
  s.bandwidthUsedInLastSecond += bytes;
}

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
  {
    std::lock_guard lock(cancelledLock_);
    if (isCancelled()) return;
    if (totalBytesSent_ > 0 && uploadBufferSize_ == 0 && totalBytesSent_ != postLength_) {
      uploadBufferSize_ = totalBytesSent_;
      if (queue_ && queue_->respondsToSelector("setUploadBufferSize:"))
        queue_->setUploadBufferSize(uploadBufferSize_);
    }
  }
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
  if (queue_ && queue_->respondsToSelector("incrementUploadProgressBy:"))
    queue_->incrementUploadProgressBy(increment);
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
  if (queue_ && queue_->respondsToSelector("incrementDownloadProgressBy:"))
    queue_->incrementDownloadProgressBy(increment);
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
  if (queue_ && queue_->respondsToSelector("incrementDownloadSizeBy:"))
    queue_->incrementDownloadSizeBy(value);
  setProgressForIndicator(0, downloadProgressDelegate_);
}

void HTTPRequest::removeUploadProgressSoFar() {
  if (queue_ && queue_->respondsToSelector("decrementUploadProgressBy:"))
    queue_->decrementUploadProgressBy(lastBytesSent_);
  setProgressForIndicator(0, uploadProgressDelegate_);
}

}  // namespace glowsnap
