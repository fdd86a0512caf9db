#include "platform/net/HTTPAuthentication.h"

#include "platform/net/MD5.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cctype>
#include <cstdio>
#include <cstring>

namespace glowsnap {

namespace {

bool equalsIgnoringCase(const std::string& a, const char* b) {
  return ::strcasecmp(a.c_str(), b) == 0;
}

bool isTokenChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) ||
         (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool isToken68Char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) ||
         (c != '\0' && std::strchr("-._~+/", c) != nullptr);
}

// A cursor over one field value.
class ChallengeReader {
 public:
  explicit ChallengeReader(const std::string& text) : s_(text) {}

  void read(std::vector<AuthenticationChallenge>& out) {
    while (true) {
      skipSpacesAndCommas();
      if (atEnd()) return;
      AuthenticationChallenge c;
      c.scheme = token();
      if (c.scheme.empty()) {
        skipPastComma();
        continue;
      }
      skipSpaces();
      if (!readToken68(c)) readParams(c);
      out.push_back(std::move(c));
    }
  }

 private:
  bool atEnd() const { return i_ >= s_.size(); }
  char at(std::size_t k) const { return k < s_.size() ? s_[k] : '\0'; }
  void skipSpaces() {
    while (!atEnd() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
  }
  void skipSpacesAndCommas() {
    while (!atEnd() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == ',')) ++i_;
  }
  void skipPastComma() {
    while (!atEnd() && s_[i_] != ',') ++i_;
  }
  std::string token() {
    std::size_t b = i_;
    while (!atEnd() && isTokenChar(s_[i_])) ++i_;
    return s_.substr(b, i_ - b);
  }
  std::size_t spacesFrom(std::size_t k) const {
    while (k < s_.size() && (s_[k] == ' ' || s_[k] == '\t')) ++k;
    return k;
  }

  // "Scheme abc==" : the characters of a token68 that end the challenge.
  bool readToken68(AuthenticationChallenge& c) {
    std::size_t j = i_;
    while (isToken68Char(at(j))) ++j;
    if (j == i_) return false;
    std::size_t k = j;
    while (at(k) == '=') ++k;
    std::size_t after = spacesFrom(k);
    if (after < s_.size() && s_[after] != ',') return false;
    c.token68 = s_.substr(i_, k - i_);
    i_ = after;
    return true;
  }

  // Whether a "name =" follows (after spaces and commas) rather than the
  // scheme of the next challenge.
  bool paramAhead() const {
    std::size_t k = i_;
    while (k < s_.size() && (s_[k] == ' ' || s_[k] == '\t' || s_[k] == ',')) ++k;
    std::size_t b = k;
    while (isTokenChar(at(k))) ++k;
    return k > b && at(spacesFrom(k)) == '=';
  }

  void readParams(AuthenticationChallenge& c) {
    while (paramAhead()) {
      skipSpacesAndCommas();
      std::string name = token();
      skipSpaces();
      ++i_;  // '='
      skipSpaces();
      std::string value;
      if (at(i_) == '"') {
        ++i_;
        while (!atEnd() && s_[i_] != '"') {
          if (s_[i_] == '\\' && i_ + 1 < s_.size()) ++i_;
          value += s_[i_++];
        }
        if (!atEnd()) ++i_;
      } else {
        value = token();
      }
      c.params.emplace_back(std::move(name), std::move(value));
      skipSpaces();
      if (!atEnd() && s_[i_] != ',') skipPastComma();
    }
  }

  const std::string& s_;
  std::size_t i_ = 0;
};

std::string hex(const unsigned char* bytes, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(n * 2);
  for (std::size_t k = 0; k < n; ++k) {
    out += digits[bytes[k] >> 4];
    out += digits[bytes[k] & 15];
  }
  return out;
}

std::string base64(const std::string& text) {
  std::string out(4 * ((text.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string percentEncodedUTF8(const std::string& text) {
  std::string out = "UTF-8''";
  for (unsigned char c : text) {
    if (std::isalnum(c) || std::strchr("!#$&+-.^_`|~", c)) {
      out += static_cast<char>(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

bool hasControlCharacter(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7f) return true;
  return false;
}

bool isASCII(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

std::string randomClientNonce() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return {};
  return hex(bytes, sizeof bytes);
}

struct DigestChoice {
  std::string algorithm;  // "MD5" or "SHA-256"
  bool session = false;
  bool qopAuth = false;
  int rank = 0;
};

// What a Digest challenge asks for, or nothing when it cannot be answered.
std::optional<DigestChoice> digestChoice(const AuthenticationChallenge& c) {
  if (!c.param("realm") || !c.param("nonce")) return std::nullopt;
  DigestChoice d;
  std::string algorithm = c.param("algorithm").value_or("MD5");
  if (equalsIgnoringCase(algorithm, "MD5")) {
    d = {"MD5", false, false, 3};
  } else if (equalsIgnoringCase(algorithm, "MD5-sess")) {
    d = {"MD5", true, false, 3};
  } else if (equalsIgnoringCase(algorithm, "SHA-256")) {
    d = {"SHA-256", false, false, 4};
  } else if (equalsIgnoringCase(algorithm, "SHA-256-sess")) {
    d = {"SHA-256", true, false, 4};
  } else {
    return std::nullopt;
  }
  if (auto qop = c.param("qop")) {
    std::size_t b = 0;
    while (b <= qop->size()) {
      std::size_t e = qop->find(',', b);
      if (e == std::string::npos) e = qop->size();
      std::string item = qop->substr(b, e - b);
      item.erase(0, item.find_first_not_of(" \t"));
      item.erase(item.find_last_not_of(" \t") + 1);
      if (equalsIgnoringCase(item, "auth")) d.qopAuth = true;
      b = e + 1;
    }
    // Only "auth-int" (a hash of the body) is offered: not answered.
    if (!d.qopAuth) return std::nullopt;
  } else if (d.session) {
    // The session variants need a client nonce, which only qop carries.
    return std::nullopt;
  }
  return d;
}

Error reason(int code, std::string text) {
  Error e;
  e.domain = HTTPAuthentication::kHTTPErrorDomain;
  e.code = code;
  e.description = std::move(text);
  return e;
}

}  // namespace

std::optional<std::string> AuthenticationChallenge::param(const std::string& name) const {
  for (const auto& [n, v] : params)
    if (::strcasecmp(n.c_str(), name.c_str()) == 0) return v;
  return std::nullopt;
}

std::vector<AuthenticationChallenge> parseAuthenticationChallenges(
    const std::vector<std::string>& fieldValues) {
  std::vector<AuthenticationChallenge> out;
  for (const auto& value : fieldValues) ChallengeReader(value).read(out);
  return out;
}

std::string digestHex(const std::string& algorithm, const std::string& text) {
  if (algorithm == "MD5") return md5HexString(text).value_or("");
  if (algorithm != "SHA-256") return {};
  const EVP_MD* md = EVP_sha256();
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (EVP_Digest(text.data(), text.size(), out, &n, md, nullptr) != 1) return {};
  return hex(out, n);
}

std::shared_ptr<HTTPAuthentication> HTTPAuthentication::createFromResponse(
    const HTTPMessage& response) {
  int status = response.responseStatusCode();
  if (status != 401 && status != 407) return nullptr;
  bool proxy = status == 407;
  auto challenges = parseAuthenticationChallenges(
      response.headerFieldValues(proxy ? "Proxy-Authenticate" : "WWW-Authenticate"));
  if (challenges.empty()) return nullptr;
  auto a = std::shared_ptr<HTTPAuthentication>(new HTTPAuthentication);
  a->proxy_ = proxy;
  a->choose(challenges);
  return a;
}

void HTTPAuthentication::choose(const std::vector<AuthenticationChallenge>& challenges) {
  int best = 0;
  const AuthenticationChallenge* chosen = nullptr;
  DigestChoice digest;
  for (const auto& c : challenges) {
    int rank = 0;
    std::optional<DigestChoice> d;
    if (equalsIgnoringCase(c.scheme, kDigest)) {
      d = digestChoice(c);
      if (d) rank = d->rank;
    } else if (equalsIgnoringCase(c.scheme, kNTLM)) {
      rank = 2;
    } else if (equalsIgnoringCase(c.scheme, kBasic)) {
      rank = 1;
    }
    if (rank > best) {
      best = rank;
      chosen = &c;
      if (d) digest = *d;
    }
  }
  invalid_.reset();
  applied_ = false;
  nonceCount_ = 0;
  if (!chosen) {
    challenge_ = challenges.front();
    method_ = challenge_.scheme;
    realm_ = challenge_.param("realm");
    invalid_ = reason(kUnsupportedScheme, "No challenge of the response can be answered (" +
                                              method_ + " authentication is not supported)");
    return;
  }
  challenge_ = *chosen;
  realm_ = challenge_.param("realm");
  if (best >= 3) {
    method_ = kDigest;
    algorithm_ = digest.algorithm;
    session_ = digest.session;
    qopAuth_ = digest.qopAuth;
    auto userhash = challenge_.param("userhash");
    userhash_ = userhash && equalsIgnoringCase(*userhash, "true");
  } else {
    method_ = best == 2 ? kNTLM : kBasic;
  }
}

void HTTPAuthentication::updateFromResponse(const HTTPMessage& response) {
  std::lock_guard lock(mutex_);
  auto challenges = parseAuthenticationChallenges(
      response.headerFieldValues(proxy_ ? "Proxy-Authenticate" : "WWW-Authenticate"));
  if (!applied_) {
    if (!challenges.empty()) choose(challenges);
    return;
  }
  // Answered once already: only a stale nonce is not a refusal.
  if (method_ == kDigest) {
    for (const auto& c : challenges) {
      auto stale = c.param("stale");
      if (equalsIgnoringCase(c.scheme, kDigest) && stale && equalsIgnoringCase(*stale, "true") &&
          c.param("realm") == realm_ && digestChoice(c)) {
        choose({c});
        return;
      }
    }
  }
  invalid_ = reason(kBadPassword, "The credentials were refused");
}

std::string HTTPAuthentication::method() const {
  std::lock_guard lock(mutex_);
  return method_;
}

std::optional<std::string> HTTPAuthentication::realm() const {
  std::lock_guard lock(mutex_);
  return realm_;
}

bool HTTPAuthentication::isValid(Error* why) const {
  std::lock_guard lock(mutex_);
  if (!invalid_) return true;
  if (why) *why = *invalid_;
  return false;
}

bool HTTPAuthentication::requiresUserNameAndPassword() const {
  std::lock_guard lock(mutex_);
  return method_ == kBasic || method_ == kDigest || method_ == kNTLM;
}

std::optional<std::string> HTTPAuthentication::digestAuthorization(
    const std::string& user, const std::string& password, const DigestRequestData& r) const {
  std::lock_guard lock(mutex_);
  if (method_ != kDigest || invalid_) return std::nullopt;
  const std::string realm = realm_.value_or("");
  const std::string nonce = challenge_.param("nonce").value_or("");
  auto H = [&](const std::string& text) { return digestHex(algorithm_, text); };
  std::string ha1 = H(user + ":" + realm + ":" + password);
  if (session_) ha1 = H(ha1 + ":" + nonce + ":" + r.cnonce);
  std::string ha2 = H(r.method + ":" + r.uri);
  char nc[9];
  std::snprintf(nc, sizeof nc, "%08x", r.nonceCount);
  std::string response = qopAuth_
                             ? H(ha1 + ":" + nonce + ":" + nc + ":" + r.cnonce + ":auth:" + ha2)
                             : H(ha1 + ":" + nonce + ":" + ha2);

  std::string out = "Digest ";
  if (userhash_) {
    out += "username=" + quoted(H(user + ":" + realm)) + ", userhash=true";
  } else if (!isASCII(user)) {
    auto charset = challenge_.param("charset");
    if (charset && equalsIgnoringCase(*charset, "UTF-8"))
      out += "username*=" + percentEncodedUTF8(user);
    else
      out += "username=" + quoted(user);
  } else {
    out += "username=" + quoted(user);
  }
  out += ", realm=" + quoted(realm);
  out += ", uri=" + quoted(r.uri);
  if (auto algorithm = challenge_.param("algorithm")) out += ", algorithm=" + *algorithm;
  out += ", nonce=" + quoted(nonce);
  if (qopAuth_) out += std::string(", nc=") + nc + ", cnonce=" + quoted(r.cnonce) + ", qop=auth";
  out += ", response=" + quoted(response);
  if (auto opaque = challenge_.param("opaque")) out += ", opaque=" + quoted(*opaque);
  return out;
}

bool HTTPAuthentication::applyCredentials(HTTPMessage& message, const Credentials& credentials) {
  std::lock_guard lock(mutex_);
  if (invalid_ || !message.isRequest() || !message.requestURL()) return false;
  auto user = credentials.find(kCFHTTPAuthenticationUsername);
  auto password = credentials.find(kCFHTTPAuthenticationPassword);
  if (user == credentials.end() || password == credentials.end()) return false;
  if (hasControlCharacter(user->second) || hasControlCharacter(password->second)) return false;
  const char* field = proxy_ ? "Proxy-Authorization" : "Authorization";
  const URL& url = *message.requestURL();

  if (method_ == kBasic) {
    // A colon would move the boundary between user and password.
    if (user->second.find(':') != std::string::npos) return false;
    if (!message.setHeaderFieldValue(field,
                                     "Basic " + base64(user->second + ":" + password->second)))
      return false;
  } else if (method_ == kDigest) {
    DigestRequestData r;
    if (proxy_ && url.scheme() == "https") {
      // The proxy's challenge answers the tunnel's CONNECT request.
      r.method = "CONNECT";
      r.uri = url.hostAndPort();
    } else {
      r.method = message.requestMethod();
      r.uri = proxy_ ? url.wireString() : url.requestTarget();
    }
    r.cnonce = randomClientNonce();
    if (r.cnonce.empty()) return false;
    r.nonceCount = ++nonceCount_;
    auto value = digestAuthorization(user->second, password->second, r);
    if (!value || !message.setHeaderFieldValue(field, *value)) return false;
  } else if (method_ == kNTLM) {
    EngineAuthentication e;
    e.scheme = kNTLM;
    e.user = user->second;
    e.password = password->second;
    if (auto domain = credentials.find(kCFHTTPAuthenticationAccountDomain);
        domain != credentials.end())
      e.domain = domain->second;
    message.setEngineAuthentication(proxy_, std::move(e));
  } else {
    return false;
  }
  applied_ = true;
  return true;
}

}  // namespace glowsnap
