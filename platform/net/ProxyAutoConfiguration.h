// ProxyAutoConfiguration: runs a proxy auto-configuration script (a
// JavaScript FindProxyForURL(url, host)) in an embedded engine (duktape)
// with the standard helper functions, and reads its answer.
//
// The helpers: isPlainHostName, dnsDomainIs, localHostOrDomainIs,
// isResolvable, isInNet, dnsResolve, myIpAddress, dnsDomainLevels,
// shExpMatch, weekdayRange, dateRange, timeRange. A script comes from the
// network and is not trusted: each evaluation gets a heap of its own with a
// memory budget and a deadline, and sees nothing of the process but these
// functions. For https the script is told only the scheme, host and port,
// never the path or query; it never sees user information.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/net/ProxyLookup.h"
#include "platform/net/URL.h"

namespace glowsnap {

class ProxyAutoConfiguration {
 public:
  static constexpr const char* kErrorDomain = "ProxyAutoConfigurationErrorDomain";
  static constexpr std::size_t kMemoryBudget = 64u << 20;

  // The proxies script names for url, in its order (a direct entry for
  // "DIRECT"). An error when the script does not compile, defines no
  // FindProxyForURL, throws, answers something that is not a proxy list,
  // names only kinds of proxy this client cannot use (SOCKS, HTTPS), runs
  // out of memory or past the deadline.
  static Result<std::vector<ProxyEntry>> proxiesForURL(
      const std::string& script, const URL& url,
      std::chrono::milliseconds deadline = std::chrono::seconds(10));

  // Reads an answer such as "PROXY cache:3128; DIRECT". Entries of other
  // kinds are left out; *unusable counts them.
  static std::vector<ProxyEntry> parseAnswer(const std::string& answer, int* unusable = nullptr);
};

}  // namespace glowsnap
