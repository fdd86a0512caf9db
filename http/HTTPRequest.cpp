// The request itself: its class-wide errors and information, its life and
// configuration, how its message is built, its results, and how success and
// failure reach the delegate and the queue.
#include "http/HTTPRequest.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "platform/net/HTTPCookieStorage.h"

namespace glowsnap {

namespace {

// Class-wide state of the request itself, created once and kept for the
// life of the process.
struct ClassState {
  std::mutex sessionCookiesLock;
  std::optional<std::vector<HTTPCookie>> sessionCookies;
  std::mutex applicationInfoLock;
  std::map<std::string, std::string> applicationInfo;
};

ClassState& classState() {
  static ClassState* state = new ClassState;
  return *state;
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

std::shared_ptr<HTTPRequestQueue> HTTPRequest::queue() const {
  std::lock_guard lock(queueMutex_);
  return queue_.lock();
}

void HTTPRequest::setQueue(std::weak_ptr<HTTPRequestQueue> q) {
  std::lock_guard lock(queueMutex_);
  queue_ = std::move(q);
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
  transition(TransferState::kComplete);
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
      if (auto q = r.queue(); q && q->respondsToSelector("requestDidFail:"))
        q->requestDidFail(*main);
    });
    return;
  }
  deliverToMainThread([](HTTPRequest& r) {
    if (auto q = r.queue(); q && q->respondsToSelector("requestDidFail:")) q->requestDidFail(r);
    if (r.didFailSelector_ && r.delegate_ && r.delegate_->respondsToSelector(*r.didFailSelector_))
      r.delegate_->performSelector(*r.didFailSelector_, r);
  });
}

void HTTPRequest::requestFinished() {
  if (error() || mainRequest_) return;
  deliverToMainThread([](HTTPRequest& r) {
    if (auto q = r.queue(); q && q->respondsToSelector("requestDidFinish:"))
      q->requestDidFinish(r);
    if (r.didFinishSelector_ && r.delegate_ &&
        r.delegate_->respondsToSelector(*r.didFinishSelector_))
      r.delegate_->performSelector(*r.didFinishSelector_, r);
  });
}
// --- running -----------------------------------------------------------------

bool HTTPRequest::onOwnerThread() const { return ownerThread_ == std::this_thread::get_id(); }

void HTTPRequest::cancel() {
  if (complete() || isCancelled()) return;
  failWithError(RequestCancelledError());
  Operation::cancel();
  // A loop waiting for the next second of bandwidth stops waiting.
  wakeBandwidthWaiters();
  {
    std::lock_guard lock(ownerMutex_);
    if (ownerLoop_ && !onOwnerThread()) {
      // The stream belongs to the request's thread: an empty piece of work
      // ends its loop's wait, and the loop sees the cancellation and tears
      // the attempt down itself.
      ownerLoop_->perform([] {}, kHTTPRequestRunMode);
      transition(TransferState::kComplete);
      return;
    }
  }
  cancelLoad();
  transition(TransferState::kComplete);
}

void HTTPRequest::main() {
  transition(TransferState::kIdle);
  if (error()) {
    // Already failed before it started (a missing file part): nothing to send.
    transition(TransferState::kComplete);
    removeBodyFilesQuietly();
    return;
  }
  if (!url_) {
    failWithError(UnableToCreateRequestError());
    return;
  }
  if (!haveBuiltPostBody_) buildPostBody();
  if (!error()) {
    // A directory as the output fails here, before anything is sent.
    if (auto e = checkDownloadOutputs()) failWithError(e);
  }
  if (error()) {
    transition(TransferState::kComplete);
    removeBodyFilesQuietly();
    return;
  }
  {
    std::lock_guard lock(ownerMutex_);
    ownerLoop_ = &RunLoop::current();
    ownerThread_ = std::this_thread::get_id();
  }
  // One message per URL: a redirect ends its attempt in the loop, and the
  // next round builds the message for the new URL and carries on.
  while (buildRequestMessage()) {
    loadRequest();
    if (transferState() != TransferState::kRedirectPending) break;
  }
  {
    std::lock_guard lock(ownerMutex_);
    ownerLoop_ = nullptr;
  }
  if (complete()) removeBodyFilesQuietly();
}

bool HTTPRequest::buildRequestMessage() {
  if (!url_) {
    // A redirect to something that is not a URL.
    failWithError(UnableToCreateRequestError());
    return false;
  }
  auto message = HTTPMessage::createRequest(
      requestMethod_, *url_, useHTTPVersionOne_ ? HTTPVersion::V1_0 : HTTPVersion::V1_1);
  if (!message) {
    // Also where a redirect to anything but http or https ends.
    failWithError(UnableToCreateRequestError());
    removeBodyFilesQuietly();
    return false;
  }
  if (useSessionPersistance_) applySessionCredentials(*message);

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
    auto size = std::filesystem::file_size(*temporaryFileDownloadPath_, ec);
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
        return false;
      }
    }
  }
  request_ = std::move(message);
  return true;
}

}  // namespace glowsnap
