// URLRequest: what a URLConnection loads: a URL, a method, header fields,
// a body, a time-out and a cache policy.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/net/Bytes.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/URL.h"

namespace glowsnap {

class URLRequest {
 public:
  enum class CachePolicy {
    UseProtocolCachePolicy,
    // Never answered from stored data. No answer is ever stored either.
    ReloadIgnoringLocalCacheData,
  };

  static constexpr double kDefaultTimeoutInterval = 60.0;

  explicit URLRequest(URL url, CachePolicy cachePolicy = CachePolicy::UseProtocolCachePolicy,
                      double timeoutInterval = kDefaultTimeoutInterval)
      : url_(std::move(url)), cachePolicy_(cachePolicy), timeoutInterval_(timeoutInterval) {}

  const URL& url() const { return url_; }
  void setURL(URL url) { url_ = std::move(url); }
  CachePolicy cachePolicy() const { return cachePolicy_; }
  void setCachePolicy(CachePolicy policy) { cachePolicy_ = policy; }
  // Seconds without any progress after which the load fails.
  double timeoutInterval() const { return timeoutInterval_; }
  void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }

  const std::string& httpMethod() const { return method_; }
  void setHTTPMethod(std::string method) { method_ = std::move(method); }
  const Bytes& httpBody() const { return body_; }
  void setHTTPBody(Bytes body) { body_ = std::move(body); }
  // Cookies of the shared store go out with the request and cookies the
  // answer sets are kept there (on by default).
  bool httpShouldHandleCookies() const { return handleCookies_; }
  void setHTTPShouldHandleCookies(bool handle) { handleCookies_ = handle; }

  // Sets a header field, replacing one of the same name (any case); an
  // empty optional removes it.
  void setValue(const std::optional<std::string>& value, const std::string& field);
  std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
  const std::vector<std::pair<std::string, std::string>>& allHTTPHeaderFields() const {
    return headers_;
  }

 private:
  URL url_;
  CachePolicy cachePolicy_;
  double timeoutInterval_;
  std::string method_ = "GET";
  Bytes body_;
  bool handleCookies_ = true;
  std::vector<std::pair<std::string, std::string>> headers_;
};

// What a URLConnection tells its delegate about the answer's head.
struct URLResponse {
  explicit URLResponse(URL responseURL) : url(std::move(responseURL)) {}

  URL url;
  int statusCode = 0;
  HTTPHeaderFields allHeaderFields;
  // The "Content-Length", or -1 when the answer has none.
  std::int64_t expectedContentLength = -1;
};

}  // namespace glowsnap
