// URL: an absolute URL split into its parts, with resolution of relative
// references (RFC 3986, section 5) as a redirect's "Location" needs it.
//
// Parsing is strict about what cannot be sent: control characters, spaces
// and a missing scheme make parse() answer nothing. Percent escapes are kept
// as they were written.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace glowsnap {

class URL {
 public:
  // An absolute URL ("scheme:..."), or nothing when text is not one.
  static std::optional<URL> parse(std::string_view text);

  // The reference resolved against this URL; nothing when the result is not
  // a valid URL.
  std::optional<URL> resolve(std::string_view reference) const;

  const std::string& absoluteString() const { return text_; }
  // The URL as messages and logs may show it: without user information, so
  // that no password is ever printed.
  std::string absoluteStringWithoutUserInfo() const;
  // Any text that may be a URL (also one that does not parse, or a proxy
  // given as "user:password@host:port") with the user information of its
  // authority taken out, for messages that echo what the user typed.
  static std::string withoutUserInfo(std::string_view text);
  // Lower case.
  const std::string& scheme() const { return scheme_; }
  bool hasAuthority() const { return hasAuthority_; }
  // Percent-decoded user and password of the authority, empty when absent.
  std::string user() const;
  std::string password() const;
  bool hasUser() const { return hasUser_; }
  bool hasPassword() const { return hasPassword_; }
  // Lower case, without the brackets of an IPv6 literal.
  const std::string& host() const { return host_; }
  // The port written in the URL, when there is one.
  std::optional<int> port() const { return port_; }
  // The written port, else 80 for http and 443 for https, else 0.
  int effectivePort() const;
  // Path as written ("" when the URL has none).
  const std::string& path() const { return path_; }
  const std::optional<std::string>& query() const { return query_; }
  const std::optional<std::string>& fragment() const { return fragment_; }
  // Last path segment, decoded.
  std::string lastPathComponent() const;
  // The URL as a request sends it and as messages may show it: no user
  // information, no fragment, "/" for an empty path of an http(s) URL.
  std::string wireString() const;
  // The path and query a request line names ("/" when there is no path).
  std::string requestTarget() const;
  // "host:port" with the effective port (an IPv6 host in brackets), as a
  // tunnel through a proxy names its end.
  std::string hostAndPort() const;

  bool operator==(const URL& other) const { return text_ == other.text_; }

 private:
  URL() = default;
  void rebuild();

  std::string text_;
  std::string scheme_;
  bool hasAuthority_ = false;
  std::string userInfo_;
  bool hasUser_ = false;
  bool hasPassword_ = false;
  std::string host_;
  bool ipv6_ = false;
  std::optional<int> port_;
  std::string path_;
  std::optional<std::string> query_;
  std::optional<std::string> fragment_;
};

// Percent-decodes text; malformed escapes are kept as they are.
std::string percentDecode(std::string_view text);

// The value of a hexadecimal digit (either case), -1 for any other character.
int hexDigitValue(char c);

}  // namespace glowsnap
