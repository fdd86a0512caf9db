// What an HTTPRequest talks to: its delegate, its queue and its progress
// indicators. Their operations are optional: each says, by selector name,
// which ones it implements ("requestFinished:", "requestFailed:",
// "authorizationNeededForRequest:", "setProgress:", ...), and the request
// sends only those. None of them is owned by the request.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace glowsnap {

class HTTPRequest;

// The name of an optional operation, written as the design names it.
using Selector = std::string;

class HTTPRequestDelegate {
 public:
  virtual ~HTTPRequestDelegate() = default;
  virtual bool respondsToSelector(const Selector& selector) const = 0;
  // Called only for a selector the delegate responds to, on the main thread.
  virtual void performSelector(const Selector& selector, HTTPRequest& request) = 0;
};

// A delegate made of handlers, one per selector it implements.
class HTTPRequestCallbacks : public HTTPRequestDelegate {
 public:
  using Handler = std::function<void(HTTPRequest&)>;
  void setHandler(const Selector& selector, Handler handler) {
    handlers_[selector] = std::move(handler);
  }
  bool respondsToSelector(const Selector& selector) const override {
    return handlers_.count(selector) != 0;
  }
  void performSelector(const Selector& selector, HTTPRequest& request) override {
    auto it = handlers_.find(selector);
    if (it != handlers_.end()) it->second(request);
  }

 private:
  std::map<Selector, Handler> handlers_;
};

// What a request expects of the queue that runs it. Byte counts arrive on
// the request's thread; the other messages on the main thread.
class HTTPRequestQueue {
 public:
  virtual ~HTTPRequestQueue() = default;
  virtual bool respondsToSelector(const Selector& selector) const = 0;
  virtual void requestDidFinish(HTTPRequest&) {}
  virtual void requestDidFail(HTTPRequest&) {}
  virtual void authorizationNeededForRequest(HTTPRequest&) {}
  virtual void proxyAuthorizationNeededForRequest(HTTPRequest&) {}
  virtual void incrementUploadProgressBy(std::uint64_t) {}
  virtual void decrementUploadProgressBy(std::uint64_t) {}
  virtual void setUploadBufferSize(std::uint64_t) {}
  virtual void incrementDownloadProgressBy(std::uint64_t) {}
  virtual void incrementDownloadSizeBy(std::uint64_t) {}
};

// A progress indicator: "setProgress:" (float), "setDoubleValue:" and
// "setMaxValue:" are its optional operations.
class ProgressIndicator {
 public:
  virtual ~ProgressIndicator() = default;
  virtual bool respondsToSelector(const Selector& selector) const = 0;
  virtual void setProgress(float) {}
  virtual void setDoubleValue(double) {}
  virtual void setMaxValue(double) {}
};

}  // namespace glowsnap
