// NetworkQueue: runs a batch of HTTPRequests, at most four at once, on
// worker threads of its own. It counts the requests still open, tells its
// delegate as each one finishes or fails and once when the batch is done,
// cancels the rest of the batch on the first failure (by default), sums the
// bytes of all its requests into one upload and one download indicator, and
// says whether the network is in use (the activity indicator).
//
// A queue is made suspended: requests are added, then go() starts them.
// With showAccurateProgress each GET is measured first by a HEAD request of
// its own (which runs before every other request and reports nothing
// itself); the GETs of a batch start once all of its HEAD requests are
// done, so the download total is known before any body arrives; without
// it every request counts as one unit of progress.
//
// The open count only goes down through a request's report, once per
// request, and never below zero; the batch's finish message follows the
// report that brings it to zero, also after a cancellation. The progress
// counters are kept under the client's progressLock, since the requests'
// threads report at the same time. Requests refer to their queue weakly: a
// queue that goes away is forgotten by its requests, and those that had not
// started are cancelled.
//
// Make queues with queue(): requests keep a weak reference to it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "http/HTTPRequest.h"
#include "http/HTTPRequestDelegate.h"
#include "http/OperationQueue.h"

namespace glowsnap {

class NetworkQueue;

// The delegate of a queue: the request messages of HTTPRequestDelegate
// (the finish and fail selectors, the credential requests) and the batch's
// finish message, which names the queue.
class NetworkQueueDelegate : public HTTPRequestDelegate {
 public:
  virtual void performSelector(const Selector& selector, NetworkQueue& queue) = 0;
  using HTTPRequestDelegate::performSelector;
};

// A queue delegate made of handlers, one per selector it implements.
class NetworkQueueCallbacks : public NetworkQueueDelegate {
 public:
  using RequestHandler = std::function<void(HTTPRequest&)>;
  using QueueHandler = std::function<void(NetworkQueue&)>;
  void setHandler(const Selector& selector, RequestHandler handler) {
    requestHandlers_[selector] = std::move(handler);
  }
  void setQueueHandler(const Selector& selector, QueueHandler handler) {
    queueHandlers_[selector] = std::move(handler);
  }
  bool respondsToSelector(const Selector& selector) const override {
    return requestHandlers_.count(selector) || queueHandlers_.count(selector);
  }
  void performSelector(const Selector& selector, HTTPRequest& request) override {
    if (auto it = requestHandlers_.find(selector); it != requestHandlers_.end()) it->second(request);
  }
  void performSelector(const Selector& selector, NetworkQueue& queue) override {
    if (auto it = queueHandlers_.find(selector); it != queueHandlers_.end()) it->second(queue);
  }

 private:
  std::map<Selector, RequestHandler> requestHandlers_;
  std::map<Selector, QueueHandler> queueHandlers_;
};

// What addOperation throws for anything that is not an HTTPRequest.
class NetworkQueueException : public std::logic_error {
 public:
  NetworkQueueException(std::string name, const std::string& reason)
      : std::logic_error(reason), name_(std::move(name)) {}
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

class NetworkQueue : public OperationQueue,
                     public HTTPRequestQueue,
                     public std::enable_shared_from_this<NetworkQueue> {
 public:
  static constexpr int kMaxConcurrentRequests = 4;
  // HEAD requests run before every request added normally.
  static constexpr int kHEADRequestPriority = 10;

  // A new queue: suspended, at most four requests at once, cancelling the
  // batch on the first failure.
  static std::shared_ptr<NetworkQueue> queue();
  ~NetworkQueue() override;

  // Adds a request (throws NetworkQueueException "AttemptToAddInvalidRequest"
  // for anything else, adding nothing).
  void addOperation(std::shared_ptr<Operation> operation) override;
  // Adds a HEAD request made for a GET (ignored unless it is an
  // HTTPRequest); it is not counted as open.
  void addHEADOperation(std::shared_ptr<Operation> operation);
  // Starts the batch.
  void go();
  void setSuspended(bool suspended) override;
  // Cancels every request; each reports its cancellation (code 4) to the
  // delegate, and the last report sends the batch's finish message.
  void cancelAllOperations() override;

  bool isNetworkActive() const;
  // Calls the activity handler with isNetworkActive().
  void updateNetworkActivityIndicator();
  // Told whether the network is in use, at every change of the count or
  // the suspension (on the thread of that change).
  void setNetworkActivityHandler(std::function<void(bool active)> handler);

  // --- properties --------------------------------------------------------
  NetworkQueueDelegate* delegate() const;
  void setDelegate(NetworkQueueDelegate* delegate);
  std::optional<Selector> requestDidFinishSelector() const;
  void setRequestDidFinishSelector(std::optional<Selector> s);
  std::optional<Selector> requestDidFailSelector() const;
  void setRequestDidFailSelector(std::optional<Selector> s);
  std::optional<Selector> queueDidFinishSelector() const;
  void setQueueDidFinishSelector(std::optional<Selector> s);
  ProgressIndicator* uploadProgressDelegate() const;
  void setUploadProgressDelegate(ProgressIndicator* indicator);
  ProgressIndicator* downloadProgressDelegate() const;
  void setDownloadProgressDelegate(ProgressIndicator* indicator);
  std::uint64_t uploadProgressBytes() const;
  std::uint64_t uploadProgressTotalBytes() const;
  std::uint64_t downloadProgressBytes() const;
  std::uint64_t downloadProgressTotalBytes() const;
  bool shouldCancelAllRequestsOnFailure() const;
  void setShouldCancelAllRequestsOnFailure(bool v);
  // Requests added and not yet reported back.
  int requestsCount() const;
  bool showAccurateProgress() const;
  void setShowAccurateProgress(bool v);

  // --- messages from requests (HTTPRequestQueue) -------------------------
  bool respondsToSelector(const Selector& selector) const override;
  void requestDidFinish(HTTPRequest& request) override;
  void requestDidFail(HTTPRequest& request) override;
  void authorizationNeededForRequest(HTTPRequest& request) override;
  void proxyAuthorizationNeededForRequest(HTTPRequest& request) override;
  void incrementUploadProgressBy(std::uint64_t bytes) override;
  void decrementUploadProgressBy(std::uint64_t bytes) override;
  void incrementUploadSizeBy(std::uint64_t bytes);
  void setUploadBufferSize(std::uint64_t bytes) override;
  void incrementDownloadProgressBy(std::uint64_t bytes) override;
  void incrementDownloadSizeBy(std::uint64_t bytes) override;

 protected:
  NetworkQueue();

 private:
  // A report of a request: false when it was not open (reported before).
  bool closeRequest(HTTPRequest& request, bool* last);
  void sendToDelegate(const std::optional<Selector>& selector, HTTPRequest& request);
  void sendQueueDidFinish();
  void postUploadProgressLocked();
  void postDownloadProgressLocked();

  // Guards the fields below except the progress counters (progressLock).
  mutable std::mutex mutex_;
  NetworkQueueDelegate* delegate_ = nullptr;
  std::optional<Selector> requestDidFinishSelector_;
  std::optional<Selector> requestDidFailSelector_;
  std::optional<Selector> queueDidFinishSelector_;
  bool shouldCancelAllRequestsOnFailure_ = true;
  bool showAccurateProgress_ = false;
  // The requests added and not reported back (the open count).
  std::set<const HTTPRequest*> open_;
  // Every request this queue was given, to detach when it goes.
  std::vector<std::weak_ptr<HTTPRequest>> requests_;
  std::function<void(bool)> activityHandler_;
  // HEAD requests and the GETs they measure, added before go(): every such
  // GET waits for all of them, so the download total is complete before
  // any body arrives and the combined progress only moves forward.
  std::vector<std::weak_ptr<HTTPRequest>> headsBeforeGo_, measuredBeforeGo_;

  // Under HTTPRequest::progressLock().
  ProgressIndicator* uploadProgressDelegate_ = nullptr;
  ProgressIndicator* downloadProgressDelegate_ = nullptr;
  std::uint64_t uploadProgressBytes_ = 0;
  std::uint64_t uploadProgressTotalBytes_ = 0;
  std::uint64_t downloadProgressBytes_ = 0;
  std::uint64_t downloadProgressTotalBytes_ = 0;
};

}  // namespace glowsnap
