#include "platform/net/URL.h"

#include <algorithm>
#include <cctype>

namespace glowsnap {

namespace {

struct Parts {
  std::optional<std::string> scheme;
  std::optional<std::string> authority;
  std::string path;
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

bool hasForbiddenCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7f;
  });
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The generic split of RFC 3986, appendix B.
Parts split(std::string_view text) {
  Parts p;
  std::size_t i = 0;
  std::size_t colon = text.find_first_of(":/?#");
  if (colon != std::string_view::npos && colon > 0 && text[colon] == ':') {
    std::string_view scheme = text.substr(0, colon);
    bool valid =
        std::isalpha(static_cast<unsigned char>(scheme[0])) != 0 &&
        std::all_of(scheme.begin(), scheme.end(), [](char c) {
          return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
        });
    if (valid) {
      p.scheme = std::string(scheme);
      i = colon + 1;
    }
  }
  if (text.substr(i, 2) == "//") {
    std::size_t end = text.find_first_of("/?#", i + 2);
    if (end == std::string_view::npos) end = text.size();
    p.authority = std::string(text.substr(i + 2, end - i - 2));
    i = end;
  }
  std::size_t end = text.find_first_of("?#", i);
  if (end == std::string_view::npos) end = text.size();
  p.path = std::string(text.substr(i, end - i));
  i = end;
  if (i < text.size() && text[i] == '?') {
    end = text.find('#', i);
    if (end == std::string_view::npos) end = text.size();
    p.query = std::string(text.substr(i + 1, end - i - 1));
    i = end;
  }
  if (i < text.size() && text[i] == '#') p.fragment = std::string(text.substr(i + 1));
  return p;
}

// RFC 3986, section 5.2.4.
std::string removeDotSegments(std::string input) {
  std::string output;
  while (!input.empty()) {
    if (input.rfind("../", 0) == 0) {
      input.erase(0, 3);
    } else if (input.rfind("./", 0) == 0) {
      input.erase(0, 2);
    } else if (input.rfind("/./", 0) == 0) {
      input.erase(0, 2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.rfind("/../", 0) == 0 || input == "/..") {
      input = input == "/.." ? "/" : input.substr(3);
      auto slash = output.rfind('/');
      output.erase(slash == std::string::npos ? 0 : slash);
    } else if (input == "." || input == "..") {
      input.clear();
    } else {
      std::size_t start = input[0] == '/' ? 1 : 0;
      std::size_t next = input.find('/', start);
      if (next == std::string::npos) next = input.size();
      output += input.substr(0, next);
      input.erase(0, next);
    }
  }
  return output;
}

std::string compose(const Parts& p) {
  std::string out;
  if (p.scheme) out += *p.scheme + ":";
  if (p.authority) out += "//" + *p.authority;
  out += p.path;
  if (p.query) out += "?" + *p.query;
  if (p.fragment) out += "#" + *p.fragment;
  return out;
}

}  // namespace

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int hi = hexDigitValue(text[i + 1]);
      int lo = hexDigitValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::optional<URL> URL::parse(std::string_view text) {
  if (text.empty() || hasForbiddenCharacter(text)) return std::nullopt;
  Parts p = split(text);
  if (!p.scheme) return std::nullopt;
  URL url;
  url.scheme_ = lower(*p.scheme);
  if (p.authority) {
    url.hasAuthority_ = true;
    std::string_view auth = *p.authority;
    auto at = auth.rfind('@');
    if (at != std::string_view::npos) {
      url.userInfo_ = std::string(auth.substr(0, at));
      url.hasUser_ = true;
      url.hasPassword_ = url.userInfo_.find(':') != std::string::npos;
      auth = auth.substr(at + 1);
    }
    std::string_view hostPort = auth;
    std::string_view portText;
    if (!hostPort.empty() && hostPort[0] == '[') {
      auto close = hostPort.find(']');
      if (close == std::string_view::npos) return std::nullopt;
      url.host_ = lower(hostPort.substr(1, close - 1));
      url.ipv6_ = true;
      std::string_view rest = hostPort.substr(close + 1);
      if (!rest.empty()) {
        if (rest[0] != ':') return std::nullopt;
        portText = rest.substr(1);
      }
    } else {
      auto colon = hostPort.rfind(':');
      if (colon != std::string_view::npos) {
        portText = hostPort.substr(colon + 1);
        hostPort = hostPort.substr(0, colon);
      }
      url.host_ = lower(hostPort);
    }
    if (!portText.empty()) {
      if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
          }))
        return std::nullopt;
      int port = std::stoi(std::string(portText));
      if (port > 65535) return std::nullopt;
      url.port_ = port;
    }
  }
  if ((url.scheme_ == "http" || url.scheme_ == "https") && url.host_.empty()) return std::nullopt;
  url.path_ = p.path;
  url.query_ = p.query;
  url.fragment_ = p.fragment;
  url.text_ = compose(p);
  // The scheme and host compare case-insensitively; keep them in one case.
  url.rebuild();
  return url;
}

void URL::rebuild() {
  Parts p;
  p.scheme = scheme_;
  if (hasAuthority_) {
    std::string auth;
    if (hasUser_) auth += userInfo_ + "@";
    auth += ipv6_ ? "[" + host_ + "]" : host_;
    if (port_) auth.append(":").append(std::to_string(*port_));
    p.authority = auth;
  }
  p.path = path_;
  p.query = query_;
  p.fragment = fragment_;
  text_ = compose(p);
}

std::string URL::requestTarget() const {
  std::string out = path_.empty() ? "/" : path_;
  if (query_) out += "?" + *query_;
  return out;
}

std::string URL::hostAndPort() const {
  return (ipv6_ ? "[" + host_ + "]" : host_) + ":" + std::to_string(effectivePort());
}

std::string URL::wireString() const {
  std::string out = scheme_ + ":";
  if (hasAuthority_) {
    out += "//";
    out += ipv6_ ? "[" + host_ + "]" : host_;
    if (port_) out.append(":").append(std::to_string(*port_));
    return out + requestTarget();
  }
  out += path_;
  if (query_) out += "?" + *query_;
  return out;
}

std::string URL::absoluteStringWithoutUserInfo() const {
  if (!hasUser_) return text_;
  URL copy = *this;
  copy.userInfo_.clear();
  copy.hasUser_ = false;
  copy.hasPassword_ = false;
  copy.rebuild();
  return copy.text_;
}

std::string URL::withoutUserInfo(std::string_view text) {
  std::string out(text);
  // The authority starts after "//" (or at the start for "user@host"), and
  // ends at the first "/", "?" or "#".
  std::size_t start = out.find("//");
  start = start == std::string::npos ? 0 : start + 2;
  std::size_t end = out.find_first_of("/?#", start);
  if (end == std::string::npos) end = out.size();
  std::size_t at = out.rfind('@', end == 0 ? 0 : end - 1);
  if (at == std::string::npos || at < start || at >= end) return out;
  out.erase(start, at + 1 - start);
  return out;
}

std::optional<URL> URL::resolve(std::string_view reference) const {
  if (hasForbiddenCharacter(reference)) return std::nullopt;
  Parts r = split(reference);
  Parts t;
  if (r.scheme) {
    t = r;
    t.path = removeDotSegments(r.path);
  } else {
    if (r.authority) {
      t.authority = r.authority;
      t.path = removeDotSegments(r.path);
      t.query = r.query;
    } else {
      std::optional<std::string> baseAuthority;
      if (hasAuthority_) {
        std::string auth;
        if (hasUser_) auth += userInfo_ + "@";
        auth += ipv6_ ? "[" + host_ + "]" : host_;
        if (port_) auth.append(":").append(std::to_string(*port_));
        baseAuthority = auth;
      }
      if (r.path.empty()) {
        t.path = path_;
        t.query = r.query ? r.query : query_;
      } else {
        if (r.path[0] == '/') {
          t.path = removeDotSegments(r.path);
        } else {
          std::string merged;
          if (hasAuthority_ && path_.empty()) {
            merged = "/" + r.path;
          } else {
            auto slash = path_.rfind('/');
            merged =
                (slash == std::string::npos ? std::string() : path_.substr(0, slash + 1)) + r.path;
          }
          t.path = removeDotSegments(merged);
        }
        t.query = r.query;
      }
      t.authority = baseAuthority;
    }
    t.scheme = scheme_;
  }
  t.fragment = r.fragment;
  return parse(compose(t));
}

std::string URL::user() const {
  if (!hasUser_) return {};
  auto colon = userInfo_.find(':');
  return percentDecode(userInfo_.substr(0, colon));
}

std::string URL::password() const {
  auto colon = userInfo_.find(':');
  if (!hasUser_ || colon == std::string::npos) return {};
  return percentDecode(userInfo_.substr(colon + 1));
}

int URL::effectivePort() const {
  if (port_) return *port_;
  if (scheme_ == "http") return 80;
  if (scheme_ == "https") return 443;
  return 0;
}

std::string URL::lastPathComponent() const {
  std::string_view p = path_;
  while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
  auto slash = p.rfind('/');
  if (slash != std::string_view::npos && p.size() > 1) p = p.substr(slash + 1);
  return percentDecode(p);
}

}  // namespace glowsnap
