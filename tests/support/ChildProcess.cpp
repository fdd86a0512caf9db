#include "support/ChildProcess.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

extern char** environ;

namespace glowsnap::test {

namespace fs = std::filesystem;

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                                  const std::map<std::string, std::string>& env,
                                                  const std::string& input, const fs::path& log) {
  if (argv.empty()) return nullptr;
  // Everything the child needs is made before fork: after it, only calls
  // that are safe in a copy of a threaded process are made.
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    auto name = entry.substr(0, entry.find('='));
    if (!env.count(name)) envText.push_back(entry);
  }
  for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (auto& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);

  int in[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return nullptr;
  int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) {
    ::close(in[0]);
    ::close(in[1]);
    return nullptr;
  }
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(in[0], 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::setpgid(0, 0);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out);
  if (pid < 0) {
    ::close(in[1]);
    return nullptr;
  }
  std::size_t off = 0;
  while (off < input.size()) {
    ssize_t n = ::write(in[1], input.data() + off, input.size() - off);
    if (n <= 0) break;
    off += static_cast<std::size_t>(n);
  }
  ::close(in[1]);
  auto child = std::unique_ptr<ChildProcess>(new ChildProcess);
  child->pid_ = pid;
  child->log_ = log;
  return child;
}

bool ChildProcess::running() {
  if (status_) return false;
  int status = 0;
  rusage usage{};
  pid_t r = ::wait4(pid_, &status, WNOHANG, &usage);
  if (r == pid_) {
    exited_ = WIFEXITED(status);
    maxResidentKiB_ = usage.ru_maxrss;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  return r == 0;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds deadline) {
  waitUntil([this] { return !running(); }, deadline);
  return status_;
}

ChildProcess::~ChildProcess() {
  if (!running()) return;
  ::kill(pid_, SIGTERM);
  if (wait(std::chrono::seconds(5))) return;
  ::kill(pid_, SIGKILL);
  wait(std::chrono::seconds(5));
}

bool ChildProcess::listens(ChildProcess* child, int port, std::chrono::milliseconds deadline) {
  return child &&
         waitUntil([&] { return !child->running() || loopbackPortAccepts(port); }, deadline) &&
         child->running();
}

std::string ChildProcess::logText() const {
  std::ifstream in(log_);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::optional<fs::path> findProgram(const std::string& name,
                                    const std::vector<std::string>& extraDirs) {
  std::vector<std::string> dirs = extraDirs;
  if (const char* path = std::getenv("PATH")) {
    std::string p(path);
    std::size_t b = 0;
    while (b <= p.size()) {
      auto e = p.find(':', b);
      if (e == std::string::npos) e = p.size();
      if (e > b) dirs.push_back(p.substr(b, e - b));
      b = e + 1;
    }
  }
  for (const char* d : {"/usr/sbin", "/sbin", "/usr/bin"}) dirs.emplace_back(d);
  for (const auto& d : dirs) {
    fs::path candidate = fs::path(d) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

bool waitUntil(const std::function<bool()>& ready, std::chrono::milliseconds deadline) {
  auto end = std::chrono::steady_clock::now() + deadline;
  while (true) {
    if (ready()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int freeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

std::optional<fs::path> makePrivateDirectory(const std::string& what, std::string* why) {
  std::string pattern = (fs::temp_directory_path() / ("glowsnap-" + what + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) {
    *why = "cannot make a private directory for " + what;
    return std::nullopt;
  }
  return fs::path(pattern);
}

bool loopbackPortAccepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

std::string hexDigest(const std::string& algorithm, const std::string& text) {
  const EVP_MD* md = algorithm == "SHA-256" ? EVP_sha256() : EVP_md5();
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(text.data(), text.size(), out, &n, md, nullptr);
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < n; ++i) {
    hex += digits[out[i] >> 4];
    hex += digits[out[i] & 15];
  }
  return hex;
}

}  // namespace glowsnap::test
