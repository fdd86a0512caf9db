#include "mingle/MGRequest.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "mingle/MGGlobal.h"
#include "mingle/MGSession.h"
#include "mingle/MGXMLHandler.h"
#include "platform/graphics/ImageIO.h"
#include "platform/net/MD5.h"
#include "platform/net/XMLParser.h"

namespace glowsnap {

namespace {

constexpr const char* kCRLF = "\r\n";

bool isSessionlessMethod(const std::string& method) {
  return method == "mingle.auth.getSession" || method == "mingle.auth.createToken";
}

Error clientError(int code, std::string description) {
  Error e;
  e.domain = kMGErrorDomain;
  e.code = code;
  e.description = std::move(description);
  return e;
}

// "key=value&..." for the service's list of arguments, or the value as it
// reads when it has another shape.
std::string describeRequestArgs(const MGValue* args) {
  if (!args) return {};
  const MGList* list = args->list();
  if (!list) return args->string() ? *args->string() : args->description();
  std::string out;
  for (const MGValue& arg : *list) {
    auto key = arg.stringForKey("key");
    if (!key) continue;
    if (!out.empty()) out += '&';
    out += *key + "=" + arg.stringForKey("value").value_or("");
  }
  return out;
}

bool isSuccessStatus(int status) { return status == 0 || (status >= 200 && status < 300); }

}  // namespace

std::shared_ptr<MGRequest> MGRequest::request() { return initWithSession(MGSession::session()); }

std::shared_ptr<MGRequest> MGRequest::requestWithDelegate(MGRequestDelegate* delegate) {
  return requestWithSession(MGSession::session(), delegate);
}

std::shared_ptr<MGRequest> MGRequest::requestWithSession(
    const std::shared_ptr<MGSession>& session) {
  return initWithSession(session);
}

std::shared_ptr<MGRequest> MGRequest::requestWithSession(const std::shared_ptr<MGSession>& session,
                                                         MGRequestDelegate* delegate) {
  auto request = initWithSession(session);
  request->setDelegate(delegate);
  return request;
}

std::shared_ptr<MGRequest> MGRequest::initWithSession(const std::shared_ptr<MGSession>& session) {
  return std::make_shared<MGRequest>(Private{}, session);
}

MGRequest::MGRequest(Private, const std::shared_ptr<MGSession>& session) : _session(session) {}

MGRequest::~MGRequest() {
  if (_connection) _connection->cancel();
}

std::string MGRequest::description() const {
  return "<MGRequest " + (_method ? *_method : _url) + ">";
}

std::optional<MGParams> MGRequest::callParams(const MGSession& session, const std::string& method,
                                              const MGParams& params) {
  MGParams out = params;
  out["method"] = method;
  out["api_key"] = session.apiKey();
  out["v"] = std::string(kAPIVersion);
  out["format"] = std::string(kAPIFormat);
  if (!isSessionlessMethod(method)) {
    // Without a session key the service answers with its own error; a
    // missing value is never sent as if it were one.
    if (session.sessionKey()) out["session_key"] = *session.sessionKey();
    double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    char callId[64];
    std::snprintf(callId, sizeof callId, "%.0f", now);
    out["call_id"] = std::string(callId);
    if (session.sessionSecret()) out["ss"] = std::string("1");
  }
  auto sig = generateSig(&session, method, out);
  if (!sig) return std::nullopt;
  out["sig"] = *sig;
  return out;
}

void MGRequest::call(const std::string& method, const MGParams& params) {
  if (_sent) return;
  _sent = true;
  auto session = _session.lock();
  _method = method;
  _params = params;
  if (!session) {
    failSoon(clientError(kMGNoSessionError, description() + ": there is no Mingle session"));
    return;
  }
  _url = session->apiURL();
  auto signedParams = callParams(*session, method, params);
  if (!signedParams) {
    failSoon(clientError(kMGSigningError, description() + ": the call cannot be signed (no MD5)"));
    return;
  }
  _params = std::move(*signedParams);
  session->send(shared_from_this());
}

void MGRequest::post(const std::string& url, const MGParams& params) {
  if (_sent) return;
  _sent = true;
  _url = url;
  _method.reset();
  _params = params;
  if (auto session = _session.lock())
    session->send(shared_from_this());
  else
    connect();
}

std::optional<std::string> MGRequest::signatureOf(
    const std::vector<std::pair<std::string, std::string>>& textParams, const std::string& secret) {
  std::vector<const std::pair<std::string, std::string>*> sorted;
  sorted.reserve(textParams.size());
  for (const auto& p : textParams) sorted.push_back(&p);
  std::sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) {
    int c = ::strcasecmp(a->first.c_str(), b->first.c_str());
    return c != 0 ? c < 0 : a->first < b->first;
  });
  std::string text;
  for (const auto* p : sorted) text += p->first + "=" + p->second;
  text += secret;
  return md5HexString(text);
}

std::optional<std::string> MGRequest::generateSig() const {
  auto session = _session.lock();
  return generateSig(session.get(), _method, _params);
}

std::optional<std::string> MGRequest::generateSig(const MGSession* session,
                                                  const std::optional<std::string>& method,
                                                  const MGParams& params) {
  std::vector<std::pair<std::string, std::string>> text;
  for (const auto& [name, value] : params)
    if (const auto* s = std::get_if<std::string>(&value)) text.emplace_back(name, *s);
  std::string secret;
  if (session) {
    if (method && isSessionlessMethod(*method))
      secret = session->apiSecret().value_or("");
    else if (session->sessionSecret())
      secret = *session->sessionSecret();
    else
      secret = session->apiSecret().value_or("");
  }
  return signatureOf(text, secret);
}

Result<Bytes> MGRequest::generatePostBody() const { return postBody(_params, description()); }

Result<Bytes> MGRequest::postBody(const MGParams& params, const std::string& what) {
  const std::string boundary = kStringBoundary;
  const std::string delimiter = std::string(kCRLF) + "--" + boundary;
  std::string head = "--" + boundary + kCRLF;
  Bytes body(head.begin(), head.end());
  auto append = [&body](const std::string& text) {
    body.insert(body.end(), text.begin(), text.end());
  };
  for (const auto& [name, value] : params) {
    const auto* text = std::get_if<std::string>(&value);
    if (!text) continue;
    if (name.find_first_of("\"\r\n") != std::string::npos)
      return clientError(kMGInvalidParameterError,
                         what + ": the parameter name \"" + name + "\" cannot be sent");
    // The boundary is fixed; a value holding its delimiter line would be
    // read as a part of its own.
    if (text->find(delimiter) != std::string::npos)
      return clientError(kMGInvalidParameterError,
                         what + ": the value of \"" + name +
                             "\" holds the form's boundary line and cannot be sent");
    append("Content-Disposition: form-data; name=\"" + name + "\"" + kCRLF + kCRLF);
    append(*text);
    append(delimiter + kCRLF);
  }
  for (const auto& [name, value] : params) {
    const auto* image = std::get_if<ImageRef>(&value);
    if (!image) continue;
    if (!*image)
      return clientError(kMGImageEncodingError,
                         what + ": the image of \"" + name + "\" is missing");
    auto jpeg = imageio::encodeJpeg(**image, kJPEGQuality);
    if (!jpeg)
      return clientError(
          kMGImageEncodingError,
          what + ": the image of \"" + name + "\" cannot be encoded: " + jpeg.error().description);
    append(std::string("Content-Disposition: form-data; filename=\"photo\"") + kCRLF);
    append(std::string("Content-Type: image/jpeg") + kCRLF + kCRLF);
    body.insert(body.end(), jpeg->begin(), jpeg->end());
    append(delimiter + kCRLF);
  }
  return body;
}

Result<URLRequest> MGRequest::makeURLRequest() const {
  std::string target = _url;
  if (!_method) {
    std::string query;
    for (const auto& [name, value] : _params) {
      const auto* text = std::get_if<std::string>(&value);
      if (!text) continue;
      if (!query.empty()) query += '&';
      query += MGEscapeQueryComponent(name) + "=" + MGEscapeQueryComponent(*text);
    }
    if (!query.empty()) target += (target.find('?') == std::string::npos ? "?" : "&") + query;
  }
  auto url = URL::parse(target);
  if (!url)
    return clientError(kMGNoSessionError, description() + ": \"" + _url + "\" is not a valid URL");
  if (url->scheme() == "http" && !MGIsLoopbackHost(url->host()))
    return clientError(kMGInsecureTransportError,
                       description() + ": keys and tokens are not sent over plain http to " +
                           url->host() + "; configure an https address for the Mingle service");
  URLRequest request(*url, URLRequest::CachePolicy::ReloadIgnoringLocalCacheData, _timeoutInterval);
  request.setValue(std::string(kUserAgent), "User-Agent");
  if (_method) {
    auto body = generatePostBody();
    if (!body) return body.error();
    request.setHTTPMethod("POST");
    request.setValue("multipart/form-data; boundary=" + std::string(kStringBoundary),
                     "Content-Type");
    request.setHTTPBody(std::move(*body));
  }
  return request;
}

void MGRequest::connect() {
  auto keepAlive = shared_from_this();
  _startTime = std::chrono::steady_clock::now();
  _timestamp = std::chrono::system_clock::now();
  if (_delegate) _delegate->requestLoading(*this);
  auto request = makeURLRequest();
  if (!request) {
    failSoon(request.error());
    return;
  }
  _connection = URLConnection::connectionWithRequest(*request, shared_from_this());
}

// Failures found before anything is sent reach the delegate from the run
// loop, like every other failure, never from inside call().
void MGRequest::failSoon(Error error) {
  _failurePending = true;
  auto self = shared_from_this();
  RunLoop::current().perform(
      [self, error = std::move(error)] {
        if (!self->_failurePending) return;
        self->_failurePending = false;
        self->reportFailure(error);
      },
      RunLoop::kCommonModes);
}

void MGRequest::reportFailure(const Error& error) {
  if (_delegate) _delegate->didFailWithError(*this, error);
}

void MGRequest::cancel() {
  auto keepAlive = shared_from_this();
  bool stopped = false;
  if (_connection) {
    _connection->cancel();
    _connection.reset();
    _responseText.reset();
    stopped = true;
  } else if (_failurePending) {
    _failurePending = false;
    stopped = true;
  } else if (auto session = _session.lock()) {
    stopped = session->dequeueRequest(this);
  }
  if (stopped && _delegate) _delegate->requestWasCancelled(*this);
}

void MGRequest::didReceiveResponse(URLConnection&, const URLResponse& response) {
  _responseText.emplace();
  _statusCode = response.statusCode;
  if (_delegate) _delegate->didReceiveResponse(*this, response);
}

void MGRequest::didReceiveData(URLConnection& connection, const Bytes& data) {
  if (!_responseText) _responseText.emplace();
  if (_responseText->size() + data.size() > kMaxAnswerBytes) {
    auto keepAlive = shared_from_this();
    connection.cancel();
    _responseText.reset();
    _connection.reset();
    reportFailure(
        clientError(kMGAnswerTooLargeError, description() + ": the answer is larger than " +
                                                std::to_string(kMaxAnswerBytes >> 20) + " MiB"));
    return;
  }
  _responseText->insert(_responseText->end(), data.begin(), data.end());
}

void MGRequest::didFailWithError(URLConnection&, const Error& error) {
  _responseText.reset();
  _connection.reset();
  reportFailure(error);
}

void MGRequest::connectionDidFinishLoading(URLConnection&) {
  Bytes data = _responseText ? std::move(*_responseText) : Bytes();
  _responseText.reset();
  _connection.reset();
  auto url = URL::parse(_url);
  auto result = parseXMLResponse(data, url ? url->host() : _url);
  bool restError = !result && result.error().domain != XMLParser::kErrorDomain;
  if (restError) {
    reportFailure(result.error());
  } else if (!isSuccessStatus(_statusCode)) {
    Error e = clientError(kMGHTTPStatusError, description() + ": the server answered HTTP " +
                                                  std::to_string(_statusCode));
    e.userInfo["status"] = std::to_string(_statusCode);
    reportFailure(e);
  } else if (!result) {
    reportFailure(result.error());
  } else if (_delegate) {
    _delegate->didLoad(*this, *result);
  }
}

Result<MGValue> MGRequest::parseXMLResponse(const Bytes& data, const std::string& host) {
  XMLParser parser(data);
  MGXMLHandler handler;
  parser.setDelegate(&handler);
  bool parsed = parser.parse();
  if (handler.parseError()) return *handler.parseError();
  if (!parsed || !handler.rootObject()) {
    if (parser.parserError()) return *parser.parserError();
    Error e;
    e.domain = XMLParser::kErrorDomain;
    e.description = "the answer holds no XML element";
    return e;
  }
  const MGValue& root = *handler.rootObject();
  if (handler.rootName() == "error_response") {
    Error e;
    e.domain = host;
    if (auto code = root.stringForKey("error_code")) {
      errno = 0;
      long value = std::strtol(code->c_str(), nullptr, 10);
      if (errno == 0 && value >= INT_MIN && value <= INT_MAX) e.code = static_cast<int>(value);
    }
    e.description = root.stringForKey("error_msg").value_or("the service answered with an error");
    e.userInfo["request_args"] = describeRequestArgs(root["request_args"]);
    return e;
  }
  return root;
}

}  // namespace glowsnap
