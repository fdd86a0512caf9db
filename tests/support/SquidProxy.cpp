#include "support/SquidProxy.h"

#include <arpa/inet.h>
#include <crypt.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace glowsnap::test {

namespace fs = std::filesystem;

namespace {

constexpr const char* kHelperDir = "/usr/lib/squid";

// A SHA-256 crypt(3) hash, as basic_ncsa_auth reads it.
std::string cryptHash(const std::string& password) {
  static const char alphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  unsigned char bytes[12];
  RAND_bytes(bytes, sizeof bytes);
  std::string salt = "$5$";
  for (unsigned char b : bytes) salt += alphabet[b % 64];
  crypt_data data{};
  const char* hash = ::crypt_r(password.c_str(), salt.c_str(), &data);
  return hash ? hash : "";
}

}  // namespace

std::unique_ptr<SquidProxy> SquidProxy::start(const Options& o, std::string* why) {
  auto squid = findProgram("squid");
  if (!squid) {
    *why = "squid is not installed";
    return nullptr;
  }
  const char* helper = nullptr;
  switch (o.scheme) {
    case Scheme::None:
      break;
    case Scheme::Basic:
      helper = "basic_ncsa_auth";
      break;
    case Scheme::Digest:
      helper = "digest_file_auth";
      break;
    case Scheme::NTLM:
      helper = "ntlm_fake_auth";
      break;
  }
  fs::path helperPath = helper ? fs::path(kHelperDir) / helper : fs::path();
  if (helper && ::access(helperPath.c_str(), X_OK) != 0) {
    *why = std::string("squid's helper ") + helper + " is not installed";
    return nullptr;
  }

  auto p = std::unique_ptr<SquidProxy>(new SquidProxy);
  auto dir = makePrivateDirectory("squid", why);
  if (!dir) return nullptr;
  p->root_ = *dir;
  // Squid started as root works as "proxy": it must reach its directory.
  bool root = ::geteuid() == 0;
  ::chmod(p->root_.c_str(), 0755);
  p->port_ = freeLoopbackPort();

  std::ofstream conf(p->root_ / "squid.conf");
  conf << "http_port 127.0.0.1:" << p->port_;
  if (o.reverseToPort) conf << " accel defaultsite=127.0.0.1:" << o.reverseToPort << " vhost";
  conf << "\n";
  if (o.reverseToPort)
    conf << "cache_peer 127.0.0.1 parent " << o.reverseToPort
         << " 0 no-query originserver name=origin\n";
  if (root) conf << "cache_effective_user proxy\n";
  conf << "pid_filename none\n"
       << "cache_log " << (p->root_ / "cache.log").string() << "\n"
       << "access_log stdio:" << (p->root_ / "access.log").string() << "\n"
       << "cache_store_log none\n"
       << "coredump_dir " << p->root_.string() << "\n"
       << "netdb_filename none\n"
       << "cache deny all\n"
       << "cache_mem 8 MB\n"
       << "dns_nameservers 127.0.0.1\n"
       << "visible_hostname glowsnap-test-proxy\n"
       << "shutdown_lifetime 0 seconds\n"
       << "forwarded_for delete\n"
       << "via off\n"
       << "pinger_enable off\n";
  switch (o.scheme) {
    case Scheme::None:
      break;
    case Scheme::Basic:
      std::ofstream(p->root_ / "passwd") << o.user << ":" << cryptHash(o.password) << "\n";
      conf << "auth_param basic program " << helperPath.string() << " "
           << (p->root_ / "passwd").string() << "\n"
           << "auth_param basic realm " << kBasicRealm << "\n";
      break;
    case Scheme::Digest:
      std::ofstream(p->root_ / "digest")
          << o.user << ":" << kDigestRealm << ":"
          << hexDigest("MD5", o.user + ":" + kDigestRealm + ":" + o.password) << "\n";
      conf << "auth_param digest program " << helperPath.string() << " -c "
           << (p->root_ / "digest").string() << "\n"
           << "auth_param digest realm " << kDigestRealm << "\n"
           << "auth_param digest nonce_garbage_interval 5 minutes\n";
      break;
    case Scheme::NTLM:
      conf << "auth_param ntlm program " << helperPath.string() << "\n"
           << "auth_param ntlm children 2\n";
      break;
  }
  if (o.scheme != Scheme::None) {
    conf << "acl authenticated proxy_auth REQUIRED\n"
         << "http_access deny !authenticated\n";
  }
  conf << "http_access allow all\n";
  conf.close();
  if (root) {
    if (passwd* pw = ::getpwnam("proxy")) {
      for (const auto& entry : fs::directory_iterator(p->root_))
        (void)::chown(entry.path().c_str(), pw->pw_uid, pw->pw_gid);
      (void)::chown(p->root_.c_str(), pw->pw_uid, pw->pw_gid);
    }
  }

  p->process_ =
      ChildProcess::start({squid->string(), "-N", "-f", (p->root_ / "squid.conf").string()}, {}, "",
                          p->root_ / "squid.out");
  if (!ChildProcess::listens(p->process_.get(), p->port_, std::chrono::seconds(20))) {
    std::ifstream log(p->root_ / "cache.log");
    std::string text(std::istreambuf_iterator<char>(log), {});
    *why = "squid did not start: " + (p->process_ ? p->process_->logText() : "") + text;
    return nullptr;
  }
  return p;
}

SquidProxy::~SquidProxy() {
  process_.reset();
  std::error_code ec;
  if (!root_.empty()) fs::remove_all(root_, ec);
}

std::string SquidProxy::accessLog() const {
  std::ifstream in(root_ / "access.log");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace glowsnap::test
