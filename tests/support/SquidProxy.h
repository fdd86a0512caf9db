// SquidProxy: a real squid on 127.0.0.1 for the tests, in a private
// directory, asking for one kind of proxy authentication with squid's own
// helpers: basic_ncsa_auth (Basic), digest_file_auth (Digest, MD5),
// ntlm_fake_auth (NTLM: the whole handshake on one connection, any
// password accepted, since no domain controller can run here).
//
// With reverse set, squid stands in front of an origin server instead
// (an accelerator) and asks with 401 and "WWW-Authenticate", as a server
// would: the way to meet server-side NTLM here.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "support/ChildProcess.h"

namespace glowsnap::test {

class SquidProxy {
 public:
  enum class Scheme { None, Basic, Digest, NTLM };

  struct Options {
    Scheme scheme = Scheme::Basic;
    std::string user = "squiduser";
    std::string password = "squid password";
    // For an accelerator: the origin it forwards to.
    int reverseToPort = 0;
  };

  // A running squid, or nullptr with the reason (squid or its helper is not
  // installed, or it did not start).
  static std::unique_ptr<SquidProxy> start(const Options& options, std::string* why);
  ~SquidProxy();

  int port() const { return port_; }
  static constexpr const char* kBasicRealm = "glowsnap-basic";
  static constexpr const char* kDigestRealm = "glowsnap-digest";
  // What squid logged about the requests it saw.
  std::string accessLog() const;

 private:
  SquidProxy() = default;
  std::filesystem::path root_;
  int port_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace glowsnap::test
