#include "platform/net/ProxyLookup.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "platform/net/HTTPCookie.h"

namespace glowsnap {

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  auto e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

bool ProxyLookup::isExcluded(const std::string& noProxy, const std::string& host, int port) {
  std::stringstream list(noProxy);
  std::string item;
  std::string h = lower(host);
  while (std::getline(list, item, ',')) {
    item = lower(trim(item));
    if (item.empty()) continue;
    if (item == "*") return true;
    int itemPort = 0;
    auto colon = item.rfind(':');
    if (colon != std::string::npos && item.find(']') == std::string::npos &&
        item.find(':') == colon) {
      itemPort = std::atoi(item.c_str() + colon + 1);
      item = item.substr(0, colon);
    }
    if (!item.empty() && item.front() == '[' && item.back() == ']')
      item = item.substr(1, item.size() - 2);
    if (itemPort && itemPort != port) continue;
    if (!item.empty() && item[0] == '.') item.erase(0, 1);
    if (h == item || HTTPCookie::domainMatches(h, item)) return true;
  }
  return false;
}

std::optional<std::vector<ProxyEntry>> ProxyLookup::proxiesForURL(const URL& url) {
  std::string setting;
  if (url.scheme() == "https") {
    setting = env("https_proxy");
    if (setting.empty()) setting = env("HTTPS_PROXY");
  } else if (url.scheme() == "http") {
    setting = env("http_proxy");
  }
  std::vector<ProxyEntry> direct{ProxyEntry{}};
  if (setting.empty()) return direct;
  std::string noProxy = env("no_proxy");
  if (noProxy.empty()) noProxy = env("NO_PROXY");
  if (isExcluded(noProxy, url.host(), url.effectivePort())) return direct;

  if (setting.find("://") == std::string::npos) setting = "http://" + setting;
  auto proxy = URL::parse(setting);
  if (!proxy || proxy->host().empty()) return std::nullopt;
  if (proxy->scheme() != "http") return std::nullopt;
  return std::vector<ProxyEntry>{ProxyEntry{proxy->host(), proxy->port().value_or(1080)}};
}

}  // namespace glowsnap
