// HTTPCookie: one cookie as a server set it, parsed and scoped as RFC 6265
// (sections 5.2 and 5.3) says, and the matching rule that decides whether a
// request URL gets it back.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net/URL.h"

namespace glowsnap {

class HTTPCookie {
 public:
  using Clock = std::chrono::system_clock;

  HTTPCookie(std::string name, std::string value, std::string domain, std::string path);

  // The cookie one "Set-Cookie" value sets for a response from url, or
  // nothing when the value must be ignored (no name, a domain the host does
  // not belong to, ...).
  static std::optional<HTTPCookie> parseSetCookie(std::string_view text, const URL& url,
                                                  Clock::time_point now = Clock::now());
  // The cookies of every "Set-Cookie" value, in order.
  static std::vector<HTTPCookie> cookiesWithResponseHeaderFields(
      const std::vector<std::string>& setCookieValues, const URL& url);
  // Parses the date forms cookies use (RFC 6265, section 5.1.1).
  static std::optional<Clock::time_point> parseCookieDate(std::string_view text);

  const std::string& name() const { return name_; }
  const std::string& value() const { return value_; }
  // Lower case, without a leading dot.
  const std::string& domain() const { return domain_; }
  const std::string& path() const { return path_; }
  const std::optional<Clock::time_point>& expiresDate() const { return expires_; }
  bool isSessionOnly() const { return !expires_.has_value(); }
  bool isSecure() const { return secure_; }
  bool isHTTPOnly() const { return httpOnly_; }
  // Sent to the host that set it only, not to its subdomains.
  bool isHostOnly() const { return hostOnly_; }
  Clock::time_point creationTime() const { return created_; }

  void setExpiresDate(std::optional<Clock::time_point> expires) { expires_ = expires; }
  void setSecure(bool secure) { secure_ = secure; }
  void setHTTPOnly(bool httpOnly) { httpOnly_ = httpOnly; }
  void setHostOnly(bool hostOnly) { hostOnly_ = hostOnly; }
  void setCreationTime(Clock::time_point t) { created_ = t; }

  bool isExpired(Clock::time_point now = Clock::now()) const;
  // Whether a request to url carries this cookie (domain, path and secure
  // rules; expiry is the store's business).
  bool matchesURL(const URL& url) const;
  // Same name, domain and path: the one replaces the other.
  bool sameIdentity(const HTTPCookie& other) const;

  static bool domainMatches(const std::string& host, const std::string& domain);
  static bool pathMatches(const std::string& requestPath, const std::string& cookiePath);
  static std::string defaultPath(const URL& url);

 private:
  std::string name_;
  std::string value_;
  std::string domain_;
  std::string path_;
  std::optional<Clock::time_point> expires_;
  bool secure_ = false;
  bool httpOnly_ = false;
  bool hostOnly_ = true;
  Clock::time_point created_ = Clock::now();
};

}  // namespace glowsnap
