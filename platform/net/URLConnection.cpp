#include "platform/net/URLConnection.h"

#include <strings.h>

#include <cerrno>

#include "platform/net/HTTPCookie.h"
#include "platform/net/HTTPCookieStorage.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/HTTPReadStream.h"
#include "platform/net/InputStream.h"

namespace glowsnap {

namespace {

constexpr unsigned kStreamEvents = HTTPReadStream::kOpenCompleted |
                                   HTTPReadStream::kHasBytesAvailable |
                                   HTTPReadStream::kErrorOccurred | HTTPReadStream::kEndEncountered;

// libcurl codes the stream reports in its own domain.
constexpr int kCurlUnsupportedProtocol = 1;
constexpr int kCurlURLMalformat = 3;
constexpr int kCurlCouldNotResolveProxy = 5;
constexpr int kCurlCouldNotResolveHost = 6;
constexpr int kCurlCouldNotConnect = 7;
constexpr int kCurlWeirdServerReply = 8;
constexpr int kCurlOperationTimedOut = 28;
constexpr int kCurlGotNothing = 52;
constexpr int kCurlSendError = 55;
constexpr int kCurlRecvError = 56;

bool isRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool sameOrigin(const URL& a, const URL& b) {
  return a.scheme() == b.scheme() && a.host() == b.host() && a.effectivePort() == b.effectivePort();
}

}  // namespace

URLConnection::URLConnection(Private, const URLRequest& request,
                             std::shared_ptr<URLConnectionDelegate> delegate)
    : original_(request), current_(request), delegate_(std::move(delegate)) {}

URLConnection::~URLConnection() { closeStream(); }

std::shared_ptr<URLConnection> URLConnection::connectionWithRequest(
    const URLRequest& request, std::shared_ptr<URLConnectionDelegate> delegate) {
  auto connection = std::make_shared<URLConnection>(Private{}, request, std::move(delegate));
  connection->start();
  return connection;
}

void URLConnection::start() {
  self_ = shared_from_this();
  loop_ = &RunLoop::current();
  lastActivity_ = Clock::now();
  if (auto error = openStream()) {
    failLater(std::move(*error));
    return;
  }
  armTimeout(current_.timeoutInterval());
}

Error URLConnection::makeError(int code, const std::string& description) const {
  Error e;
  e.domain = kErrorDomain;
  e.code = code;
  e.description = description;
  e.userInfo[kFailingURLKey] = current_.url().absoluteString();
  return e;
}

std::optional<Error> URLConnection::openStream() {
  const URL& url = current_.url();
  if (url.scheme() != "http" && url.scheme() != "https")
    return makeError(kUnsupportedURL, "unsupported URL");
  auto message = HTTPMessage::createRequest(current_.httpMethod(), url, HTTPVersion::V1_1);
  if (!message) return makeError(kBadURL, "bad URL");
  for (const auto& [name, value] : current_.allHTTPHeaderFields()) {
    if (!message->setHeaderFieldValue(name, value))
      return makeError(kBadURL, "the header field \"" + name + "\" cannot be sent");
  }
  if (current_.httpShouldHandleCookies() && !current_.valueForHTTPHeaderField("Cookie")) {
    std::string cookies;
    for (const auto& cookie : HTTPCookieStorage::sharedStorage().cookiesForURL(url)) {
      if (!cookies.empty()) cookies += "; ";
      cookies += cookie.name() + "=" + cookie.value();
    }
    if (!cookies.empty()) message->setHeaderFieldValue("Cookie", cookies);
  }
  std::shared_ptr<HTTPReadStream> stream;
  if (!current_.httpBody().empty())
    stream = HTTPReadStream::createForStreamedHTTPRequest(
        *message, InputStream::withData(current_.httpBody()));
  else
    stream = HTTPReadStream::createForHTTPRequest(*message);
  if (!stream || !stream->setClient(kStreamEvents, &URLConnection::streamCallback, this))
    return makeError(kUnknown, "the connection could not be set up");
  stream->scheduleWithRunLoop(*loop_, RunLoop::kCommonModes);
  stream_ = stream;
  lastBytesWritten_ = 0;
  if (!stream->open()) {
    closeStream();
    return makeError(kUnknown, "the connection could not be started");
  }
  return std::nullopt;
}

void URLConnection::closeStream() {
  if (!stream_) return;
  auto stream = std::move(stream_);
  stream_.reset();
  stream->setClient(0, nullptr, nullptr);
  if (loop_) stream->unscheduleFromRunLoop(*loop_, RunLoop::kCommonModes);
  stream->close();
}

void URLConnection::streamCallback(HTTPReadStream&, unsigned event, void* info) {
  static_cast<URLConnection*>(info)->handleEvent(event);
}

void URLConnection::handleEvent(unsigned event) {
  if (finished_) return;
  auto keepAlive = shared_from_this();
  lastActivity_ = Clock::now();
  switch (event) {
    case HTTPReadStream::kHasBytesAvailable:
      if (deliverResponse() && !finished_) readBody();
      break;
    case HTTPReadStream::kErrorOccurred: {
      Error streamError;
      if (stream_ && stream_->error()) streamError = *stream_->error();
      fail(errorFromStream(streamError));
      break;
    }
    case HTTPReadStream::kEndEncountered:
      if (deliverResponse() && !finished_) finish();
      break;
    default:
      break;
  }
}

// Answers true when the body that follows belongs to the delegate: false
// when the answer was a redirect that is being followed, or the load ended.
bool URLConnection::deliverResponse() {
  if (responded_) return true;
  const HTTPMessage& head = stream_->responseHeader();
  if (!head.isHeaderComplete()) {
    fail(makeError(kBadServerResponse, "the server's answer has no complete head"));
    return false;
  }
  const URL& url = current_.url();
  if (current_.httpShouldHandleCookies()) {
    auto cookies =
        HTTPCookie::cookiesWithResponseHeaderFields(head.headerFieldValues("Set-Cookie"), url);
    if (!cookies.empty()) HTTPCookieStorage::sharedStorage().setCookies(cookies, url);
  }
  int status = head.responseStatusCode();
  auto location = head.headerFieldValue("Location");
  if (isRedirect(status) && location) {
    auto target = url.resolve(*location);
    if (!target) {
      fail(makeError(kBadServerResponse, "the server redirected to an invalid URL"));
      return false;
    }
    if (++redirects_ > kMaxRedirects) {
      fail(makeError(kHTTPTooManyRedirects, "too many HTTP redirects"));
      return false;
    }
    URLRequest next = current_;
    next.setURL(*target);
    bool keepsBody = status == 307 || status == 308;
    if (!keepsBody && current_.httpMethod() != "GET" && current_.httpMethod() != "HEAD") {
      next.setHTTPMethod("GET");
      next.setHTTPBody({});
      next.setValue(std::nullopt, "Content-Type");
      next.setValue(std::nullopt, "Content-Length");
    }
    // What the caller meant for one server does not go to another.
    if (!sameOrigin(url, *target)) {
      next.setValue(std::nullopt, "Authorization");
      next.setValue(std::nullopt, "Cookie");
    }
    closeStream();
    current_ = std::move(next);
    if (auto error = openStream()) fail(std::move(*error));
    return false;
  }
  responded_ = true;
  URLResponse response(url);
  response.statusCode = status;
  response.allHeaderFields = head.allHeaderFields();
  if (auto length = head.headerFieldValue("Content-Length")) {
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(length->c_str(), &end, 10);
    if (errno == 0 && end && *end == '\0' && value >= 0) response.expectedContentLength = value;
  }
  auto delegate = delegate_;
  if (delegate) delegate->didReceiveResponse(*this, response);
  return !finished_;
}

void URLConnection::readBody() {
  Bytes data;
  std::uint8_t buffer[65536];
  while (stream_) {
    std::int64_t n = stream_->read(buffer, sizeof buffer);
    if (n <= 0) break;
    data.insert(data.end(), buffer, buffer + n);
  }
  if (data.empty()) return;
  auto delegate = delegate_;
  if (delegate) delegate->didReceiveData(*this, data);
}

void URLConnection::armTimeout(double seconds) {
  if (finished_ || !loop_ || seconds <= 0) return;
  std::weak_ptr<URLConnection> weak = weak_from_this();
  timer_ = loop_->addTimer(
      seconds, 0,
      [weak] {
        if (auto self = weak.lock()) {
          self->timer_.reset();
          self->checkTimeout();
        }
      },
      RunLoop::kCommonModes);
}

void URLConnection::checkTimeout() {
  if (finished_) return;
  auto now = Clock::now();
  if (stream_ && stream_->requestBytesWrittenCount() != lastBytesWritten_) {
    lastBytesWritten_ = stream_->requestBytesWrittenCount();
    lastActivity_ = now;
  }
  double idle = std::chrono::duration<double>(now - lastActivity_).count();
  double limit = current_.timeoutInterval();
  if (idle >= limit) {
    fail(makeError(kTimedOut, "The request timed out."));
    return;
  }
  armTimeout(limit - idle);
}

void URLConnection::failLater(Error error) {
  std::weak_ptr<URLConnection> weak = weak_from_this();
  loop_->perform(
      [weak, error = std::move(error)]() mutable {
        if (auto self = weak.lock()) self->fail(std::move(error));
      },
      RunLoop::kCommonModes);
}

Error URLConnection::errorFromStream(const Error& streamError) const {
  Error e;
  if (streamError.domain == HTTPReadStream::kPOSIXErrorDomain) {
    switch (streamError.code) {
      case ECONNREFUSED:
      case EHOSTUNREACH:
      case ENETUNREACH:
      case EADDRNOTAVAIL:
        e = makeError(kCannotConnectToHost, "Could not connect to the server.");
        break;
      case ETIMEDOUT:
        e = makeError(kTimedOut, "The request timed out.");
        break;
      default:
        e = makeError(kNetworkConnectionLost, "The network connection was lost.");
    }
  } else if (streamError.domain == HTTPReadStream::kOSStatusErrorDomain) {
    switch (streamError.code) {
      case -9807:  // chain invalid
      case -9808:  // bad certificate
      case -9812:  // unknown root
      case -9813:  // no root
      case -9814:  // expired
      case -9815:  // not yet valid
        e = makeError(kServerCertificateUntrusted, "The certificate for this server is invalid.");
        break;
      default:
        e = makeError(kSecureConnectionFailed, "A secure connection to the server cannot be made.");
    }
  } else {
    switch (streamError.code) {
      case kCurlUnsupportedProtocol:
        e = makeError(kUnsupportedURL, "unsupported URL");
        break;
      case kCurlURLMalformat:
        e = makeError(kBadURL, "bad URL");
        break;
      case kCurlCouldNotResolveProxy:
      case kCurlCouldNotResolveHost:
        e = makeError(kCannotFindHost, "A server with the specified hostname could not be found.");
        break;
      case kCurlCouldNotConnect:
        e = makeError(kCannotConnectToHost, "Could not connect to the server.");
        break;
      case kCurlOperationTimedOut:
        e = makeError(kTimedOut, "The request timed out.");
        break;
      case kCurlGotNothing:
      case kCurlSendError:
      case kCurlRecvError:
        e = makeError(kNetworkConnectionLost, "The network connection was lost.");
        break;
      case kCurlWeirdServerReply:
        e = makeError(kBadServerResponse, "The server's answer cannot be read.");
        break;
      default:
        e = makeError(kUnknown, streamError.description.empty() ? "An unknown error occurred."
                                                                : streamError.description);
    }
  }
  if (!streamError.domain.empty()) e.underlying = std::make_shared<Error>(streamError);
  return e;
}

void URLConnection::fail(Error error) {
  if (finished_) return;
  auto keepAlive = shared_from_this();
  auto delegate = delegate_;
  stop();
  if (delegate) delegate->didFailWithError(*this, error);
  release();
}

void URLConnection::finish() {
  auto keepAlive = shared_from_this();
  auto delegate = delegate_;
  stop();
  if (delegate) delegate->connectionDidFinishLoading(*this);
  release();
}

void URLConnection::cancel() {
  if (finished_) return;
  auto keepAlive = shared_from_this();
  stop();
  release();
}

void URLConnection::stop() {
  finished_ = true;
  closeStream();
  if (timer_ && loop_) loop_->removeTimer(*timer_);
  timer_.reset();
}

void URLConnection::release() {
  delegate_.reset();
  self_.reset();
}

}  // namespace glowsnap
