// The transfer: one attempt per stream, the loop that runs the attempts on
// the thread's RunLoop, the stream's events, and the state machine that
// says where the transfer is.
#include <strings.h>

#include <algorithm>
#include <functional>
#include <string>

#include "http/HTTPRequest.h"
#include "platform/net/HTTPCookieStorage.h"

namespace glowsnap {

namespace {

constexpr unsigned kStreamEvents =
    HTTPReadStream::kOpenCompleted | HTTPReadStream::kHasBytesAvailable |
    HTTPReadStream::kErrorOccurred | HTTPReadStream::kEndEncountered;  // 27

bool equalsIgnoringCase(const std::string& a, const char* b) {
  return ::strcasecmp(a.c_str(), b) == 0;
}

void eraseHeader(HTTPRequest::HeaderDictionary& headers, const char* name) {
  for (auto it = headers.begin(); it != headers.end();) {
    if (equalsIgnoringCase(it->first, name))
      it = headers.erase(it);
    else
      ++it;
  }
}

bool sameOrigin(const URL& a, const URL& b) {
  return a.scheme() == b.scheme() && a.host() == b.host() && a.effectivePort() == b.effectivePort();
}

// Moves a file, copying when source and destination are on different file

struct TransferLog {
  std::mutex lock;
  std::function<void(const std::string&)> log;
};

TransferLog& transferLog() {
  static TransferLog* log = new TransferLog;
  return *log;
}

// The request as the log names it: never with the URL's user information.
std::string logName(const std::string& method, const std::optional<URL>& url) {
  return method + " " + (url ? url->absoluteStringWithoutUserInfo() : std::string("(no URL)"));
}

}  // namespace

// --- states ------------------------------------------------------------------

const char* HTTPRequest::transferStateName(TransferState state) {
  switch (state) {
    case TransferState::kIdle:
      return "Idle";
    case TransferState::kStarting:
      return "Starting";
    case TransferState::kAwaitingHead:
      return "AwaitingHead";
    case TransferState::kReceivingBody:
      return "ReceivingBody";
    case TransferState::kRedirectPending:
      return "RedirectPending";
    case TransferState::kAuthenticating:
      return "Authenticating";
    case TransferState::kComplete:
      return "Complete";
  }
  return "?";
}

void HTTPRequest::setTransferLog(std::function<void(const std::string&)> log) {
  auto& t = transferLog();
  std::lock_guard lock(t.lock);
  t.log = std::move(log);
}

bool HTTPRequest::transition(TransferState next) {
  TransferState from;
  {
    std::lock_guard lock(stateMutex_);
    from = state_.load();
    if (from == next) return true;
    bool allowed = false;
    switch (next) {
      case TransferState::kIdle:
        // A new run starts from the end or from a request never run.
        allowed = from == TransferState::kComplete;
        break;
      case TransferState::kStarting:
        allowed = from == TransferState::kIdle || from == TransferState::kRedirectPending ||
                  from == TransferState::kAuthenticating;
        break;
      case TransferState::kAwaitingHead:
        allowed = from == TransferState::kStarting;
        break;
      case TransferState::kReceivingBody:
      case TransferState::kRedirectPending:
      case TransferState::kAuthenticating:
        allowed = from == TransferState::kAwaitingHead;
        break;
      case TransferState::kComplete:
        allowed = true;
        break;
    }
    if (!allowed) return false;
    state_.store(next);
  }
  std::function<void(const std::string&)> log;
  {
    auto& t = transferLog();
    std::lock_guard lock(t.lock);
    log = t.log;
  }
  if (log) {
    std::string name;
    {
      std::lock_guard lock(stateMutex_);
      name = logName_;
    }
    log(name + ": " + transferStateName(from) + " -> " + transferStateName(next));
  }
  return true;
}

// --- rules of the transfer -----------------------------------------------------

std::size_t HTTPRequest::readSizeForContentLength(std::uint64_t contentLength) {
  if (contentLength > 262144) return 65536;
  if (contentLength > 65536) return 16384;
  return 2048;
}

std::uint64_t HTTPRequest::leadingLength(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && text[i] == '+') ++i;
  std::uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    auto digit = static_cast<std::uint64_t>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
    value = value * 10 + digit;
  }
  return value;
}

std::optional<std::string> HTTPRequest::charsetFromContentType(const std::string& contentType) {
  auto at = contentType.find("charset=");
  // The scan must have passed at least one character and stopped before the end.
  if (at == std::string::npos || at == 0) return std::nullopt;
  std::string rest = contentType.substr(at + 8);
  rest = rest.substr(0, rest.find(';'));
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '"')) rest.pop_back();
  while (!rest.empty() && (rest.front() == ' ' || rest.front() == '"')) rest.erase(0, 1);
  return rest;
}
// --- attempts ------------------------------------------------------------------

void HTTPRequest::startRequest() {
  std::shared_ptr<const Error> failure;
  // A request cancelled or failed meanwhile (from another thread) stays
  // complete.
  {
    std::lock_guard lock(stateMutex_);
    logName_ = logName(requestMethod_, url_);
  }
  if (isCancelled() || !transition(TransferState::kStarting)) return;
  prepareAuthenticationForAttempt();
  // Progress reports take the class-wide progressLock, which comes before
  // a request's cancelledLock: they are made before the stream is built.
  totalBytesRead_ = 0;
  lastBytesRead_ = 0;
  if (lastBytesSent_ > 0) removeUploadProgressSoFar();
  lastBytesSent_ = 0;
  if (shouldResetProgressIndicators_) {
    contentLength_ = 0;
    resetDownloadProgress(0);
  }
  // Choosing the proxy may run a request of its own (a PAC script), which
  // takes progressLock: not under cancelledLock.
  std::shared_ptr<const Error> proxyFailure = chooseProxy();
  {
    std::unique_lock lock(cancelledLock_);
    if (isCancelled()) return;
    responseHeaders_.reset();
    restartDownload_ = false;
    downloadAlreadyComplete_ = false;
    bodyInflater_.reset();
    if (!downloadDestinationPath_ && !responseBodyConsumer_) rawResponseData_.emplace();

    postBodyReadStream_ = makePostBodyReadStream();
    std::shared_ptr<HTTPReadStream> stream =
        postBodyReadStream_
            ? HTTPReadStream::createForStreamedHTTPRequest(*request_, postBodyReadStream_)
            : HTTPReadStream::createForHTTPRequest(*request_);
    if (!stream) {
      failure = makeError(kInternalErrorWhileBuildingRequestType, "Unable to create read stream");
    } else {
      if (!validatesSecureCertificate_) stream->setValidatesCertificateChain(false);
      failure = proxyFailure ? proxyFailure : applyProxySettings(*stream);
    }
    if (!failure) {
      if (!stream->setClient(kStreamEvents, &ReadStreamClientCallBack, this)) {
        failure = makeError(kInternalErrorWhileBuildingRequestType, "Unable to setup read stream");
      } else {
        stream->scheduleWithRunLoop(RunLoop::current(), kHTTPRequestRunMode);
        readStream_ = stream;
        if (!stream->open()) {
          stream->setClient(0, nullptr, nullptr);
          stream->unscheduleFromRunLoop(RunLoop::current(), kHTTPRequestRunMode);
          stream->close();
          readStream_.reset();
          failure =
              makeError(kInternalErrorWhileBuildingRequestType, "Unable to start HTTP connection");
        }
      }
    }
  }
  if (failure) {
    failWithError(failure);
    return;
  }
  transition(TransferState::kAwaitingHead);
  if (shouldResetProgressIndicators_) resetUploadProgress(showAccurateProgress_ ? postLength_ : 1);
  lastActivityTime_ = Clock::now();
}

bool HTTPRequest::hasTimedOut(Clock::time_point now) const {
  if (!lastActivityTime_ || timeOutSeconds_ <= 0) return false;
  if (std::chrono::duration<double>(now - *lastActivityTime_).count() <= timeOutSeconds_)
    return false;
  // An upload whose body has not started to leave the platform's buffer is
  // waiting for the connection, not idle.
  return totalBytesSent_ > 0 || postLength_ <= uploadBufferSize_;
}

void HTTPRequest::loadRequest() {
  RunLoop& loop = RunLoop::current();
  startRequest();
  // The loop waits for the stream with a bounded wait rather than spinning;
  // this timer makes sure the time-out, progress and bandwidth steps below
  // still run at least every 100 ms while nothing else happens.
  auto tick = loop.addTimer(
      0.1, 0.1, [] {}, kHTTPRequestRunMode);
  while (!complete()) {
    auto now = Clock::now();
    if (hasTimedOut(now)) {
      failWithError(RequestTimedOutError());
      transition(TransferState::kComplete);
      cancelLoad();
      break;
    }
    if (needsRedirect()) {
      // The attempt ends here; main() builds the message for the new URL
      // and starts the next one.
      cancelLoad();
      ++redirectCount_;
      if (redirectCount_ > kMaxRedirects) {
        failWithError(TooMuchRedirectionError());
        transition(TransferState::kComplete);
      }
      break;
    }
    if (isCancelled()) break;
    if (totalBytesSent_ > lastBytesSent_) {
      lastActivityTime_ = now;
      lastBytesSent_ = totalBytesSent_;
    }
    {
      std::lock_guard lock(cancelledLock_);
      if (readStream_) totalBytesSent_ = readStream_->requestBytesWrittenCount();
    }
    updateProgressIndicators();
    measureBandwidthUsage(this);
    loop.runInMode(kHTTPRequestRunMode, 0.1, true);
  }
  loop.removeTimer(tick);
  if (isCancelled()) cancelLoad();
}

void ReadStreamClientCallBack(HTTPReadStream&, unsigned event, void* info) {
  static_cast<HTTPRequest*>(info)->handleNetworkEvent(event);
}

void HTTPRequest::handleNetworkEvent(unsigned event) {
  switch (event) {
    case HTTPReadStream::kHasBytesAvailable:
      handleBytesAvailable();
      break;
    case HTTPReadStream::kErrorOccurred:
      handleStreamError();
      break;
    case HTTPReadStream::kEndEncountered:
      handleStreamComplete();
      break;
    default:
      break;
  }
}

bool HTTPRequest::readResponseHeadersReturningAuthenticationFailure() {
  needsProxyAuthentication_ = false;
  if (!readStream_) return false;
  const HTTPMessage& head = readStream_->responseHeader();
  if (!head.isHeaderComplete()) return false;
  responseHeaders_ = head.allHeaderFields();
  responseStatusCode_ = head.responseStatusCode();
  responseStatusReceived(responseStatusCode_);
  if (responseStatusCode_ == 407 || responseStatusCode_ == 401) {
    needsProxyAuthentication_ = responseStatusCode_ == 407;
    transition(TransferState::kAuthenticating);
    return true;
  }

  const auto& headers = *responseHeaders_;
  if (partialDownloadSize_ > 0 && responseStatusCode_ == 416) {
    // Nothing is left to send after the part on disk. When the server
    // says the whole body is exactly that long, the part is the download;
    // otherwise the part is not what the server has, and it stays as it
    // is for the caller to look at.
    if (!partialDownloadIsComplete()) {
      const std::string part = partialFinalPath_.value_or(temporaryFileDownloadPath_.value_or(""));
      auto e = makeError(kFileManagementError,
                         "The server refused to resume the download in '" + part + "' (status 416, " +
                             (headers.count("Content-Range")
                                  ? "Content-Range: " + headers.at("Content-Range")
                                  : std::string("no Content-Range")) +
                             "); the partial file is kept as it is");
      transition(TransferState::kComplete);
      cancelLoad();
      failWithError(e);
      return false;
    }
    downloadAlreadyComplete_ = true;
    contentLength_ = 0;
    if (showAccurateProgress_ && shouldResetProgressIndicators_)
      resetDownloadProgress(partialDownloadSize_);
  } else if (auto it = headers.find("Content-Length"); it != headers.end()) {
    contentLength_ = leadingLength(it->second);
    if (mainRequest_) mainRequest_->contentLength_ = contentLength_;
    if (showAccurateProgress_ && shouldResetProgressIndicators_)
      resetDownloadProgress(contentLength_ + partialDownloadSize_);
  }
  if (partialDownloadSize_ > 0 && responseStatusCode_ != 206 && !downloadAlreadyComplete_) {
    // The server sent the whole body, not the rest of it: appending it to
    // the part already on disk would corrupt the file.
    partialDownloadSize_ = 0;
    restartDownload_ = true;
  }

  responseEncoding_ = defaultResponseEncoding_;
  if (auto it = headers.find("Content-Type"); it != headers.end()) {
    if (auto charset = charsetFromContentType(it->second))
      if (auto encoding = TextEncoding::fromIANACharsetName(*charset))
        responseEncoding_ = *encoding;
  }

  responseCookies_ =
      HTTPCookie::cookiesWithResponseHeaderFields(head.headerFieldValues("Set-Cookie"), *url_);
  if (useCookiePersistance_ && !responseCookies_->empty()) {
    HTTPCookieStorage::sharedStorage().setCookies(*responseCookies_, *url_);
    for (const auto& c : *responseCookies_) addSessionCookie(c);
  }

  auto location = headers.find("Location");
  if (shouldRedirect_ && location != headers.end() && responseStatusCode_ > 300 &&
      responseStatusCode_ <= 307 && responseStatusCode_ != 304) {
    if (responseStatusCode_ == 303) {
      requestMethod_ = "GET";
      postBody_.reset();
      postLength_ = 0;
      requestHeaders_.reset();
      forgetBody();
    }
    std::optional<URL> next = url_->resolve(location->second);
    if (requestHeaders_) {
      if (addedCookieHeader_) eraseHeader(*requestHeaders_, "Cookie");
      // Credentials and cookies set by hand belong to the origin they
      // were meant for.
      if (!next || !sameOrigin(*url_, *next)) {
        eraseHeader(*requestHeaders_, "Authorization");
        eraseHeader(*requestHeaders_, "Cookie");
      }
    }
    addedCookieHeader_ = false;
    URL previous = *url_;
    url_ = next;
    requestCookies_.clear();
    if (url_) proxyRedirected(previous);
    transition(TransferState::kRedirectPending);
    return false;
  }
  transition(TransferState::kReceivingBody);
  return false;
}

void HTTPRequest::handleBytesAvailable() {
  if (!responseHeaders_ && readResponseHeadersReturningAuthenticationFailure()) {
    attemptToApplyCredentialsAndResume();
    return;
  }
  if (needsRedirect() || !readStream_) return;
  std::size_t size = readSizeForContentLength(contentLength_);
  if (isBandwidthThrottled()) size = throttledReadSize(size);
  std::uint8_t buffer[65536];
  std::int64_t n = readStream_->read(buffer, size);
  if (n < 0) {
    handleStreamError();
    return;
  }
  if (n == 0) return;
  totalBytesRead_ += static_cast<std::uint64_t>(n);
  lastActivityTime_ = Clock::now();
  incrementBandwidthUsedInLastSecond(static_cast<std::uint32_t>(n));
  if (responseBodyConsumer_) {
    consumeBody(buffer, static_cast<std::size_t>(n));
  } else if (downloadDestinationPath_) {
    writeDownloadedBytes(buffer, static_cast<std::size_t>(n));
  } else if (rawResponseData_) {
    rawResponseData_->insert(rawResponseData_->end(), buffer, buffer + n);
  }
}

void HTTPRequest::closeReadStream() {
  if (!readStream_) return;
  readStream_->close();
  readStream_->setClient(0, nullptr, nullptr);
  readStream_.reset();
}

void HTTPRequest::handleStreamComplete() {
  if (!responseHeaders_ && readResponseHeadersReturningAuthenticationFailure()) {
    attemptToApplyCredentialsAndResume();
    return;
  }
  // The head may have ended the request (a refused resume).
  if (needsRedirect() || complete()) return;
  std::shared_ptr<const Error> fileError;
  {
    std::lock_guard progress(progressLock());
    transition(TransferState::kComplete);
    // The last sample of the loop may predate the body's last bytes.
    if (readStream_) totalBytesSent_ = readStream_->requestBytesWrittenCount();
    updateProgressIndicators();
    std::lock_guard lock(cancelledLock_);
    closeReadStream();
    if (postBodyReadStream_) postBodyReadStream_->close();
    fileError = removePostDataFile();
    if (responseBodyConsumer_) {
      if (auto e = finishConsumedBody(); e && !fileError) fileError = e;
    } else if (downloadDestinationPath_) {
      // An empty body still replaces the destination with an empty file.
      if (!fileDownloadOutputStream_ && !downloadFile_ && !temporaryFileDownloadPath_)
        openDownloadStream();
      if (!error() && (downloadFile_ || fileDownloadOutputStream_ || temporaryFileDownloadPath_)) {
        auto e = finishDownloadFile();
        if (!fileError) fileError = e;
      }
    }
  }
  if (fileError)
    failWithError(fileError);
  else
    requestFinished();
}

void HTTPRequest::handleStreamError() {
  Error streamError;
  if (readStream_ && readStream_->error()) {
    streamError = *readStream_->error();
  } else {
    streamError.domain = HTTPReadStream::kStreamErrorDomain;
    streamError.description = "The stream failed";
  }
  transition(TransferState::kComplete);
  cancelLoad();
  if (!error()) {
    std::string description = "A connection failure occurred";
    if (streamError.domain == HTTPReadStream::kOSStatusErrorDomain && streamError.code >= -9818 &&
        streamError.code <= -9800)
      description += ": SSL problem (possibily a bad/expired/self-signed certificate)";
    failWithError(
        makeError(kConnectionFailureErrorType, description, std::make_shared<Error>(streamError)));
  }
  Operation::cancel();
}

void HTTPRequest::cancelLoad() {
  std::lock_guard lock(cancelledLock_);
  closeReadStream();
  if (postBodyReadStream_) postBodyReadStream_->close();
  if (rawResponseData_)
    rawResponseData_.reset();
  else
    discardDownloadFile();
  // The body file stays until the request has ended, so that a redirect
  // still sends it (see main()).
  responseHeaders_.reset();
}

}  // namespace glowsnap
