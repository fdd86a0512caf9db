// HTTPMessage: an HTTP request or response message as the stream layer
// carries it: start line data, header fields in the order they were set or
// received, and whether the head is complete.
//
// Header names compare without regard to case. A field whose name is not a
// token or whose value holds CR, LF or NUL is refused, so nothing set here
// can split a message.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/net/URL.h"

namespace glowsnap {

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

// Header fields keyed without regard to case; repeated fields are joined
// with ", ".
using HTTPHeaderFields = std::map<std::string, std::string, CaseInsensitiveLess>;

enum class HTTPVersion { V1_0, V1_1 };

// Credentials that the engine answers a challenge with by itself, within one
// attempt and on one connection (NTLM's three messages must share one).
struct EngineAuthentication {
  std::string scheme;
  std::string user;
  std::string password;
  std::string domain;
};

class HTTPMessage {
 public:
  // A request message; nothing when the method is not a token or the URL is
  // not http or https.
  static std::optional<HTTPMessage> createRequest(const std::string& method, const URL& url,
                                                  HTTPVersion version);
  // An empty response message; the stream fills it as the head arrives.
  static HTTPMessage createEmptyResponse();

  // Sets (replacing a field of the same name) or, with an empty optional,
  // removes a field. False when the name or value may not be sent.
  bool setHeaderFieldValue(const std::string& name, const std::optional<std::string>& value);
  // Appends a received field as it came (responses keep repeated fields).
  void addReceivedHeaderField(std::string name, std::string value);
  // Appends a continuation line to the last received field.
  void continueLastReceivedField(const std::string& text);
  std::optional<std::string> headerFieldValue(const std::string& name) const;
  // Every value of a repeated field ("Set-Cookie").
  std::vector<std::string> headerFieldValues(const std::string& name) const;
  HTTPHeaderFields allHeaderFields() const;
  const std::vector<std::pair<std::string, std::string>>& headerFieldList() const {
    return fields_;
  }

  bool isRequest() const { return request_; }
  const std::string& requestMethod() const { return method_; }
  const std::optional<URL>& requestURL() const { return url_; }
  HTTPVersion version() const { return version_; }

  bool isHeaderComplete() const { return complete_; }
  void setHeaderComplete(bool complete) { complete_ = complete; }
  int responseStatusCode() const { return status_; }
  void setResponseStatusCode(int status) { status_ = status; }
  const std::string& responseStatusLine() const { return statusLine_; }
  void setResponseStatusLine(std::string line) { statusLine_ = std::move(line); }
  // Drops the fields and status (a new response head begins).
  void resetResponse();

  // What the engine answers the server's (or, with proxy, the proxy's)
  // challenge with on its own; nothing by default.
  void setEngineAuthentication(bool proxy, std::optional<EngineAuthentication> authentication);
  const std::optional<EngineAuthentication>& engineAuthentication(bool proxy) const {
    return proxy ? proxyEngineAuthentication_ : engineAuthentication_;
  }

  static bool isValidHeaderName(const std::string& name);
  static bool isValidHeaderValue(const std::string& value);

 private:
  HTTPMessage() = default;

  bool request_ = false;
  std::string method_;
  std::optional<URL> url_;
  HTTPVersion version_ = HTTPVersion::V1_1;
  std::vector<std::pair<std::string, std::string>> fields_;
  bool complete_ = false;
  int status_ = 0;
  std::string statusLine_;
  std::optional<EngineAuthentication> engineAuthentication_;
  std::optional<EngineAuthentication> proxyEngineAuthentication_;
};

}  // namespace glowsnap
