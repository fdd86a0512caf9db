#include "http/HTTPRequest.h"

#include <sys/utsname.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "http/GzipCodec.h"
#include "http/HTTPInputStream.h"
#include "platform/foundation/Paths.h"
#include "platform/net/HTTPCookieStorage.h"
#include "platform/net/ProxyLookup.h"

namespace glowsnap {

namespace fs = std::filesystem;

namespace {

constexpr unsigned kStreamEvents =
    HTTPReadStream::kOpenCompleted | HTTPReadStream::kHasBytesAvailable |
    HTTPReadStream::kErrorOccurred | HTTPReadStream::kEndEncountered;  // 27

// Class-wide state, created once and kept for the life of the process.
struct ClassState {
  std::recursive_mutex progressLock;
  std::mutex bandwidthThrottlingLock;
  std::mutex sessionCookiesLock;
  std::vector<std::uint32_t> bandwidthUsageTracker;
  std::uint32_t bandwidthUsedInLastSecond = 0;
  std::optional<std::vector<HTTPCookie>> sessionCookies;
  std::mutex applicationInfoLock;
  std::map<std::string, std::string> applicationInfo;
  std::atomic<std::uint64_t> maxUncompressedLength{256ull << 20};
  ClassState() { bandwidthUsageTracker.reserve(5); }
};

ClassState& classState() {
  static ClassState* state = new ClassState;
  return *state;
}

std::shared_ptr<const Error> posixError(const std::error_code& ec) {
  auto e = std::make_shared<Error>();
  e->domain = HTTPReadStream::kPOSIXErrorDomain;
  e->code = ec.value();
  e->description = ec.message();
  return e;
}

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
// systems (the temporary directory often is).
std::error_code moveFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec == std::errc::cross_device_link) {
    ec.clear();
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::remove(from, ec);
  }
  return ec;
}

std::string localeIdentifier() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (!v || !*v) continue;
    std::string s(v);
    s = s.substr(0, s.find_first_of(".@"));
    if (s == "C" || s == "POSIX" || s.empty()) return "en_US_POSIX";
    return s;
  }
  return "en_US_POSIX";
}

}  // namespace

// --- class-wide --------------------------------------------------------------

std::shared_ptr<const Error> HTTPRequest::makeError(int code, std::string description,
                                                    std::shared_ptr<const Error> underlying) {
  auto e = std::make_shared<Error>();
  e->domain = kNetworkRequestErrorDomain;
  e->code = code;
  e->description = std::move(description);
  e->underlying = std::move(underlying);
  return e;
}

std::shared_ptr<const Error> HTTPRequest::RequestTimedOutError() {
  static const auto e = makeError(kRequestTimedOutErrorType, "The request timed out");
  return e;
}
std::shared_ptr<const Error> HTTPRequest::AuthenticationError() {
  static const auto e = makeError(kAuthenticationErrorType, "Authentication needed");
  return e;
}
std::shared_ptr<const Error> HTTPRequest::RequestCancelledError() {
  static const auto e = makeError(kRequestCancelledErrorType, "The request was cancelled");
  return e;
}
std::shared_ptr<const Error> HTTPRequest::UnableToCreateRequestError() {
  static const auto e =
      makeError(kUnableToCreateRequestErrorType, "Unable to create request (bad url?)");
  return e;
}
std::shared_ptr<const Error> HTTPRequest::TooMuchRedirectionError() {
  static const auto e = makeError(kTooMuchRedirectionErrorType,
                                  "The request failed because it redirected too many times");
  return e;
}

std::recursive_mutex& HTTPRequest::progressLock() { return classState().progressLock; }

void HTTPRequest::setApplicationInfo(std::map<std::string, std::string> info) {
  auto& s = classState();
  std::lock_guard lock(s.applicationInfoLock);
  s.applicationInfo = std::move(info);
}

std::optional<std::string> HTTPRequest::defaultUserAgentString() {
  std::map<std::string, std::string> info;
  {
    auto& s = classState();
    std::lock_guard lock(s.applicationInfoLock);
    info = s.applicationInfo;
  }
  std::string name;
  if (auto it = info.find("CFBundleDisplayName"); it != info.end() && !it->second.empty())
    name = it->second;
  else if (auto it2 = info.find("CFBundleName"); it2 != info.end() && !it2->second.empty())
    name = it2->second;
  if (name.empty()) return std::nullopt;
  std::string version = info.count("CFBundleVersion") ? info["CFBundleVersion"] : "";
  struct utsname u {};
  ::uname(&u);
  return name + " " + version + " (" + u.machine + "; " + u.sysname + " " + u.release + "; " +
         localeIdentifier() + ")";
}

std::string HTTPRequest::mimeTypeForFileAtPath(const std::string&) {
  return "application/octet-stream";
}

std::vector<HTTPCookie> HTTPRequest::sessionCookies() {
  auto& s = classState();
  std::lock_guard lock(s.sessionCookiesLock);
  if (!s.sessionCookies) s.sessionCookies.emplace();
  return *s.sessionCookies;
}

void HTTPRequest::setSessionCookies(std::optional<std::vector<HTTPCookie>> cookies) {
  auto& s = classState();
  std::lock_guard lock(s.sessionCookiesLock);
  if (s.sessionCookies)
    for (const auto& c : *s.sessionCookies) HTTPCookieStorage::sharedStorage().deleteCookie(c);
  s.sessionCookies = std::move(cookies);
}

void HTTPRequest::addSessionCookie(const HTTPCookie& cookie) {
  auto& s = classState();
  std::lock_guard lock(s.sessionCookiesLock);
  if (!s.sessionCookies) s.sessionCookies.emplace();
  auto& list = *s.sessionCookies;
  auto it = std::find_if(list.begin(), list.end(),
                         [&](const HTTPCookie& c) { return c.sameIdentity(cookie); });
  if (it != list.end()) list.erase(it);
  list.push_back(cookie);
}

void HTTPRequest::clearSession() {
  // Session credentials join this when authentication is complete.
  setSessionCookies(std::nullopt);
}

std::optional<Bytes> HTTPRequest::compressData(const Bytes& data) {
  return GzipCodec::compressData(data);
}

std::optional<Bytes> HTTPRequest::uncompressZippedData(const Bytes& data) {
  return GzipCodec::uncompressZippedData(data, maxUncompressedDataLength());
}

int HTTPRequest::compressDataFromFile(const std::string& source, const std::string& destination) {
  return GzipCodec::compressDataFromFile(source, destination);
}

int HTTPRequest::uncompressZippedDataFromFile(const std::string& source,
                                              const std::string& destination) {
  return GzipCodec::uncompressZippedDataFromFile(source, destination);
}

void HTTPRequest::setMaxUncompressedDataLength(std::uint64_t bytes) {
  classState().maxUncompressedLength.store(std::min<std::uint64_t>(bytes, UINT64_MAX - 1));
}

std::uint64_t HTTPRequest::maxUncompressedDataLength() {
  return classState().maxUncompressedLength.load();
}

void HTTPRequest::incrementBandwidthUsedInLastSecond(std::uint32_t bytes) {
  auto& s = classState();
  std::lock_guard lock(s.bandwidthThrottlingLock);
  s.bandwidthUsedInLastSecond += bytes;
}

std::string HTTPRequest::temporaryFilePath() {
  static std::mutex lock;
  static std::mt19937_64 gen{std::random_device{}()};
  std::uint64_t a, b;
  {
    std::lock_guard guard(lock);
    a = gen();
    b = gen();
  }
  char name[40];
  std::snprintf(name, sizeof name, "%016llx%016llx", static_cast<unsigned long long>(a),
                static_cast<unsigned long long>(b));
  auto dir = paths::temporaryDirectory();
  paths::ensureDirectory(dir);
  return (dir / name).string();
}

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

// --- life --------------------------------------------------------------------

std::shared_ptr<HTTPRequest> HTTPRequest::requestWithURL(std::optional<URL> url) {
  return std::shared_ptr<HTTPRequest>(new HTTPRequest(std::move(url)));
}

HTTPRequest::HTTPRequest(std::optional<URL> url) {
  requestMethod_ = "GET";
  shouldRedirect_ = true;
  showAccurateProgress_ = true;
  shouldResetProgressIndicators_ = true;
  allowCompressedResponse_ = true;
  defaultResponseEncoding_ = TextEncoding::kISOLatin1;
  timeOutSeconds_ = 10.0;
  useSessionPersistance_ = true;
  useCookiePersistance_ = true;
  validatesSecureCertificate_ = true;
  requestCookies_.clear();
  didFinishSelector_ = "requestFinished:";
  didFailSelector_ = "requestFailed:";
  url_ = std::move(url);
}

HTTPRequest::~HTTPRequest() {
  cancelLoad();
  // A body file of the request's own never outlives it, even when the
  // request was never started.
  removeBodyFilesQuietly();
}

// --- configuration -----------------------------------------------------------

void HTTPRequest::addRequestHeader(const std::string& name, const std::string& value) {
  if (!requestHeaders_) requestHeaders_.emplace();
  (*requestHeaders_)[name] = value;
}

void HTTPRequest::setupPostBody() {
  if (shouldStreamPostDataFromDisk_) {
    if (!postBodyFilePath_) {
      postBodyFilePath_ = temporaryFilePath();
      didCreateTemporaryPostDataFile_ = true;
    }
    if (!postBodyWriteStream_) {
      postBodyWriteStream_ = std::make_unique<FileOutputStream>(*postBodyFilePath_, false);
      if (!postBodyWriteStream_->open())
        failWithError(makeError(kFileManagementError,
                                "Unable to write to file at '" + *postBodyFilePath_ + "'"));
    }
  } else if (!postBody_) {
    postBody_.emplace();
  }
}

void HTTPRequest::appendPostData(const Bytes& data) {
  setupPostBody();
  if (data.empty()) return;
  if (shouldStreamPostDataFromDisk_) {
    if (!postBodyWriteStream_->write(data.data(), data.size()))
      failWithError(makeError(kFileManagementError,
                              "Unable to write to file at '" + *postBodyFilePath_ + "'"));
  } else {
    postBody_->insert(postBody_->end(), data.begin(), data.end());
  }
}

void HTTPRequest::appendPostDataFromFile(const std::string& path) {
  setupPostBody();
  if (shouldStreamPostDataFromDisk_ && postBodyWriteStream_ && postBodyWriteStream_->isOpen()) {
    // File to file: 262144 bytes at a time, without passing through memory.
    if (!postBodyWriteStream_->appendContentsOfFile(path, 262144))
      failWithError(makeError(kFileManagementError, "Unable to read file at '" + path +
                                                        "': " + postBodyWriteStream_->lastError()));
    return;
  }
  auto input = InputStream::withFileAtPath(path);
  if (!input->open()) {
    // Sending the body without the file's bytes would look like success.
    failWithError(makeError(kFileManagementError, "Unable to read file at '" + path + "'"));
    return;
  }
  std::vector<std::uint8_t> buffer(262144);
  while (input->hasBytesAvailable()) {
    std::int64_t n = input->read(buffer.data(), buffer.size());
    if (n < 0) {
      failWithError(makeError(kFileManagementError, "Unable to read file at '" + path + "'"));
      break;
    }
    if (n == 0) break;
    if (shouldStreamPostDataFromDisk_) {
      if (!postBodyWriteStream_->write(buffer.data(), static_cast<std::size_t>(n))) {
        failWithError(makeError(kFileManagementError,
                                "Unable to write to file at '" + *postBodyFilePath_ + "'"));
        break;
      }
    } else {
      postBody_->insert(postBody_->end(), buffer.begin(), buffer.begin() + n);
    }
  }
  input->close();
}

void HTTPRequest::buildPostBody() {
  if (postBodyFilePath_) {
    if (postBodyWriteStream_) postBodyWriteStream_->close();
    postBodyWriteStream_.reset();
    std::string sent = *postBodyFilePath_;
    if (shouldCompressRequestBody_) {
      compressedPostBodyFilePath_ = temporaryFilePath();
      if (compressDataFromFile(*postBodyFilePath_, *compressedPostBodyFilePath_) != 0)
        failWithError(makeError(kFileManagementError,
                                "Unable to compress file at '" + *postBodyFilePath_ + "'"));
      sent = *compressedPostBodyFilePath_;
    }
    std::error_code ec;
    auto size = fs::file_size(sent, ec);
    postLength_ = ec ? 0 : size;
  } else if (shouldCompressRequestBody_) {
    if (postBody_) compressedPostBody_ = compressData(*postBody_);
    postLength_ = compressedPostBody_ ? compressedPostBody_->size() : 0;
  } else {
    postLength_ = postBody_ ? postBody_->size() : 0;
  }
  if (postLength_ > 0) {
    if (requestMethod_ != "POST" && requestMethod_ != "PUT") requestMethod_ = "POST";
    addRequestHeader("Content-Length", std::to_string(postLength_));
  }
  haveBuiltPostBody_ = true;
}

void HTTPRequest::setUploadProgressDelegate(ProgressIndicator* p) {
  uploadProgressDelegate_ = p;
  if (p && p->respondsToSelector("setMaxValue:")) p->setMaxValue(1.0);
}

void HTTPRequest::setDownloadProgressDelegate(ProgressIndicator* p) {
  downloadProgressDelegate_ = p;
  if (p && p->respondsToSelector("setMaxValue:")) p->setMaxValue(1.0);
}

// --- results -----------------------------------------------------------------

std::shared_ptr<const Error> HTTPRequest::error() const {
  std::lock_guard lock(failureMutex_);
  return error_;
}

void HTTPRequest::setError(std::shared_ptr<const Error> e) {
  std::lock_guard lock(failureMutex_);
  error_ = std::move(e);
}

bool HTTPRequest::isResponseCompressed() const {
  if (!responseHeaders_) return false;
  auto it = responseHeaders_->find("Content-Encoding");
  return it != responseHeaders_->end() && it->second.find("gzip") != std::string::npos;
}

std::optional<Bytes> HTTPRequest::responseData() const {
  if (!rawResponseData_) return std::nullopt;
  if (isResponseCompressed()) return uncompressZippedData(*rawResponseData_);
  return rawResponseData_;
}

std::optional<std::string> HTTPRequest::responseString() const {
  auto data = responseData();
  if (!data) return std::nullopt;
  return TextEncoding::decode(*data, responseEncoding_);
}

// --- delivery ----------------------------------------------------------------

void HTTPRequest::deliverToMainThread(std::function<void(HTTPRequest&)> fn) {
  if (isMainThread()) {
    fn(*this);
    return;
  }
  auto self = weak_from_this().lock();
  if (!self) {
    // Not shared: the request may be gone by the time the main thread gets
    // to it, so this thread waits.
    performOnMainThread([this, fn] { fn(*this); }, true);
    return;
  }
  performOnMainThread([self, fn] { fn(*self); }, false);
}

void HTTPRequest::failWithError(std::shared_ptr<const Error> theError) {
  complete_ = true;
  std::shared_ptr<HTTPRequest> main;
  {
    std::lock_guard lock(failureMutex_);
    if (isCancelled() || error_) return;
    if (mainRequest_) {
      if (mainRequest_->error()) return;
      main = mainRequest_;
    } else {
      error_ = theError;
    }
  }
  if (main) {
    main->setError(theError);
    deliverToMainThread([main](HTTPRequest& r) {
      if (r.queue_ && r.queue_->respondsToSelector("requestDidFail:"))
        r.queue_->requestDidFail(*main);
    });
    return;
  }
  deliverToMainThread([](HTTPRequest& r) {
    if (r.queue_ && r.queue_->respondsToSelector("requestDidFail:")) r.queue_->requestDidFail(r);
    if (r.didFailSelector_ && r.delegate_ && r.delegate_->respondsToSelector(*r.didFailSelector_))
      r.delegate_->performSelector(*r.didFailSelector_, r);
  });
}

void HTTPRequest::requestFinished() {
  if (error() || mainRequest_) return;
  deliverToMainThread([](HTTPRequest& r) {
    if (r.queue_ && r.queue_->respondsToSelector("requestDidFinish:"))
      r.queue_->requestDidFinish(r);
    if (r.didFinishSelector_ && r.delegate_ &&
        r.delegate_->respondsToSelector(*r.didFinishSelector_))
      r.delegate_->performSelector(*r.didFinishSelector_, r);
  });
}

// --- running -----------------------------------------------------------------

bool HTTPRequest::onOwnerThread() const { return ownerThread_ == std::this_thread::get_id(); }

void HTTPRequest::cancel() {
  if (complete_ || isCancelled()) return;
  failWithError(RequestCancelledError());
  Operation::cancel();
  {
    std::lock_guard lock(ownerMutex_);
    if (ownerLoop_ && !onOwnerThread()) {
      // The stream belongs to the request's thread: an empty piece of work
      // ends its loop's wait, and the loop sees the cancellation and tears
      // the attempt down itself.
      ownerLoop_->perform([] {}, kHTTPRequestRunMode);
      complete_ = true;
      return;
    }
  }
  cancelLoad();
  complete_ = true;
}

void HTTPRequest::main() {
  complete_ = false;
  if (error()) {
    // Already failed before it started (a missing file part): nothing to send.
    complete_ = true;
    removeBodyFilesQuietly();
    return;
  }
  if (!url_) {
    failWithError(UnableToCreateRequestError());
    return;
  }
  if (!haveBuiltPostBody_) buildPostBody();
  if (error()) {
    complete_ = true;
    removeBodyFilesQuietly();
    return;
  }
  auto message = HTTPMessage::createRequest(
      requestMethod_, *url_, useHTTPVersionOne_ ? HTTPVersion::V1_0 : HTTPVersion::V1_1);
  if (!message) {
    // Also where a redirect to anything but http or https ends.
    failWithError(UnableToCreateRequestError());
    removeBodyFilesQuietly();
    return;
  }

  if (useCookiePersistance_) {
    auto stored = HTTPCookieStorage::sharedStorage().cookiesForURL(*url_);
    requestCookies_.insert(requestCookies_.end(), stored.begin(), stored.end());
  }
  const auto& cookies = mainRequest_ ? mainRequest_->requestCookies_ : requestCookies_;
  if (!cookies.empty()) {
    std::string header;
    for (const auto& c : cookies) {
      if (!header.empty()) header += "; ";
      header += c.name() + "=" + c.value();
    }
    addRequestHeader("Cookie", header);
    addedCookieHeader_ = true;
  }
  if (!requestHeaders_ || !requestHeaders_->count("User-Agent")) {
    if (auto agent = defaultUserAgentString()) addRequestHeader("User-Agent", *agent);
  }
  if (allowCompressedResponse_) addRequestHeader("Accept-Encoding", "gzip");
  if (shouldCompressRequestBody_) addRequestHeader("Content-Encoding", "gzip");
  if (allowResumeForFileDownloads_ && downloadDestinationPath_ && temporaryFileDownloadPath_) {
    std::error_code ec;
    auto size = fs::file_size(*temporaryFileDownloadPath_, ec);
    if (!ec) {
      partialDownloadSize_ = size;
      addRequestHeader("Range", "bytes=" + std::to_string(size) + "-");
    }
  }
  const auto& headers = mainRequest_ ? mainRequest_->requestHeaders_ : requestHeaders_;
  if (headers) {
    for (const auto& [name, value] : *headers) {
      if (!message->setHeaderFieldValue(name, value)) {
        // CR or LF in a header would let the caller's data split the message.
        auto e = std::make_shared<Error>(*UnableToCreateRequestError());
        e->userInfo["HeaderName"] = name;
        failWithError(e);
        removeBodyFilesQuietly();
        return;
      }
    }
  }
  request_ = std::move(message);
  loadRequest();
  if (complete_) removeBodyFilesQuietly();
}

void HTTPRequest::startRequest() {
  std::shared_ptr<const Error> failure;
  if (isCancelled()) return;
  // Progress reports take the class-wide progressLock, which comes before
  // a request's cancelledLock: they are made before the stream is built.
  complete_ = false;
  totalBytesRead_ = 0;
  lastBytesRead_ = 0;
  if (lastBytesSent_ > 0) removeUploadProgressSoFar();
  lastBytesSent_ = 0;
  if (shouldResetProgressIndicators_) {
    contentLength_ = 0;
    resetDownloadProgress(0);
  }
  {
    std::unique_lock lock(cancelledLock_);
    if (isCancelled()) return;
    responseHeaders_.reset();
    restartDownload_ = false;
    if (!downloadDestinationPath_) rawResponseData_.emplace();

    std::shared_ptr<HTTPReadStream> stream;
    postBodyReadStream_.reset();
    std::error_code ec;
    if (shouldStreamPostDataFromDisk_ && postBodyFilePath_ && fs::exists(*postBodyFilePath_, ec)) {
      std::string path = *postBodyFilePath_;
      if (compressedPostBodyFilePath_ && fs::exists(*compressedPostBodyFilePath_, ec))
        path = *compressedPostBodyFilePath_;
      postBodyReadStream_ = HTTPInputStream::inputStreamWithFileAtPath(path);
      stream = HTTPReadStream::createForStreamedHTTPRequest(*request_, postBodyReadStream_);
    } else if (postBody_) {
      const Bytes& body =
          shouldCompressRequestBody_ && compressedPostBody_ ? *compressedPostBody_ : *postBody_;
      postBodyReadStream_ = HTTPInputStream::inputStreamWithData(body);
      stream = HTTPReadStream::createForStreamedHTTPRequest(*request_, postBodyReadStream_);
    } else {
      stream = HTTPReadStream::createForHTTPRequest(*request_);
    }
    if (!stream) {
      failure = makeError(kInternalErrorWhileBuildingRequestType, "Unable to create read stream");
    } else {
      if (!validatesSecureCertificate_) stream->setValidatesCertificateChain(false);
      if (!proxyHost_ && proxyPort_ == 0) {
        auto proxies = ProxyLookup::proxiesForURL(*url_);
        if (!proxies) {
          failure = makeError(kInternalErrorWhileBuildingRequestType,
                              "Unable to obtain information on proxy servers needed for request");
        } else if (!proxies->empty() && !proxies->front().isDirect()) {
          proxyHost_ = proxies->front().host;
          proxyPort_ = proxies->front().port;
        }
      }
    }
    if (!failure) {
      if (proxyHost_ && proxyPort_ != 0) stream->setHTTPProxy(*proxyHost_, proxyPort_);
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
  {
    std::lock_guard lock(ownerMutex_);
    ownerLoop_ = &loop;
    ownerThread_ = std::this_thread::get_id();
  }
  startRequest();
  // The loop waits for the stream with a bounded wait rather than spinning;
  // this timer makes sure the time-out, progress and bandwidth steps below
  // still run at least every 100 ms while nothing else happens.
  auto tick = loop.addTimer(
      0.1, 0.1, [] {}, kHTTPRequestRunMode);
  bool redirected = false;
  while (!complete_) {
    auto now = Clock::now();
    if (hasTimedOut(now)) {
      failWithError(RequestTimedOutError());
      complete_ = true;
      cancelLoad();
      break;
    }
    if (needsRedirect_) {
      cancelLoad();
      needsRedirect_ = false;
      ++redirectCount_;
      if (redirectCount_ > kMaxRedirects) {
        failWithError(TooMuchRedirectionError());
        complete_ = true;
      } else {
        redirected = true;
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
    loop.runInMode(kHTTPRequestRunMode, 0.1, true);
  }
  loop.removeTimer(tick);
  if (isCancelled()) cancelLoad();
  {
    std::lock_guard lock(ownerMutex_);
    ownerLoop_ = nullptr;
  }
  if (redirected) main();
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
  if (responseStatusCode_ == 407) {
    needsProxyAuthentication_ = true;
    return true;
  }
  if (responseStatusCode_ == 401) return true;

  const auto& headers = *responseHeaders_;
  if (auto it = headers.find("Content-Length"); it != headers.end()) {
    contentLength_ = leadingLength(it->second);
    if (mainRequest_) mainRequest_->contentLength_ = contentLength_;
    if (showAccurateProgress_ && shouldResetProgressIndicators_)
      resetDownloadProgress(contentLength_ + partialDownloadSize_);
  }
  if (partialDownloadSize_ > 0 && responseStatusCode_ != 206) {
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
    url_ = next;
    needsRedirect_ = true;
    requestCookies_.clear();
  }
  return false;
}

void HTTPRequest::forgetBody() {
  // A 303 answer turns the request into a GET: the body, wherever it is,
  // is no longer sent.
  if (didCreateTemporaryPostDataFile_) {
    std::error_code ec;
    if (postBodyFilePath_) fs::remove(*postBodyFilePath_, ec);
    if (compressedPostBodyFilePath_) fs::remove(*compressedPostBodyFilePath_, ec);
  }
  postBodyFilePath_.reset();
  compressedPostBodyFilePath_.reset();
  compressedPostBody_.reset();
  shouldStreamPostDataFromDisk_ = false;
}

void HTTPRequest::attemptToApplyCredentialsAndResume() {
  // Without credentials, a delegate or a queue to ask, a challenge ends the
  // request.
  cancelLoad();
  failWithError(AuthenticationError());
}

void HTTPRequest::handleBytesAvailable() {
  if (!responseHeaders_ && readResponseHeadersReturningAuthenticationFailure()) {
    attemptToApplyCredentialsAndResume();
    return;
  }
  if (needsRedirect_ || !readStream_) return;
  std::size_t size = readSizeForContentLength(contentLength_);
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
  if (downloadDestinationPath_) {
    if (!fileDownloadOutputStream_ && !openDownloadStream()) return;
    if (!fileDownloadOutputStream_->write(buffer, static_cast<std::size_t>(n))) {
      auto e = makeError(kFileManagementError,
                         "Unable to write to file at '" + *temporaryFileDownloadPath_ + "'");
      complete_ = true;
      cancelLoad();
      failWithError(e);
    }
  } else if (rawResponseData_) {
    rawResponseData_->insert(rawResponseData_->end(), buffer, buffer + n);
  }
}

bool HTTPRequest::openDownloadStream() {
  bool append = false;
  if (temporaryFileDownloadPath_)
    append = allowResumeForFileDownloads_ && !restartDownload_;
  else
    temporaryFileDownloadPath_ = temporaryFilePath();
  fileDownloadOutputStream_ =
      std::make_unique<FileOutputStream>(*temporaryFileDownloadPath_, append);
  if (fileDownloadOutputStream_->open()) return true;
  auto e = makeError(kFileManagementError,
                     "Unable to write to file at '" + *temporaryFileDownloadPath_ + "'");
  fileDownloadOutputStream_.reset();
  complete_ = true;
  cancelLoad();
  failWithError(e);
  return false;
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
  if (needsRedirect_) return;
  std::shared_ptr<const Error> fileError;
  {
    std::lock_guard progress(progressLock());
    complete_ = true;
    // The last sample of the loop may predate the body's last bytes.
    if (readStream_) totalBytesSent_ = readStream_->requestBytesWrittenCount();
    updateProgressIndicators();
    std::lock_guard lock(cancelledLock_);
    closeReadStream();
    if (postBodyReadStream_) postBodyReadStream_->close();
    if (didCreateTemporaryPostDataFile_) fileError = removePostDataFile();
    if (downloadDestinationPath_) {
      // An empty body still replaces the destination with an empty file.
      if (!fileDownloadOutputStream_ && !temporaryFileDownloadPath_) openDownloadStream();
      if (temporaryFileDownloadPath_) {
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

std::shared_ptr<const Error> HTTPRequest::finishDownloadFile() {
  if (fileDownloadOutputStream_) fileDownloadOutputStream_->close();
  fileDownloadOutputStream_.reset();
  const std::string temp = *temporaryFileDownloadPath_;
  const std::string dest = *downloadDestinationPath_;
  if (!fs::exists(temp)) {
    // Resumed with nothing more to fetch and nothing kept: make it empty.
    FileOutputStream empty(temp, true);
    empty.open();
  }
  if (isResponseCompressed()) {
    // Decoded next to the destination and renamed, so a corrupt body never
    // leaves a half-written destination behind.
    std::string part = (fs::path(dest).parent_path() /
                        (fs::path(dest).filename().string() + "." +
                         fs::path(temporaryFilePath()).filename().string() + ".part"))
                           .string();
    int status = uncompressZippedDataFromFile(temp, part);
    std::shared_ptr<const Error> e;
    std::error_code ec;
    if (status != 0) {
      fs::remove(part, ec);
      e = makeError(kFileManagementError, "Decompression of " + temp + " failed with code " +
                                              std::to_string(static_cast<short>(status)));
    } else if ((ec = moveFile(part, dest))) {
      fs::remove(part, ec);
      e = makeError(kFileManagementError,
                    "Failed to move file from '" + part + "' to '" + dest + "'", posixError(ec));
    }
    auto removal = removeTemporaryDownloadFile();
    return e ? e : removal;
  }
  std::error_code ec;
  if (fs::exists(dest, ec) || fs::is_symlink(dest, ec)) {
    fs::remove(dest, ec);
    if (ec)
      return makeError(kFileManagementError, "Unable to remove file at path '" + dest + "'",
                       posixError(ec));
  }
  if ((ec = moveFile(temp, dest)))
    return makeError(kFileManagementError,
                     "Failed to move file from '" + temp + "' to '" + dest + "'", posixError(ec));
  temporaryFileDownloadPath_.reset();
  return nullptr;
}

std::shared_ptr<const Error> HTTPRequest::removeTemporaryDownloadFile() {
  std::shared_ptr<const Error> e;
  if (temporaryFileDownloadPath_) {
    std::error_code ec;
    fs::remove(*temporaryFileDownloadPath_, ec);
    if (ec)
      e = makeError(kFileManagementError,
                    "Failed to delete file at " + *temporaryFileDownloadPath_ +
                        " with error: " + ec.message(),
                    posixError(ec));
    temporaryFileDownloadPath_.reset();
  }
  return e;
}

std::shared_ptr<const Error> HTTPRequest::removePostDataFile() {
  std::shared_ptr<const Error> first;
  for (auto* path : {&postBodyFilePath_, &compressedPostBodyFilePath_}) {
    if (!*path) continue;
    std::error_code ec;
    fs::remove(**path, ec);
    if (ec && !first)
      first = makeError(kFileManagementError,
                        "Failed to delete file at " + **path + " with error: " + ec.message(),
                        posixError(ec));
    path->reset();
  }
  return first;
}

void HTTPRequest::removeBodyFilesQuietly() {
  if (!didCreateTemporaryPostDataFile_) return;
  if (postBodyWriteStream_) postBodyWriteStream_->close();
  postBodyWriteStream_.reset();
  (void)removePostDataFile();
}

void HTTPRequest::handleStreamError() {
  Error streamError;
  if (readStream_ && readStream_->error()) {
    streamError = *readStream_->error();
  } else {
    streamError.domain = HTTPReadStream::kStreamErrorDomain;
    streamError.description = "The stream failed";
  }
  complete_ = true;
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
  if (rawResponseData_) {
    rawResponseData_.reset();
  } else if (temporaryFileDownloadPath_) {
    if (fileDownloadOutputStream_) fileDownloadOutputStream_->close();
    fileDownloadOutputStream_.reset();
    if (!allowResumeForFileDownloads_) {
      std::error_code ec;
      fs::remove(*temporaryFileDownloadPath_, ec);
    }
  }
  // The body file stays until the request has ended, so that a redirect
  // still sends it (see main()).
  responseHeaders_.reset();
}

// --- progress ----------------------------------------------------------------

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
  if (!showAccurateProgress_ && !(complete_ && !updatedProgress_)) return;
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
