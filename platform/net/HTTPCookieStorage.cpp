#include "platform/net/HTTPCookieStorage.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Paths.h"

namespace glowsnap {

namespace {

using Clock = HTTPCookie::Clock;

std::int64_t toSeconds(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

Clock::time_point fromSeconds(std::int64_t s) { return Clock::time_point(std::chrono::seconds(s)); }

}  // namespace

HTTPCookieStorage& HTTPCookieStorage::sharedStorage() {
  static HTTPCookieStorage* shared =
      new HTTPCookieStorage(paths::configDirectory() / "cookies.json");
  return *shared;
}

HTTPCookieStorage::HTTPCookieStorage(std::optional<std::filesystem::path> file)
    : file_(std::move(file)) {
  std::lock_guard lock(mutex_);
  loadLocked();
}

void HTTPCookieStorage::reload() {
  std::lock_guard lock(mutex_);
  cookies_.clear();
  loadLocked();
}

void HTTPCookieStorage::loadLocked() {
  if (!file_) return;
  std::ifstream in(*file_);
  if (!in) return;
  try {
    nlohmann::json doc = nlohmann::json::parse(in);
    auto now = Clock::now();
    for (const auto& j : doc.at("cookies")) {
      HTTPCookie c(j.at("name").get<std::string>(), j.at("value").get<std::string>(),
                   j.at("domain").get<std::string>(), j.at("path").get<std::string>());
      c.setExpiresDate(fromSeconds(j.at("expires").get<std::int64_t>()));
      c.setSecure(j.value("secure", false));
      c.setHTTPOnly(j.value("httpOnly", false));
      c.setHostOnly(j.value("hostOnly", true));
      c.setCreationTime(fromSeconds(j.value("created", std::int64_t{0})));
      if (!c.isExpired(now)) cookies_.push_back(std::move(c));
    }
  } catch (const std::exception&) {
    // An unreadable file only loses the remembered cookies.
    cookies_.clear();
  }
}

void HTTPCookieStorage::saveLocked() {
  if (!file_) return;
  nlohmann::json list = nlohmann::json::array();
  auto now = Clock::now();
  for (const auto& c : cookies_) {
    if (c.isSessionOnly() || c.isExpired(now)) continue;
    list.push_back({{"name", c.name()},
                    {"value", c.value()},
                    {"domain", c.domain()},
                    {"path", c.path()},
                    {"expires", toSeconds(*c.expiresDate())},
                    {"secure", c.isSecure()},
                    {"httpOnly", c.isHTTPOnly()},
                    {"hostOnly", c.isHostOnly()},
                    {"created", toSeconds(c.creationTime())}});
  }
  paths::ensureDirectory(file_->parent_path());
  (void)AtomicFile::writeAll(*file_, nlohmann::json{{"cookies", list}}.dump(1));
}

std::vector<HTTPCookie> HTTPCookieStorage::cookiesForURL(const URL& url) {
  std::lock_guard lock(mutex_);
  auto now = Clock::now();
  std::vector<HTTPCookie> out;
  for (const auto& c : cookies_)
    if (!c.isExpired(now) && c.matchesURL(url)) out.push_back(c);
  std::stable_sort(out.begin(), out.end(), [](const HTTPCookie& a, const HTTPCookie& b) {
    if (a.path().size() != b.path().size()) return a.path().size() > b.path().size();
    return a.creationTime() < b.creationTime();
  });
  return out;
}

void HTTPCookieStorage::setCookieLocked(const HTTPCookie& cookie) {
  auto it = std::find_if(cookies_.begin(), cookies_.end(),
                         [&](const HTTPCookie& c) { return c.sameIdentity(cookie); });
  if (it == cookies_.end()) {
    if (!cookie.isExpired()) cookies_.push_back(cookie);
    return;
  }
  if (cookie.isExpired()) {
    cookies_.erase(it);
    return;
  }
  // A replaced cookie keeps its place in the order of creation.
  auto created = it->creationTime();
  *it = cookie;
  it->setCreationTime(created);
}

void HTTPCookieStorage::setCookies(const std::vector<HTTPCookie>& cookies, const URL&,
                                   const std::optional<URL>&) {
  std::lock_guard lock(mutex_);
  for (const auto& c : cookies) setCookieLocked(c);
  saveLocked();
}

void HTTPCookieStorage::setCookie(const HTTPCookie& cookie) {
  std::lock_guard lock(mutex_);
  setCookieLocked(cookie);
  saveLocked();
}

void HTTPCookieStorage::deleteCookie(const HTTPCookie& cookie) {
  std::lock_guard lock(mutex_);
  auto before = cookies_.size();
  cookies_.erase(std::remove_if(cookies_.begin(), cookies_.end(),
                                [&](const HTTPCookie& c) { return c.sameIdentity(cookie); }),
                 cookies_.end());
  if (cookies_.size() != before) saveLocked();
}

std::vector<HTTPCookie> HTTPCookieStorage::cookies() {
  std::lock_guard lock(mutex_);
  return cookies_;
}

void HTTPCookieStorage::removeAllCookies() {
  std::lock_guard lock(mutex_);
  cookies_.clear();
  saveLocked();
}

}  // namespace glowsnap
