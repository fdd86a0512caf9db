#include "http/NetworkQueue.h"

#include <algorithm>

#include "platform/foundation/RunLoop.h"

namespace glowsnap {

namespace {

const char* const kAuthorizationNeeded = "authorizationNeededForRequest:";
const char* const kProxyAuthorizationNeeded = "proxyAuthorizationNeededForRequest:";

}  // namespace

std::shared_ptr<NetworkQueue> NetworkQueue::queue() {
  std::shared_ptr<NetworkQueue> q(new NetworkQueue());
  std::weak_ptr<NetworkQueue> weak = q;
  // A request that ends without having reported (one that had failed
  // before it was added, say) is reported here, after its own messages,
  // so that the batch still finishes.
  q->setOperationEndHandler([weak](const std::shared_ptr<Operation>& op) {
    auto request = std::dynamic_pointer_cast<HTTPRequest>(op);
    if (!request) return;
    performOnMainThread(
        [weak, request] {
          auto self = weak.lock();
          if (!self || !request->isFinished()) return;
          {
            std::lock_guard lock(self->mutex_);
            if (!self->open_.count(request.get())) return;
          }
          if (request->error())
            self->requestDidFail(*request);
          else
            self->requestDidFinish(*request);
        },
        false);
  });
  return q;
}

NetworkQueue::NetworkQueue() {
  setMaxConcurrentOperationCount(kMaxConcurrentRequests);
  OperationQueue::setSuspended(true);
}

NetworkQueue::~NetworkQueue() {
  std::vector<std::weak_ptr<HTTPRequest>> requests;
  {
    std::lock_guard lock(mutex_);
    requests.swap(requests_);
  }
  // Detached first: the requests the base then cancels report to nobody
  // here (their own delegates still hear of it).
  for (auto& weak : requests)
    if (auto r = weak.lock()) r->setQueue({});
}

// --- adding and running ------------------------------------------------------------

void NetworkQueue::addOperation(std::shared_ptr<Operation> operation) {
  auto request = std::dynamic_pointer_cast<HTTPRequest>(operation);
  if (!request)
    throw NetworkQueueException(
        "AttemptToAddInvalidRequest",
        "Attempted to add an object that was not an HTTPRequest to a NetworkQueue");
  bool accurate;
  {
    std::lock_guard lock(mutex_);
    open_.insert(request.get());
    requests_.push_back(request);
    accurate = showAccurateProgress_;
  }
  if (accurate) {
    // The body is built now: a request given a body is still a GET until
    // it is built (then a POST), and a GET with a body is not measured by
    // a HEAD.
    if (!request->haveBuiltPostBody()) request->buildPostBody();
    if (request->requestMethod() == "GET") {
      auto head = HTTPRequest::requestWithURL(request->url());
      head->setMainRequest(request);
      // It goes the way its request goes.
      head->setValidatesSecureCertificate(request->validatesSecureCertificate());
      head->setTimeOutSeconds(request->timeOutSeconds());
      head->setUseHTTPVersionOne(request->useHTTPVersionOne());
      head->setProxyHost(request->proxyHost());
      head->setProxyPort(request->proxyPort());
      head->setPACurl(request->PACurl());
      head->setProxyUsername(request->proxyUsername());
      head->setProxyPassword(request->proxyPassword());
      head->setProxyDomain(request->proxyDomain());
      addHEADOperation(head);
      request->setShouldResetProgressIndicators(false);
      request->addDependency(head);
      if (isSuspended()) {
        std::lock_guard lock(mutex_);
        headsBeforeGo_.push_back(head);
        measuredBeforeGo_.push_back(request);
      }
    } else if (uploadProgressDelegate()) {
      std::lock_guard lock(HTTPRequest::progressLock());
      uploadProgressTotalBytes_ += request->postLength();
    }
  }
  request->setShowAccurateProgress(accurate);
  request->setQueue(weak_from_this());
  OperationQueue::addOperation(request);
  updateNetworkActivityIndicator();
}

void NetworkQueue::addHEADOperation(std::shared_ptr<Operation> operation) {
  auto request = std::dynamic_pointer_cast<HTTPRequest>(operation);
  if (!request) return;
  request->setRequestMethod("HEAD");
  request->setQueuePriority(kHEADRequestPriority);
  request->setShowAccurateProgress(true);
  request->setQueue(weak_from_this());
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  OperationQueue::addOperation(request);
}

void NetworkQueue::go() {
  if (!showAccurateProgress()) {
    // Every request then reports one unit at its end.
    auto count = static_cast<std::uint64_t>(requestsCount());
    if (downloadProgressDelegate()) incrementDownloadSizeBy(count);
    if (uploadProgressDelegate()) incrementUploadSizeBy(count);
  }
  std::vector<std::weak_ptr<HTTPRequest>> heads, measured;
  {
    std::lock_guard lock(mutex_);
    heads.swap(headsBeforeGo_);
    measured.swap(measuredBeforeGo_);
  }
  for (auto& weakRequest : measured) {
    auto request = weakRequest.lock();
    if (!request) continue;
    for (auto& weakHead : heads)
      if (auto head = weakHead.lock(); head && head->mainRequest() != request)
        request->addDependency(head);
  }
  setSuspended(false);
}

void NetworkQueue::setSuspended(bool suspended) {
  OperationQueue::setSuspended(suspended);
  updateNetworkActivityIndicator();
}

void NetworkQueue::cancelAllOperations() {
  {
    std::lock_guard lock(HTTPRequest::progressLock());
    uploadProgressBytes_ = uploadProgressTotalBytes_ = 0;
    downloadProgressBytes_ = downloadProgressTotalBytes_ = 0;
  }
  // Each request reports its cancellation; the open count follows the
  // reports, and the last one finishes the batch.
  OperationQueue::cancelAllOperations();
  updateNetworkActivityIndicator();
}

bool NetworkQueue::isNetworkActive() const { return requestsCount() > 0 && !isSuspended(); }

void NetworkQueue::updateNetworkActivityIndicator() {
  std::function<void(bool)> handler;
  {
    std::lock_guard lock(mutex_);
    handler = activityHandler_;
  }
  if (handler) handler(isNetworkActive());
}

void NetworkQueue::setNetworkActivityHandler(std::function<void(bool)> handler) {
  std::lock_guard lock(mutex_);
  activityHandler_ = std::move(handler);
}

// --- reports -----------------------------------------------------------------

bool NetworkQueue::closeRequest(HTTPRequest& request, bool* last) {
  std::lock_guard lock(mutex_);
  if (!open_.erase(&request)) return false;
  *last = open_.empty();
  return true;
}

void NetworkQueue::sendToDelegate(const std::optional<Selector>& selector, HTTPRequest& request) {
  NetworkQueueDelegate* delegate;
  {
    std::lock_guard lock(mutex_);
    delegate = delegate_;
  }
  if (selector && delegate && delegate->respondsToSelector(*selector))
    delegate->performSelector(*selector, request);
}

void NetworkQueue::sendQueueDidFinish() {
  // The delegate may let the queue go while it hears of it.
  auto self = shared_from_this();
  NetworkQueueDelegate* delegate;
  std::optional<Selector> selector;
  {
    std::lock_guard lock(mutex_);
    delegate = delegate_;
    selector = queueDidFinishSelector_;
  }
  if (selector && delegate && delegate->respondsToSelector(*selector))
    delegate->performSelector(*selector, *this);
}

void NetworkQueue::requestDidFinish(HTTPRequest& request) {
  auto self = shared_from_this();
  bool last = false;
  // A request reports once: a second report is not counted again.
  if (!closeRequest(request, &last)) return;
  updateNetworkActivityIndicator();
  sendToDelegate(requestDidFinishSelector(), request);
  if (last) sendQueueDidFinish();
}

void NetworkQueue::requestDidFail(HTTPRequest& request) {
  auto self = shared_from_this();
  bool last = false;
  if (!closeRequest(request, &last)) return;
  updateNetworkActivityIndicator();
  sendToDelegate(requestDidFailSelector(), request);
  // The cancelled requests report while this runs (at once on the main
  // thread); the one that empties the batch sends the finish message.
  if (!last && shouldCancelAllRequestsOnFailure()) cancelAllOperations();
  if (last) sendQueueDidFinish();
}

void NetworkQueue::authorizationNeededForRequest(HTTPRequest& request) {
  NetworkQueueDelegate* d = delegate();
  if (d && d->respondsToSelector(kAuthorizationNeeded))
    d->performSelector(kAuthorizationNeeded, request);
  else
    // Nobody to ask any more: the request goes on with what it has.
    request.retryWithAuthentication();
}

void NetworkQueue::proxyAuthorizationNeededForRequest(HTTPRequest& request) {
  NetworkQueueDelegate* d = delegate();
  if (d && d->respondsToSelector(kProxyAuthorizationNeeded))
    d->performSelector(kProxyAuthorizationNeeded, request);
  else
    request.retryWithAuthentication();
}

bool NetworkQueue::respondsToSelector(const Selector& selector) const {
  if (selector == kAuthorizationNeeded || selector == kProxyAuthorizationNeeded) {
    NetworkQueueDelegate* d = delegate();
    return d && d->respondsToSelector(selector);
  }
  static const char* const kOwn[] = {
      "requestDidFinish:",           "requestDidFail:",
      "incrementUploadProgressBy:",  "decrementUploadProgressBy:",
      "incrementUploadSizeBy:",      "setUploadBufferSize:",
      "incrementDownloadProgressBy:", "incrementDownloadSizeBy:"};
  return std::any_of(std::begin(kOwn), std::end(kOwn),
                     [&](const char* own) { return selector == own; });
}

// --- progress ----------------------------------------------------------------------

void NetworkQueue::postUploadProgressLocked() {
  if (uploadProgressTotalBytes_ == 0) return;
  double value = static_cast<double>(uploadProgressBytes_) /
                 static_cast<double>(uploadProgressTotalBytes_);
  HTTPRequest::setProgressForIndicator(std::min(value, 1.0), uploadProgressDelegate_);
}

void NetworkQueue::postDownloadProgressLocked() {
  if (downloadProgressTotalBytes_ == 0) return;
  double value = static_cast<double>(downloadProgressBytes_) /
                 static_cast<double>(downloadProgressTotalBytes_);
  HTTPRequest::setProgressForIndicator(std::min(value, 1.0), downloadProgressDelegate_);
}

void NetworkQueue::incrementUploadSizeBy(std::uint64_t bytes) {
  std::lock_guard lock(HTTPRequest::progressLock());
  if (!uploadProgressDelegate_) return;
  uploadProgressTotalBytes_ += bytes;
  postUploadProgressLocked();
}

void NetworkQueue::setUploadBufferSize(std::uint64_t bytes) {
  std::lock_guard lock(HTTPRequest::progressLock());
  if (!uploadProgressDelegate_) return;
  // The buffered bytes are never reported as progress.
  uploadProgressTotalBytes_ -= std::min(bytes, uploadProgressTotalBytes_);
  postUploadProgressLocked();
}

void NetworkQueue::incrementUploadProgressBy(std::uint64_t bytes) {
  std::lock_guard lock(HTTPRequest::progressLock());
  if (!uploadProgressDelegate_ || uploadProgressTotalBytes_ == 0) return;
  uploadProgressBytes_ += bytes;
  postUploadProgressLocked();
}

void NetworkQueue::decrementUploadProgressBy(std::uint64_t bytes) {
  std::lock_guard lock(HTTPRequest::progressLock());
  if (!uploadProgressDelegate_ || uploadProgressTotalBytes_ == 0) return;
  uploadProgressBytes_ -= std::min(bytes, uploadProgressBytes_);
  postUploadProgressLocked();
}

void NetworkQueue::incrementDownloadSizeBy(std::uint64_t bytes) {
  std::lock_guard lock(HTTPRequest::progressLock());
  if (!downloadProgressDelegate_) return;
  downloadProgressTotalBytes_ += bytes;
  postDownloadProgressLocked();
}

void NetworkQueue::incrementDownloadProgressBy(std::uint64_t bytes) {
  std::lock_guard lock(HTTPRequest::progressLock());
  if (!downloadProgressDelegate_ || downloadProgressTotalBytes_ == 0) return;
  downloadProgressBytes_ += bytes;
  postDownloadProgressLocked();
}

// --- properties ----------------------------------------------------------------------

NetworkQueueDelegate* NetworkQueue::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}
void NetworkQueue::setDelegate(NetworkQueueDelegate* delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}
std::optional<Selector> NetworkQueue::requestDidFinishSelector() const {
  std::lock_guard lock(mutex_);
  return requestDidFinishSelector_;
}
void NetworkQueue::setRequestDidFinishSelector(std::optional<Selector> s) {
  std::lock_guard lock(mutex_);
  requestDidFinishSelector_ = std::move(s);
}
std::optional<Selector> NetworkQueue::requestDidFailSelector() const {
  std::lock_guard lock(mutex_);
  return requestDidFailSelector_;
}
void NetworkQueue::setRequestDidFailSelector(std::optional<Selector> s) {
  std::lock_guard lock(mutex_);
  requestDidFailSelector_ = std::move(s);
}
std::optional<Selector> NetworkQueue::queueDidFinishSelector() const {
  std::lock_guard lock(mutex_);
  return queueDidFinishSelector_;
}
void NetworkQueue::setQueueDidFinishSelector(std::optional<Selector> s) {
  std::lock_guard lock(mutex_);
  queueDidFinishSelector_ = std::move(s);
}
ProgressIndicator* NetworkQueue::uploadProgressDelegate() const {
  std::lock_guard lock(HTTPRequest::progressLock());
  return uploadProgressDelegate_;
}
void NetworkQueue::setUploadProgressDelegate(ProgressIndicator* indicator) {
  {
    std::lock_guard lock(HTTPRequest::progressLock());
    uploadProgressDelegate_ = indicator;
  }
  if (indicator && indicator->respondsToSelector("setMaxValue:")) indicator->setMaxValue(1.0);
}
ProgressIndicator* NetworkQueue::downloadProgressDelegate() const {
  std::lock_guard lock(HTTPRequest::progressLock());
  return downloadProgressDelegate_;
}
void NetworkQueue::setDownloadProgressDelegate(ProgressIndicator* indicator) {
  {
    std::lock_guard lock(HTTPRequest::progressLock());
    downloadProgressDelegate_ = indicator;
  }
  if (indicator && indicator->respondsToSelector("setMaxValue:")) indicator->setMaxValue(1.0);
}
std::uint64_t NetworkQueue::uploadProgressBytes() const {
  std::lock_guard lock(HTTPRequest::progressLock());
  return uploadProgressBytes_;
}
std::uint64_t NetworkQueue::uploadProgressTotalBytes() const {
  std::lock_guard lock(HTTPRequest::progressLock());
  return uploadProgressTotalBytes_;
}
std::uint64_t NetworkQueue::downloadProgressBytes() const {
  std::lock_guard lock(HTTPRequest::progressLock());
  return downloadProgressBytes_;
}
std::uint64_t NetworkQueue::downloadProgressTotalBytes() const {
  std::lock_guard lock(HTTPRequest::progressLock());
  return downloadProgressTotalBytes_;
}
bool NetworkQueue::shouldCancelAllRequestsOnFailure() const {
  std::lock_guard lock(mutex_);
  return shouldCancelAllRequestsOnFailure_;
}
void NetworkQueue::setShouldCancelAllRequestsOnFailure(bool v) {
  std::lock_guard lock(mutex_);
  shouldCancelAllRequestsOnFailure_ = v;
}
int NetworkQueue::requestsCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(open_.size());
}
bool NetworkQueue::showAccurateProgress() const {
  std::lock_guard lock(mutex_);
  return showAccurateProgress_;
}
void NetworkQueue::setShowAccurateProgress(bool v) {
  std::lock_guard lock(mutex_);
  showAccurateProgress_ = v;
}

}  // namespace glowsnap
