#include "support/SMTPServer.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace glowsnap::test {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPython = "/usr/bin/python3";

// Each message: <n>.from, <n>.to (one recipient a line), <n>.eml, and
// <n>.done written last.
constexpr const char* kScript = R"py(
import asyncio, os, sys
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult

out, port_file = sys.argv[1], sys.argv[2]
user = sys.argv[3] if len(sys.argv) > 3 else None
password = sys.stdin.readline().rstrip("\n") if user else None
count = [0]

class Handler:
    async def handle_DATA(self, server, session, envelope):
        count[0] += 1
        base = os.path.join(out, "%04d" % count[0])
        with open(base + ".from", "w") as f:
            f.write(envelope.mail_from or "")
        with open(base + ".to", "w") as f:
            f.write("\n".join(envelope.rcpt_tos))
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content)
        open(base + ".done", "w").close()
        return "250 OK"

def authenticator(server, session, envelope, mechanism, auth_data):
    ok = user is not None and auth_data.login == user.encode() and auth_data.password == password.encode()
    return AuthResult(success=ok)

kwargs = {}
if user:
    kwargs = dict(authenticator=authenticator, auth_required=True, auth_require_tls=False)
import socket
probe = socket.socket()
probe.bind(("127.0.0.1", 0))
free = probe.getsockname()[1]
probe.close()
controller = Controller(Handler(), hostname="127.0.0.1", port=free, **kwargs)
controller.start()
port = free
with open(port_file + ".tmp", "w") as f:
    f.write(str(port))
os.rename(port_file + ".tmp", port_file)
import signal, threading
stop = threading.Event()
signal.signal(signal.SIGTERM, lambda *a: stop.set())
stop.wait()
controller.stop()
)py";

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

std::unique_ptr<SMTPServer> SMTPServer::start(std::string* why,
                                              const std::optional<std::string>& user,
                                              const std::optional<std::string>& password) {
  if (!available(why)) return nullptr;
  std::unique_ptr<SMTPServer> server(new SMTPServer);
  const fs::path script = server->dir_ / "smtpd.py";
  const fs::path mail = server->dir_ / "mail";
  const fs::path portFile = server->dir_ / "port";
  fs::create_directories(mail);
  std::ofstream(script) << kScript;
  std::vector<std::string> argv = {kPython, script.string(), mail.string(), portFile.string()};
  if (user) argv.push_back(*user);
  server->child_ =
      ChildProcess::start(argv, {{"PYTHONDONTWRITEBYTECODE", "1"}},
                          user ? password.value_or("") + "\n" : "", server->dir_ / "smtpd.log");
  if (!server->child_) {
    *why = "the SMTP server could not be started";
    return nullptr;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(portFile)) {
    if (!server->child_->running() || std::chrono::steady_clock::now() > deadline) {
      *why = "the SMTP server did not come up (is python3-aiosmtpd installed?): " +
             server->child_->logText();
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  server->port_ = std::stoi(slurp(portFile));
  return server;
}

SMTPServer::~SMTPServer() = default;

bool SMTPServer::available(std::string* why) {
  if (fs::exists(kPython) && fs::exists("/usr/lib/python3/dist-packages/aiosmtpd")) return true;
  *why = "no aiosmtpd for /usr/bin/python3 (scripts/install-deps installs python3-aiosmtpd)";
  return false;
}

std::vector<SMTPServer::Received> SMTPServer::messages() const {
  std::vector<fs::path> done;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir_ / "mail", ec))
    if (e.path().extension() == ".done") done.push_back(e.path());
  std::sort(done.begin(), done.end());
  std::vector<Received> out;
  for (const fs::path& d : done) {
    fs::path base = d;
    base.replace_extension();
    Received r;
    r.mailFrom = slurp(base.string() + ".from");
    std::istringstream to(slurp(base.string() + ".to"));
    for (std::string line; std::getline(to, line);) r.recipients.push_back(line);
    r.data = slurp(base.string() + ".eml");
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace glowsnap::test
