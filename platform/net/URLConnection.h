// URLConnection: an asynchronous load of one URLRequest, reported to a
// delegate on the run loop of the thread that started it.
//
// It drives the libcurl stream (HTTPReadStream) from that loop in the
// common modes, follows redirects, keeps cookies in the shared store when
// the request says so, fails after the request's time-out without
// progress, and never stores or reuses an answer. The connection keeps
// itself and its delegate alive while it loads; after the last callback
// (finished, failed) or cancel() it lets both go.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Bytes.h"
#include "platform/net/URLRequest.h"

namespace glowsnap {

class HTTPReadStream;
class URLConnection;

// Every operation is optional. After didFailWithError or
// connectionDidFinishLoading nothing more arrives.
class URLConnectionDelegate {
 public:
  virtual ~URLConnectionDelegate() = default;
  virtual void didReceiveResponse(URLConnection& /*connection*/, const URLResponse& /*response*/) {}
  virtual void didReceiveData(URLConnection& /*connection*/, const Bytes& /*data*/) {}
  virtual void didFailWithError(URLConnection& /*connection*/, const Error& /*error*/) {}
  virtual void connectionDidFinishLoading(URLConnection& /*connection*/) {}
};

class URLConnection : public std::enable_shared_from_this<URLConnection> {
 public:
  static constexpr const char* kErrorDomain = "NSURLErrorDomain";
  // userInfo key of the URL that failed.
  static constexpr const char* kFailingURLKey = "NSErrorFailingURLStringKey";
  enum ErrorCode : int {
    kUnknown = -1,
    kBadURL = -1000,
    kTimedOut = -1001,
    kUnsupportedURL = -1002,
    kCannotFindHost = -1003,
    kCannotConnectToHost = -1004,
    kNetworkConnectionLost = -1005,
    kHTTPTooManyRedirects = -1007,
    kBadServerResponse = -1011,
    kSecureConnectionFailed = -1200,
    kServerCertificateUntrusted = -1202,
  };
  static constexpr int kMaxRedirects = 16;

  // Starts loading request now. A request that cannot be sent (not http or
  // https, a header that may not be sent) fails through the delegate, on
  // the loop, like any other failure.
  static std::shared_ptr<URLConnection> connectionWithRequest(
      const URLRequest& request, std::shared_ptr<URLConnectionDelegate> delegate);

  ~URLConnection();
  URLConnection(const URLConnection&) = delete;
  URLConnection& operator=(const URLConnection&) = delete;

  // Stops the load; the delegate hears nothing more. Safe to repeat.
  void cancel();

  const URLRequest& originalRequest() const { return original_; }
  // The request as last sent (after redirects).
  const URLRequest& currentRequest() const { return current_; }
  bool isLoading() const { return !finished_; }

 private:
  using Clock = std::chrono::steady_clock;
  struct Private {};

 public:
  URLConnection(Private, const URLRequest& request,
                std::shared_ptr<URLConnectionDelegate> delegate);

 private:
  static void streamCallback(HTTPReadStream& stream, unsigned event, void* info);
  void start();
  std::optional<Error> openStream();
  void closeStream();
  void handleEvent(unsigned event);
  bool deliverResponse();
  void readBody();
  void armTimeout(double seconds);
  void checkTimeout();
  void failLater(Error error);
  void fail(Error error);
  void finish();
  void stop();
  void release();
  Error makeError(int code, const std::string& description) const;
  Error errorFromStream(const Error& streamError) const;

  URLRequest original_;
  URLRequest current_;
  std::shared_ptr<URLConnectionDelegate> delegate_;
  std::shared_ptr<URLConnection> self_;
  std::shared_ptr<HTTPReadStream> stream_;
  RunLoop* loop_ = nullptr;
  std::optional<RunLoop::Handle> timer_;
  Clock::time_point lastActivity_;
  std::uint64_t lastBytesWritten_ = 0;
  int redirects_ = 0;
  bool responded_ = false;
  bool finished_ = false;
};

}  // namespace glowsnap
