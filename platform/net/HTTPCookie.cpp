#include "platform/net/HTTPCookie.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>

namespace glowsnap {

namespace {

std::string_view trimWhitespace(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool isIPAddress(const std::string& host) {
  if (host.find(':') != std::string::npos) return true;
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) || c == '.';
  });
}

bool isDelimiter(char c) {
  auto u = static_cast<unsigned char>(c);
  return u == 0x09 || (u >= 0x20 && u <= 0x2f) || (u >= 0x3b && u <= 0x40) ||
         (u >= 0x5b && u <= 0x60) || (u >= 0x7b && u <= 0x7e);
}

}  // namespace

HTTPCookie::HTTPCookie(std::string name, std::string value, std::string domain, std::string path)
    : name_(std::move(name)),
      value_(std::move(value)),
      domain_(lower(domain)),
      path_(std::move(path)) {
  if (!domain_.empty() && domain_[0] == '.') domain_.erase(0, 1);
}

std::optional<HTTPCookie::Clock::time_point> HTTPCookie::parseCookieDate(std::string_view text) {
  static const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                  "jul", "aug", "sep", "oct", "nov", "dec"};
  std::optional<int> hour, minute, second, day, month, year;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && isDelimiter(text[i])) ++i;
    std::size_t start = i;
    while (i < text.size() && !isDelimiter(text[i])) ++i;
    std::string_view token = text.substr(start, i - start);
    if (token.empty()) continue;
    int h, m, s;
    char tail;
    std::string tok(token);
    if (!hour && std::sscanf(tok.c_str(), "%2d:%2d:%2d%c", &h, &m, &s, &tail) >= 3 &&
        std::isdigit(static_cast<unsigned char>(tok[0]))) {
      hour = h;
      minute = m;
      second = s;
      continue;
    }
    std::size_t digits = 0;
    while (digits < tok.size() && std::isdigit(static_cast<unsigned char>(tok[digits]))) ++digits;
    if (!day && digits >= 1 && digits <= 2) {
      day = std::stoi(tok.substr(0, digits));
      continue;
    }
    if (!month && tok.size() >= 3) {
      std::string prefix = lower(tok.substr(0, 3));
      for (int k = 0; k < 12; ++k)
        if (prefix == kMonths[k]) month = k + 1;
      if (month) continue;
    }
    if (!year && digits >= 2 && digits <= 4) {
      year = std::stoi(tok.substr(0, digits));
      continue;
    }
  }
  if (!hour || !day || !month || !year) return std::nullopt;
  int y = *year;
  if (y >= 70 && y <= 99) y += 1900;
  if (y >= 0 && y <= 69) y += 2000;
  if (*day < 1 || *day > 31 || y < 1601 || *hour > 23 || *minute > 59 || *second > 59)
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = *month - 1;
  tm.tm_mday = *day;
  tm.tm_hour = *hour;
  tm.tm_min = *minute;
  tm.tm_sec = *second;
  return Clock::from_time_t(::timegm(&tm));
}

bool HTTPCookie::domainMatches(const std::string& host, const std::string& domain) {
  if (host == domain) return true;
  if (isIPAddress(host) || domain.empty() || host.size() <= domain.size()) return false;
  return host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
         host[host.size() - domain.size() - 1] == '.';
}

bool HTTPCookie::pathMatches(const std::string& requestPath, const std::string& cookiePath) {
  if (requestPath == cookiePath) return true;
  if (requestPath.rfind(cookiePath, 0) != 0) return false;
  return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

std::string HTTPCookie::defaultPath(const URL& url) {
  const std::string& p = url.path();
  if (p.empty() || p[0] != '/') return "/";
  auto slash = p.rfind('/');
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

std::optional<HTTPCookie> HTTPCookie::parseSetCookie(std::string_view text, const URL& url,
                                                     Clock::time_point now) {
  auto semi = text.find(';');
  std::string_view pair = text.substr(0, semi);
  auto eq = pair.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  std::string name(trimWhitespace(pair.substr(0, eq)));
  std::string value(trimWhitespace(pair.substr(eq + 1)));
  if (name.empty()) return std::nullopt;
  // Control characters would corrupt the "Cookie" header sent back.
  auto bad = [](const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
      auto u = static_cast<unsigned char>(c);
      return u < 0x20 || u == 0x7f;
    });
  };
  if (bad(name) || bad(value)) return std::nullopt;

  std::optional<Clock::time_point> expires;
  std::optional<Clock::time_point> maxAge;
  std::string domainAttr;
  std::string pathAttr;
  bool secure = false;
  bool httpOnly = false;
  std::string_view rest =
      semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
  while (!rest.empty()) {
    auto next = rest.find(';');
    std::string_view av = rest.substr(0, next);
    rest = next == std::string_view::npos ? std::string_view() : rest.substr(next + 1);
    auto aeq = av.find('=');
    std::string attr = lower(trimWhitespace(av.substr(0, aeq)));
    std::string_view val =
        aeq == std::string_view::npos ? std::string_view() : trimWhitespace(av.substr(aeq + 1));
    if (attr == "expires") {
      if (auto d = parseCookieDate(val)) expires = d;
    } else if (attr == "max-age") {
      std::string v(val);
      bool negative = !v.empty() && v[0] == '-';
      std::string digits = negative ? v.substr(1) : v;
      if (!digits.empty() && digits.size() < 12 &&
          std::all_of(digits.begin(), digits.end(),
                      [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        long long seconds = std::stoll(digits);
        maxAge =
            (negative || seconds <= 0) ? Clock::time_point{} : now + std::chrono::seconds(seconds);
      }
    } else if (attr == "domain") {
      std::string d = lower(val);
      if (!d.empty() && d[0] == '.') d.erase(0, 1);
      if (!d.empty()) domainAttr = d;
    } else if (attr == "path") {
      if (!val.empty() && val[0] == '/') pathAttr = std::string(val);
    } else if (attr == "secure") {
      secure = true;
    } else if (attr == "httponly") {
      httpOnly = true;
    }
  }

  const std::string& host = url.host();
  bool hostOnly = true;
  std::string domain = host;
  if (!domainAttr.empty()) {
    if (!domainMatches(host, domainAttr)) return std::nullopt;
    // A bare top-level name would let any site set cookies for all of it.
    if (domainAttr.find('.') == std::string::npos && domainAttr != host) return std::nullopt;
    hostOnly = false;
    domain = domainAttr;
  }
  HTTPCookie cookie(name, value, domain, pathAttr.empty() ? defaultPath(url) : pathAttr);
  cookie.hostOnly_ = hostOnly;
  cookie.secure_ = secure;
  cookie.httpOnly_ = httpOnly;
  cookie.expires_ = maxAge ? maxAge : expires;
  cookie.created_ = now;
  return cookie;
}

std::vector<HTTPCookie> HTTPCookie::cookiesWithResponseHeaderFields(
    const std::vector<std::string>& setCookieValues, const URL& url) {
  std::vector<HTTPCookie> out;
  auto now = Clock::now();
  for (const auto& v : setCookieValues)
    if (auto c = parseSetCookie(v, url, now)) out.push_back(std::move(*c));
  return out;
}

bool HTTPCookie::isExpired(Clock::time_point now) const { return expires_ && *expires_ <= now; }

bool HTTPCookie::matchesURL(const URL& url) const {
  const std::string& host = url.host();
  if (hostOnly_ ? host != domain_ : !domainMatches(host, domain_)) return false;
  std::string path = url.path().empty() ? "/" : url.path();
  if (!pathMatches(path, path_)) return false;
  if (secure_ && url.scheme() != "https") return false;
  return true;
}

bool HTTPCookie::sameIdentity(const HTTPCookie& other) const {
  return name_ == other.name_ && domain_ == other.domain_ && path_ == other.path_;
}

}  // namespace glowsnap
