// ProxyLookup: the system's proxy for a URL.
//
// First the environment, as command-line tools read it: "http_proxy" for
// http, "https_proxy" for https (the upper-case "HTTPS_PROXY" as a fallback;
// "HTTP_PROXY" is not trusted, since CGI servers put request headers
// there), then "all_proxy" / "ALL_PROXY" for either, and "no_proxy" /
// "NO_PROXY" for hosts that are reached directly. Where the environment says
// nothing, the desktop's settings through libproxy (when the library was
// found at build time), which may also name an auto-configuration script.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/net/URL.h"

namespace glowsnap {

struct ProxyEntry {
  // Empty for a direct connection.
  std::string host;
  int port = 0;
  // The script that decides (the list is then this one entry).
  std::optional<std::string> autoConfigurationURL;
  bool isDirect() const { return host.empty() && !autoConfigurationURL; }
};

class ProxyLookup {
 public:
  // The proxies to try, in order: at least one entry (a direct one when
  // none applies). Nothing when a setting cannot be understood or names
  // only proxies this client cannot use (SOCKS).
  static std::optional<std::vector<ProxyEntry>> proxiesForURL(const URL& url);
  // Whether host (and port) is listed in a "no_proxy" value.
  static bool isExcluded(const std::string& noProxy, const std::string& host, int port);
  // The desktop's answer through libproxy; a direct entry when libproxy is
  // not available. Nothing when libproxy fails or names only proxies this
  // client cannot use.
  static std::optional<std::vector<ProxyEntry>> desktopProxiesForURL(const URL& url);
  // Reads libproxy's answers ("direct://", "http://host:port",
  // "pac+http://...", "socks://..."); unusable ones are left out.
  static std::vector<ProxyEntry> fromProxyURLs(const std::vector<std::string>& urls,
                                               int* unusable = nullptr);
};

}  // namespace glowsnap
