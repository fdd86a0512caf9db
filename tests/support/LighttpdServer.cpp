#include "support/LighttpdServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

namespace glowsnap::test {

namespace fs = std::filesystem;

std::unique_ptr<LighttpdServer> LighttpdServer::start(std::string* why) {
  auto lighttpd = findProgram("lighttpd");
  if (!lighttpd) {
    *why = "lighttpd is not installed";
    return nullptr;
  }
  auto s = std::unique_ptr<LighttpdServer>(new LighttpdServer);
  auto dir = makePrivateDirectory("lighttpd", why);
  if (!dir) return nullptr;
  s->root_ = *dir;
  for (const char* d : {"www/md5", "www/sha256", "www/basic"}) fs::create_directories(s->root_ / d);
  const std::string u = kUser, p = kPassword;
  // The digest file holds hashes of user, realm and password, never the
  // password itself; Basic checks against the same lines.
  std::ofstream(s->root_ / "htdigest")
      << u << ":" << kMD5Realm << ":" << hexDigest("MD5", u + ":" + kMD5Realm + ":" + p) << "\n"
      << u << ":" << kSHA256Realm << ":" << hexDigest("SHA-256", u + ":" + kSHA256Realm + ":" + p)
      << "\n"
      << u << ":" << kBasicRealm << ":" << hexDigest("MD5", u + ":" + kBasicRealm + ":" + p)
      << "\n";
  s->port_ = freeLoopbackPort();
  std::ofstream(s->root_ / "lighttpd.conf")
      << "server.document-root = \"" << (s->root_ / "www").string() << "\"\n"
      << "server.port = " << s->port_ << "\n"
      << "server.bind = \"127.0.0.1\"\n"
      << "server.errorlog = \"" << (s->root_ / "error.log").string() << "\"\n"
      << "server.modules = (\"mod_auth\", \"mod_authn_file\")\n"
      << "auth.backend = \"htdigest\"\n"
      << "auth.backend.htdigest.userfile = \"" << (s->root_ / "htdigest").string() << "\"\n"
      << "auth.require = (\n"
      << "  \"/md5/\" => (\"method\" => \"digest\", \"algorithm\" => \"MD5\", \"realm\" => \""
      << kMD5Realm << "\", \"require\" => \"valid-user\"),\n"
      << "  \"/sha256/\" => (\"method\" => \"digest\", \"algorithm\" => \"SHA-256\", \"realm\" => "
         "\""
      << kSHA256Realm << "\", \"require\" => \"valid-user\"),\n"
      << "  \"/basic/\" => (\"method\" => \"basic\", \"realm\" => \"" << kBasicRealm
      << "\", \"require\" => \"valid-user\"))\n";
  s->process_ =
      ChildProcess::start({lighttpd->string(), "-D", "-f", (s->root_ / "lighttpd.conf").string()},
                          {}, "", s->root_ / "lighttpd.out");
  if (!ChildProcess::listens(s->process_.get(), s->port_, std::chrono::seconds(15))) {
    *why = "lighttpd did not start: " + (s->process_ ? s->process_->logText() : "") + s->errorLog();
    return nullptr;
  }
  return s;
}

LighttpdServer::~LighttpdServer() {
  process_.reset();
  std::error_code ec;
  if (!root_.empty()) fs::remove_all(root_, ec);
}

std::string LighttpdServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LighttpdServer::addFile(const std::string& relative, const std::string& contents) {
  fs::path target = root_ / "www" / relative;
  fs::create_directories(target.parent_path());
  std::ofstream(target, std::ios::binary) << contents;
}

std::string LighttpdServer::errorLog() const {
  std::ifstream in(root_ / "error.log");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace glowsnap::test
