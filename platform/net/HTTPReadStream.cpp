#include "platform/net/HTTPReadStream.h"

#include "platform/net/HTTPAuthentication.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace glowsnap {

namespace {

constexpr std::size_t kResumeBelow = HTTPReadStream::kBufferLimit / 2;

void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CURL* easyOf(void* p) { return static_cast<CURL*>(p); }
CURLM* multiOf(void* p) { return static_cast<CURLM*>(p); }

// OS-status codes of the secure transport, so that the client's SSL wording
// (codes -9818 to -9800) applies to every TLS failure.
constexpr int kSSLProtocol = -9800;
constexpr int kSSLXCertChainInvalid = -9807;
constexpr int kSSLBadCert = -9808;
constexpr int kSSLInternal = -9810;
constexpr int kSSLModuleAttach = -9811;
constexpr int kSSLUnknownRootCert = -9812;
constexpr int kSSLNoRootCert = -9813;
constexpr int kSSLCertExpired = -9814;
constexpr int kSSLCertNotYetValid = -9815;
constexpr int kSSLClosedNoNotify = -9816;
constexpr int kSSLBadCipherSuite = -9818;

std::optional<int> sslStatusFor(CURLcode code, long verifyResult) {
  switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
      switch (verifyResult) {
        case 9:
          return kSSLCertNotYetValid;  // X509_V_ERR_CERT_NOT_YET_VALID
        case 10:
          return kSSLCertExpired;  // X509_V_ERR_CERT_HAS_EXPIRED
        case 18:                   // X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT
        case 19:
          return kSSLNoRootCert;  // X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN
        case 2:                   // X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT
        case 20:                  // ..._UNABLE_TO_GET_ISSUER_CERT_LOCALLY
        case 21:
          return kSSLUnknownRootCert;  // ..._UNABLE_TO_VERIFY_LEAF_SIGNATURE
        default:
          return kSSLXCertChainInvalid;
      }
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_USE_SSL_FAILED:
      return kSSLProtocol;
    case CURLE_SSL_CIPHER:
      return kSSLBadCipherSuite;
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CLIENTCERT:
      return kSSLBadCert;
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
      return kSSLInternal;
    case CURLE_SSL_ISSUER_ERROR:
      return kSSLUnknownRootCert;
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return kSSLXCertChainInvalid;
    case CURLE_SSL_SHUTDOWN_FAILED:
      return kSSLClosedNoNotify;
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
      return kSSLModuleAttach;
    default:
      return std::nullopt;
  }
}

std::optional<std::int64_t> parseLength(const std::optional<std::string>& text) {
  if (!text || text->empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char c : *text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (value > (INT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return std::string(s);
}

}  // namespace

HTTPReadStream::HTTPReadStream(HTTPMessage request, std::shared_ptr<InputStream> body)
    : request_(std::move(request)),
      body_(std::move(body)),
      response_(HTTPMessage::createEmptyResponse()) {}

std::shared_ptr<HTTPReadStream> HTTPReadStream::createForHTTPRequest(const HTTPMessage& request) {
  if (!request.isRequest() || !request.requestURL()) return nullptr;
  return std::shared_ptr<HTTPReadStream>(new HTTPReadStream(request, nullptr));
}

std::shared_ptr<HTTPReadStream> HTTPReadStream::createForStreamedHTTPRequest(
    const HTTPMessage& request, std::shared_ptr<InputStream> body) {
  if (!request.isRequest() || !request.requestURL() || !body) return nullptr;
  auto stream = std::shared_ptr<HTTPReadStream>(new HTTPReadStream(request, std::move(body)));
  stream->bodyLength_ = parseLength(request.headerFieldValue("Content-Length"));
  if (!stream->bodyLength_) {
    if (auto length = stream->body_->length())
      stream->bodyLength_ = static_cast<std::int64_t>(*length);
  }
  return stream;
}

HTTPReadStream::~HTTPReadStream() { close(); }

void HTTPReadStream::setValidatesCertificateChain(bool validates) { validates_ = validates; }

void HTTPReadStream::setHTTPProxy(const std::string& host, int port) {
  proxyHost_ = host;
  proxyPort_ = port;
}

bool HTTPReadStream::setClient(unsigned events, ClientCallBack callback, void* info) {
  if (state_ == State::kClosed && callback) return false;
  client_ = callback;
  clientEvents_ = callback ? events : 0;
  clientInfo_ = callback ? info : nullptr;
  return true;
}

void HTTPReadStream::scheduleWithRunLoop(RunLoop& loop, const std::string& mode) {
  if (loop_) removeLoopSources();
  loop_ = &loop;
  mode_ = mode;
}

void HTTPReadStream::unscheduleFromRunLoop(RunLoop& loop, const std::string& mode) {
  if (loop_ != &loop || mode_ != mode) return;
  removeLoopSources();
  loop_ = nullptr;
}

void HTTPReadStream::removeLoopSources() {
  if (!loop_) return;
  for (auto& [socket, handle] : sockets_) loop_->removeFdSource(handle);
  sockets_.clear();
  if (timer_) loop_->removeTimer(*timer_);
  timer_.reset();
  if (resumeTimer_) loop_->removeTimer(*resumeTimer_);
  resumeTimer_.reset();
}

bool HTTPReadStream::open() {
  if (state_ != State::kCreated) return false;
  initialiseCurlOnce();
  if (!loop_) scheduleWithRunLoop(RunLoop::current(), RunLoop::kDefaultMode);
  if (body_ && !body_->open()) return false;
  easy_ = curl_easy_init();
  multi_ = curl_multi_init();
  if (!easy_ || !multi_ || !configure()) return false;
  CURLM* multi = multiOf(multi_);
  curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &HTTPReadStream::socketCallback);
  curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
  curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &HTTPReadStream::timerCallback);
  curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
  if (curl_multi_add_handle(multi, easyOf(easy_)) != CURLM_OK) return false;
  transition(State::kOpening);
  scheduleDelivery();
  return true;
}

bool HTTPReadStream::configure() {
  CURL* easy = easyOf(easy_);
  const URL& url = *request_.requestURL();
  auto ok = [](CURLcode c) { return c == CURLE_OK; };
  bool good = true;
  // No user information (libcurl would answer with it unasked; the client
  // applies credentials itself) and no fragment.
  good &= ok(curl_easy_setopt(easy, CURLOPT_URL, url.wireString().c_str()));
  good &= ok(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https"));
  good &= ok(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L));
  good &= ok(curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer_));
  good &= ok(curl_easy_setopt(
      easy, CURLOPT_HTTP_VERSION,
      request_.version() == HTTPVersion::V1_0 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1));
  // The client decodes, redirects, authenticates and keeps cookies itself.
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  // The tunnel's answer is read too, so that a proxy's challenge to the
  // CONNECT reaches the client (see headerCallback).
  tunnelling_ = !proxyHost_.empty() && url.scheme() == "https";
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, static_cast<long>(kReceiveChunk));
  curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, 262144L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, validates_ ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, validates_ ? 2L : 0L);
  std::string proxy;
  if (!proxyHost_.empty())
    proxy = "http://" + proxyHost_ + ":" + std::to_string(proxyPort_ > 0 ? proxyPort_ : 80);
  // An empty proxy keeps libcurl from reading the environment on its own.
  curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());

  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HTTPReadStream::headerCallback);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HTTPReadStream::writeCallback);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);

  curl_slist* list = nullptr;
  curl_slist* proxyList = nullptr;
  bool hasContentType = false;
  for (const auto& [name, value] : request_.headerFieldList()) {
    if (::strcasecmp(name.c_str(), "Content-Type") == 0) hasContentType = true;
    // "Name;" is libcurl's way of sending a field with an empty value.
    std::string line = value.empty() ? name + ";" : name + ": " + value;
    // The proxy's answer goes to the proxy alone (the tunnel's CONNECT
    // included), never through a tunnel to the server.
    if (::strcasecmp(name.c_str(), "Proxy-Authorization") == 0)
      proxyList = curl_slist_append(proxyList, line.c_str());
    else
      list = curl_slist_append(list, line.c_str());
  }
  proxyHeaderList_ = proxyList;
  curl_easy_setopt(easy, CURLOPT_HEADEROPT, CURLHEADER_SEPARATE);
  if (proxyList) curl_easy_setopt(easy, CURLOPT_PROXYHEADER, proxyList);
  configureEngineAuthentication();
  // Nothing but what the message holds: no "Expect: 100-continue" pause.
  list = curl_slist_append(list, "Expect:");
  const std::string& method = request_.requestMethod();
  bool sendsBody = body_ && (!bodyLength_ || *bodyLength_ > 0);
  if (sendsBody && !hasContentType) list = curl_slist_append(list, "Content-Type:");
  headerList_ = list;
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);

  if (sendsBody) {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, &HTTPReadStream::readCallback);
    curl_easy_setopt(easy, CURLOPT_READDATA, this);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(bodyLength_ ? *bodyLength_ : -1));
    if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else if (method == "GET") {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  } else if (method == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  }
  return good;
}

void HTTPReadStream::configureEngineAuthentication() {
  CURL* easy = easyOf(easy_);
  for (bool proxy : {false, true}) {
    const auto& e = request_.engineAuthentication(proxy);
    if (!e || e->scheme != HTTPAuthentication::kNTLM) continue;
    std::string user = e->domain.empty() ? e->user : e->domain + "\\" + e->user;
    if (proxy) {
      curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_NTLM);
      curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, user.c_str());
      curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, e->password.c_str());
    } else {
      curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_NTLM);
      curl_easy_setopt(easy, CURLOPT_USERNAME, user.c_str());
      curl_easy_setopt(easy, CURLOPT_PASSWORD, e->password.c_str());
    }
  }
}

bool HTTPReadStream::engineContinues(const HTTPMessage& head) const {
  int status = head.responseStatusCode();
  bool proxy = status == 407;
  if ((status != 401 && !proxy) || !request_.engineAuthentication(proxy)) return false;
  // NTLM's second message (a challenge with a token) is answered on the
  // same connection by the engine; a bare "NTLM" is the final refusal.
  for (const auto& c : parseAuthenticationChallenges(
           head.headerFieldValues(proxy ? "Proxy-Authenticate" : "WWW-Authenticate")))
    if (::strcasecmp(c.scheme.c_str(), HTTPAuthentication::kNTLM) == 0 && c.token68) return true;
  return false;
}

std::int64_t HTTPReadStream::read(std::uint8_t* buffer, std::size_t maxLength) {
  // Bytes that arrived before a failure are still read; the failure comes
  // after them.
  if (error_ && buffered() == 0) return -1;
  if (state_ == State::kCreated || state_ == State::kClosed) return -1;
  std::size_t n = std::min(maxLength, buffered());
  if (n) std::memcpy(buffer, buffer_.data() + head_, n);
  head_ += n;
  if (head_ == buffer_.size()) {
    buffer_.clear();
    head_ = 0;
  } else if (head_ > kBufferLimit) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
  awaitingRead_ = false;
  if (paused_ && buffered() < kResumeBelow && outcome_ == Outcome::kPending) {
    paused_ = false;
    // May hand over the held data at once, through writeCallback.
    applyPause();
  }
  if (buffered() > 0 || outcome_ != Outcome::kPending) scheduleDelivery();
  return static_cast<std::int64_t>(n);
}

void HTTPReadStream::close() {
  if (!transition(State::kClosed)) return;
  removeLoopSources();
  if (multi_ && easy_) curl_multi_remove_handle(multiOf(multi_), easyOf(easy_));
  if (easy_) curl_easy_cleanup(easyOf(easy_));
  if (multi_) curl_multi_cleanup(multiOf(multi_));
  easy_ = nullptr;
  multi_ = nullptr;
  if (headerList_) curl_slist_free_all(static_cast<curl_slist*>(headerList_));
  headerList_ = nullptr;
  if (proxyHeaderList_) curl_slist_free_all(static_cast<curl_slist*>(proxyHeaderList_));
  proxyHeaderList_ = nullptr;
  if (body_) body_->close();
  client_ = nullptr;
  buffer_.clear();
  buffer_.shrink_to_fit();
  head_ = 0;
}

std::size_t HTTPReadStream::headerCallback(char* data, std::size_t size, std::size_t count,
                                           void* self) {
  auto* s = static_cast<HTTPReadStream*>(self);
  std::size_t total = size * count;
  std::string_view line(data, total);
  HTTPMessage& r = s->response_;
  if (line.rfind("HTTP/", 0) == 0) {
    // A new head: an interim (1xx) answer is replaced by the final one.
    r.resetResponse();
    std::string status = trim(line);
    r.setResponseStatusLine(status);
    auto space = status.find(' ');
    if (space != std::string::npos) r.setResponseStatusCode(std::atoi(status.c_str() + space + 1));
    return total;
  }
  std::string text = trim(line);
  if (text.empty()) {
    int status = r.responseStatusCode();
    if (status < 200 || s->engineContinues(r)) return total;
    if (s->tunnelling_) {
      // The proxy's answer to CONNECT: a 2xx opens the tunnel and the
      // server's head follows; anything else is the answer the client gets.
      if (status < 300) {
        s->tunnelling_ = false;
        r.resetResponse();
        return total;
      }
      s->tunnelRefused_ = true;
    }
    r.setHeaderComplete(true);
    return total;
  }
  if (line[0] == ' ' || line[0] == '\t') {
    // An obsolete folded line continues the previous field; fold it back.
    r.continueLastReceivedField(text);
    return total;
  }
  auto colon = text.find(':');
  if (colon == std::string::npos) return total;
  r.addReceivedHeaderField(trim(std::string_view(text).substr(0, colon)),
                           trim(std::string_view(text).substr(colon + 1)));
  return total;
}

std::size_t HTTPReadStream::writeCallback(char* data, std::size_t size, std::size_t count,
                                          void* self) {
  auto* s = static_cast<HTTPReadStream*>(self);
  std::size_t total = size * count;
  // The body of an answer the engine has answered itself (or of a head not
  // yet complete) is not the response's.
  if (!s->response_.isHeaderComplete()) return total;
  if (s->buffered() >= kBufferLimit) {
    s->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  s->buffer_.insert(s->buffer_.end(), data, data + total);
  return total;
}

std::size_t HTTPReadStream::readCallback(char* data, std::size_t size, std::size_t count,
                                         void* self) {
  auto* s = static_cast<HTTPReadStream*>(self);
  if (!s->body_) return 0;
  std::int64_t n = s->body_->read(reinterpret_cast<std::uint8_t*>(data), size * count);
  if (n == InputStream::kWouldBlock) {
    // Nothing may be sent yet: the upload pauses and a timer resumes it.
    // (A read of 0 would tell libcurl the body is over.)
    s->pauseBody(s->body_->secondsUntilReadable());
    return CURL_READFUNC_PAUSE;
  }
  if (n < 0) {
    s->bodyFailed_ = true;
    return CURL_READFUNC_ABORT;
  }
  s->bytesWritten_ += static_cast<std::uint64_t>(n);
  return static_cast<std::size_t>(n);
}

void HTTPReadStream::applyPause() {
  if (!easy_) return;
  int bits = (paused_ ? CURLPAUSE_RECV : 0) | (bodyPaused_ ? CURLPAUSE_SEND : 0);
  curl_easy_pause(easyOf(easy_), bits);
}

void HTTPReadStream::pauseBody(double seconds) {
  bodyPaused_ = true;
  if (!loop_ || resumeTimer_) return;
  // At least a few milliseconds, so that a body that is never readable
  // does not turn the loop into a busy one.
  double delay = seconds > 0.005 ? seconds : 0.005;
  std::weak_ptr<HTTPReadStream> weak = weak_from_this();
  resumeTimer_ = loop_->addTimer(
      delay, 0,
      [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->resumeTimer_.reset();
        if (!self->bodyPaused_ || self->state_ == State::kClosed) return;
        self->bodyPaused_ = false;
        // libcurl asks for the body again at once (and pauses again when
        // the body is still held back).
        self->applyPause();
        self->socketAction(CURL_SOCKET_TIMEOUT, 0);
      },
      mode_);
}

int HTTPReadStream::socketCallback(void*, int socket, int what, void* self, void*) {
  static_cast<HTTPReadStream*>(self)->watchSocket(socket, what);
  return 0;
}

void HTTPReadStream::watchSocket(int socket, int what) {
  if (!loop_) return;
  auto it = sockets_.find(socket);
  if (it != sockets_.end()) {
    loop_->removeFdSource(it->second);
    sockets_.erase(it);
  }
  if (what == CURL_POLL_REMOVE) return;
  unsigned events = 0;
  if (what & CURL_POLL_IN) events |= RunLoop::Readable;
  if (what & CURL_POLL_OUT) events |= RunLoop::Writable;
  std::weak_ptr<HTTPReadStream> weak = weak_from_this();
  sockets_[socket] = loop_->addFdSource(
      socket, events,
      [weak, socket](unsigned revents) {
        auto self = weak.lock();
        if (!self) return;
        int mask = 0;
        if (revents & RunLoop::Readable) mask |= CURL_CSELECT_IN;
        if (revents & RunLoop::Writable) mask |= CURL_CSELECT_OUT;
        if (revents & RunLoop::Failed) mask |= CURL_CSELECT_ERR;
        self->socketAction(socket, mask);
      },
      mode_);
}

int HTTPReadStream::timerCallback(void*, long timeoutMs, void* self) {
  auto* s = static_cast<HTTPReadStream*>(self);
  if (!s->loop_) return 0;
  if (s->timer_) s->loop_->removeTimer(*s->timer_);
  s->timer_.reset();
  if (timeoutMs < 0) return 0;
  std::weak_ptr<HTTPReadStream> weak = s->weak_from_this();
  s->timer_ = s->loop_->addTimer(
      static_cast<double>(timeoutMs) / 1000.0, 0,
      [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->timer_.reset();
        self->socketAction(CURL_SOCKET_TIMEOUT, 0);
      },
      s->mode_);
  return 0;
}

void HTTPReadStream::socketAction(int socket, int eventMask) {
  if (!multi_ || state_ == State::kClosed) return;
  auto keepAlive = shared_from_this();
  int running = 0;
  curl_multi_socket_action(multiOf(multi_), socket, eventMask, &running);
  collectResults();
  deliverEvents();
}

void HTTPReadStream::collectResults() {
  if (!multi_) return;
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multiOf(multi_), &left)) {
    if (msg->msg != CURLMSG_DONE) continue;
    // A refused tunnel ends libcurl's transfer with an error, but the
    // proxy's answer is complete and is what the client reads.
    if (msg->data.result != CURLE_OK && !(tunnelRefused_ && response_.isHeaderComplete())) {
      error_ = makeError(msg->data.result);
      outcome_ = Outcome::kFailed;
    } else {
      outcome_ = Outcome::kSucceeded;
    }
  }
}

Error HTTPReadStream::makeError(int curlCode) const {
  auto code = static_cast<CURLcode>(curlCode);
  Error e;
  std::string detail = errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(code);
  e.description = detail;
  long verify = 0;
  long osErrno = 0;
  if (easy_) {
    curl_easy_getinfo(easyOf(easy_), CURLINFO_SSL_VERIFYRESULT, &verify);
    curl_easy_getinfo(easyOf(easy_), CURLINFO_OS_ERRNO, &osErrno);
  }
  if (auto status = sslStatusFor(code, verify)) {
    e.domain = kOSStatusErrorDomain;
    e.code = *status;
    return e;
  }
  switch (code) {
    case CURLE_COULDNT_CONNECT:
      e.domain = kPOSIXErrorDomain;
      e.code = osErrno ? static_cast<int>(osErrno) : ECONNREFUSED;
      return e;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      e.domain = kPOSIXErrorDomain;
      e.code = osErrno ? static_cast<int>(osErrno) : ECONNRESET;
      return e;
    default:
      e.domain = kStreamErrorDomain;
      e.code = static_cast<int>(code);
      if (bodyFailed_) e.description = "The request body could not be read";
      return e;
  }
}

const char* HTTPReadStream::stateName(State state) {
  switch (state) {
    case State::kCreated:
      return "Created";
    case State::kOpening:
      return "Opening";
    case State::kOpen:
      return "Open";
    case State::kAtEnd:
      return "AtEnd";
    case State::kFailed:
      return "Failed";
    case State::kClosed:
      return "Closed";
  }
  return "?";
}

bool HTTPReadStream::transition(State next) {
  bool allowed = false;
  switch (next) {
    case State::kCreated:
      break;
    case State::kOpening:
      allowed = state_ == State::kCreated;
      break;
    case State::kOpen:
      allowed = state_ == State::kOpening;
      break;
    case State::kAtEnd:
    case State::kFailed:
      allowed = state_ == State::kOpen;
      break;
    case State::kClosed:
      allowed = state_ != State::kClosed;
      break;
  }
  if (allowed) state_ = next;
  return allowed;
}

void HTTPReadStream::scheduleDelivery() {
  if (deliveryPending_ || !loop_ || state_ == State::kClosed) return;
  deliveryPending_ = true;
  std::weak_ptr<HTTPReadStream> weak = weak_from_this();
  loop_->perform(
      [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->deliveryPending_ = false;
        self->deliverEvents();
      },
      mode_);
}

void HTTPReadStream::deliverEvents() {
  if (delivering_ || state_ == State::kClosed || !client_) return;
  auto keepAlive = shared_from_this();
  delivering_ = true;
  auto signal = [&](unsigned event) {
    if (clientEvents_ & event) client_(*this, event, clientInfo_);
  };
  // One event per call, as a read stream raises them: the next one follows
  // when the loop comes round again (or when the client has read).
  if (state_ == State::kOpening) {
    transition(State::kOpen);
    signal(kOpenCompleted);
    if (state_ != State::kClosed) scheduleDelivery();
  } else if (state_ != State::kOpen) {
    // Nothing follows the end or the error.
  } else if (buffered() > 0) {
    // Received bytes go first, also before a failure that followed them.
    if (!awaitingRead_) {
      awaitingRead_ = true;
      signal(kHasBytesAvailable);
    }
  } else if (outcome_ == Outcome::kFailed) {
    transition(State::kFailed);
    signal(kErrorOccurred);
  } else if (outcome_ == Outcome::kSucceeded && buffered() == 0) {
    transition(State::kAtEnd);
    signal(kEndEncountered);
  }
  delivering_ = false;
}

}  // namespace glowsnap
