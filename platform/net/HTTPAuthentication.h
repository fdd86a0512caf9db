// HTTPAuthentication: the challenge of a 401 or 407 response, and the
// answer to it.
//
// An object is made from the response head ("WWW-Authenticate" for 401,
// "Proxy-Authenticate" for 407). Of the challenges a response offers it
// keeps the strongest one it can answer: Digest with SHA-256, then Digest
// with MD5, then NTLM, then Basic. It then applies credentials to a request
// message: Basic and Digest (RFC 7616, qop "auth" or none, the "-sess"
// variants, userhash) as an "Authorization" / "Proxy-Authorization" field;
// NTLM, whose three messages must share one connection, by handing the
// credentials to the engine of the next attempt (see
// HTTPMessage::engineAuthentication).
//
// A later challenge of the same exchange is read with updateFromResponse():
// after credentials were applied, a new challenge means they were refused
// (isValid() then answers false with kBadPassword), unless it is a Digest
// challenge marked stale, which only renews the nonce.
//
// Objects may be shared between threads (the session keeps one); the nonce
// count is guarded.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/net/HTTPMessage.h"

namespace glowsnap {

// One challenge as it is written: "Scheme token68" or "Scheme name=value, ...".
struct AuthenticationChallenge {
  std::string scheme;
  std::optional<std::string> token68;
  std::vector<std::pair<std::string, std::string>> params;
  // The parameter of that name (any case).
  std::optional<std::string> param(const std::string& name) const;
};

// Reads every challenge of the given field values (RFC 7235). Malformed
// parts are skipped, never read past the end.
std::vector<AuthenticationChallenge> parseAuthenticationChallenges(
    const std::vector<std::string>& fieldValues);

// The parts of a Digest answer that are not the credentials.
struct DigestRequestData {
  std::string method;
  std::string uri;
  std::string cnonce;
  std::uint32_t nonceCount = 1;
};

class HTTPAuthentication {
 public:
  // The keys of a credentials dictionary.
  static constexpr const char* kCFHTTPAuthenticationUsername = "kCFHTTPAuthenticationUsername";
  static constexpr const char* kCFHTTPAuthenticationPassword = "kCFHTTPAuthenticationPassword";
  static constexpr const char* kCFHTTPAuthenticationAccountDomain =
      "kCFHTTPAuthenticationAccountDomain";
  using Credentials = std::map<std::string, std::string>;

  // The reasons isValid() gives, in this domain.
  static constexpr const char* kHTTPErrorDomain = "HTTPErrorDomain";
  static constexpr int kUnsupportedScheme = -1000;
  static constexpr int kBadUserName = -1001;
  static constexpr int kBadPassword = -1002;

  static constexpr const char* kBasic = "Basic";
  static constexpr const char* kDigest = "Digest";
  static constexpr const char* kNTLM = "NTLM";

  // The challenge of a 401 or 407 response head; nothing when the response
  // is neither or carries no challenge at all. A response whose challenges
  // are all of schemes this client cannot answer gives an object that is
  // not valid (kUnsupportedScheme).
  static std::shared_ptr<HTTPAuthentication> createFromResponse(const HTTPMessage& response);

  // A later challenge of the same exchange (see the class comment).
  void updateFromResponse(const HTTPMessage& response);

  // "Basic", "Digest", "NTLM", or the first offered scheme when none of
  // them was.
  std::string method() const;
  std::optional<std::string> realm() const;
  bool isProxy() const { return proxy_; }
  // False with the reason in *reason (domain kHTTPErrorDomain).
  bool isValid(Error* reason = nullptr) const;
  bool requiresUserNameAndPassword() const;
  bool requiresAccountDomain() const { return method() == kNTLM; }
  // Basic sends the password as it is; the others never do.
  bool sendsPasswordInClear() const { return method() == kBasic; }

  // Sets the answer on message (a request message). False when the object
  // is not valid, the credentials lack a user name or password, or the
  // message is not a request.
  bool applyCredentials(HTTPMessage& message, const Credentials& credentials);

  // The Digest "Authorization" value for the kept challenge; for tests and
  // for applyCredentials. Nothing when this is not a valid Digest challenge.
  std::optional<std::string> digestAuthorization(const std::string& user,
                                                 const std::string& password,
                                                 const DigestRequestData& request) const;

 private:
  HTTPAuthentication() = default;
  void choose(const std::vector<AuthenticationChallenge>& challenges);

  bool proxy_ = false;
  std::string method_;
  std::optional<std::string> realm_;
  AuthenticationChallenge challenge_;
  std::optional<Error> invalid_;
  // Digest: the hash ("MD5", "SHA-256"), "-sess", qop "auth".
  std::string algorithm_;
  bool session_ = false;
  bool qopAuth_ = false;
  bool userhash_ = false;
  bool applied_ = false;

  // Guards everything above: the session shares objects between threads.
  mutable std::recursive_mutex mutex_;
  std::uint32_t nonceCount_ = 0;
};

// Digest's hash of text in lower-case hexadecimal: "MD5" or "SHA-256"
// (OpenSSL's digests); empty for any other name.
std::string digestHex(const std::string& algorithm, const std::string& text);

}  // namespace glowsnap
