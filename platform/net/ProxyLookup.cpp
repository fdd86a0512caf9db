#include "platform/net/ProxyLookup.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <sstream>

#ifdef GLOWSNAP_HAVE_LIBPROXY
#include <proxy.h>
#endif

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

// The environment's setting for the URL's scheme; empty when there is none.
std::string environmentSetting(const URL& url) {
  std::string setting;
  if (url.scheme() == "https") {
    setting = env("https_proxy");
    if (setting.empty()) setting = env("HTTPS_PROXY");
  } else if (url.scheme() == "http") {
    setting = env("http_proxy");
  }
  if (setting.empty()) setting = env("all_proxy");
  if (setting.empty()) setting = env("ALL_PROXY");
  return setting;
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

std::vector<ProxyEntry> ProxyLookup::fromProxyURLs(const std::vector<std::string>& urls,
                                                   int* unusable) {
  std::vector<ProxyEntry> out;
  int skipped = 0;
  for (const auto& text : urls) {
    std::string l = lower(text);
    if (l.rfind("direct://", 0) == 0) {
      out.push_back(ProxyEntry{});
    } else if (l.rfind("pac+", 0) == 0) {
      ProxyEntry e;
      e.autoConfigurationURL = text.substr(4);
      out.push_back(std::move(e));
    } else if (auto proxy = URL::parse(text);
               proxy && proxy->scheme() == "http" && !proxy->host().empty()) {
      out.push_back(ProxyEntry{proxy->host(), proxy->port().value_or(80), std::nullopt});
    } else {
      ++skipped;
    }
  }
  if (unusable) *unusable = skipped;
  return out;
}

std::optional<std::vector<ProxyEntry>> ProxyLookup::desktopProxiesForURL(const URL& url) {
#ifdef GLOWSNAP_HAVE_LIBPROXY
  static std::mutex lock;
  static pxProxyFactory* factory = px_proxy_factory_new();
  std::vector<std::string> answers;
  {
    std::lock_guard guard(lock);
    if (!factory) return std::nullopt;
    char** proxies = px_proxy_factory_get_proxies(factory, url.wireString().c_str());
    if (!proxies) return std::nullopt;
    for (char** p = proxies; *p; ++p) answers.emplace_back(*p);
    px_proxy_factory_free_proxies(proxies);
  }
  int unusable = 0;
  auto entries = fromProxyURLs(answers, &unusable);
  if (entries.empty() && unusable) return std::nullopt;
  if (entries.empty()) entries.push_back(ProxyEntry{});
  return entries;
#else
  (void)url;
  return std::vector<ProxyEntry>{ProxyEntry{}};
#endif
}

std::optional<std::vector<ProxyEntry>> ProxyLookup::proxiesForURL(const URL& url) {
  std::string setting = environmentSetting(url);
  if (setting.empty()) return desktopProxiesForURL(url);
  std::vector<ProxyEntry> direct{ProxyEntry{}};
  std::string noProxy = env("no_proxy");
  if (noProxy.empty()) noProxy = env("NO_PROXY");
  if (isExcluded(noProxy, url.host(), url.effectivePort())) return direct;

  if (setting.find("://") == std::string::npos) setting = "http://" + setting;
  auto proxy = URL::parse(setting);
  if (!proxy || proxy->host().empty()) return std::nullopt;
  if (proxy->scheme() != "http") return std::nullopt;
  return std::vector<ProxyEntry>{
      ProxyEntry{proxy->host(), proxy->port().value_or(1080), std::nullopt}};
}

}  // namespace glowsnap
