// ProxyLookup: the system's proxy for a URL, read from the environment as
// command-line tools do: "http_proxy" for http, "https_proxy" for https (the
// upper-case names as a fallback; "HTTP_PROXY" is not trusted, since CGI
// servers put request headers there), and "no_proxy" for hosts that are
// reached directly.
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
  bool isDirect() const { return host.empty(); }
};

class ProxyLookup {
 public:
  // One entry: the proxy, or a direct entry when none applies. Nothing when
  // the setting cannot be understood.
  static std::optional<std::vector<ProxyEntry>> proxiesForURL(const URL& url);
  // Whether host (and port) is listed in a "no_proxy" value.
  static bool isExcluded(const std::string& noProxy, const std::string& host, int port);
};

}  // namespace glowsnap
