#include "mingle/MGGlobal.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <mutex>
#include <optional>

#include "platform/net/URL.h"

namespace glowsnap {

namespace {

std::mutex& configurationMutex() {
  static std::mutex m;
  return m;
}

std::optional<MGServerConfiguration>& standardConfiguration() {
  static std::optional<MGServerConfiguration> c;
  return c;
}

}  // namespace

bool MGServerConfiguration::forServer(const std::string& baseURL, MGServerConfiguration& out) {
  auto url = URL::parse(baseURL);
  if (!url || (url->scheme() != "http" && url->scheme() != "https") || url->host().empty())
    return false;
  std::string host =
      url->host().find(':') != std::string::npos ? "[" + url->host() + "]" : url->host();
  std::string authority = host + (url->port() ? ":" + std::to_string(*url->port()) : "");
  std::string path = url->path();
  while (!path.empty() && path.back() == '/') path.pop_back();
  out.siteURL = url->scheme() + "://" + authority + path;
  out.restURL = out.siteURL + "/api/rest";
  out.restSecureURL = "https://" + authority + path + "/api/rest";
  out.loginHost = url->host();
  return true;
}

MGServerConfiguration MGServerConfiguration::standard() {
  std::lock_guard lock(configurationMutex());
  auto& c = standardConfiguration();
  if (!c) {
    MGServerConfiguration made;
    const char* env = std::getenv("GLOWSNAP_MINGLE_URL");
    if (!env || !forServer(env, made)) forServer(kDefaultBaseURL, made);
    c = made;
  }
  return *c;
}

void MGServerConfiguration::setStandard(const MGServerConfiguration& configuration) {
  std::lock_guard lock(configurationMutex());
  standardConfiguration() = configuration;
}

std::string MGEscapeQueryComponent(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool MGIsLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "localhost.") return true;
  if (host.size() > 10 && host.compare(host.size() - 10, 10, ".localhost") == 0) return true;
  in_addr v4{};
  if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return false;
}

}  // namespace glowsnap
