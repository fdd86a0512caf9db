// LighttpdServer: a real lighttpd on 127.0.0.1 for the tests, serving files
// from a private directory, with Digest authentication (lighttpd's own
// mod_auth, RFC 7616) under "/md5/" (algorithm MD5) and "/sha256/"
// (algorithm SHA-256), and Basic under "/basic/".
//
// A server that was not written by this project checks the answers, so
// the client's Digest is held to the standard, not to itself.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "support/ChildProcess.h"

namespace glowsnap::test {

class LighttpdServer {
 public:
  static constexpr const char* kUser = "alice";
  static constexpr const char* kPassword = "wonder land";
  static constexpr const char* kMD5Realm = "glowsnap-md5";
  static constexpr const char* kSHA256Realm = "glowsnap-sha256";
  static constexpr const char* kBasicRealm = "glowsnap-basic";

  // A running server, or nullptr with the reason.
  static std::unique_ptr<LighttpdServer> start(std::string* why);
  ~LighttpdServer();

  int port() const { return port_; }
  std::string url(const std::string& path) const;
  // Places a file under the document root ("md5/index.txt").
  void addFile(const std::string& relative, const std::string& contents);
  std::string errorLog() const;

 private:
  LighttpdServer() = default;
  std::filesystem::path root_;
  int port_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace glowsnap::test
