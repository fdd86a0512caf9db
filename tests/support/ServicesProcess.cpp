#include "support/ServicesProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace glowsnap::test {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> argvOf(std::vector<std::string>& args) {
  std::vector<char*> out;
  for (auto& a : args) out.push_back(a.data());
  out.push_back(nullptr);
  return out;
}

// Waits for pid until the deadline; its exit status, or -1.
int waitUntil(pid_t pid, Clock::time_point deadline) {
  while (true) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (r < 0) return -1;
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

ServicesProcess::ServicesProcess(std::filesystem::path executable)
    : executable_(std::move(executable)), data_(dir_.path() / "data") {
  // A server that answers before it has read all (413) or a command that
  // ends before reading its input closes its side: the test then hears of
  // it as an error, not as a signal that ends the whole test program.
  ::signal(SIGPIPE, SIG_IGN);
}

ServicesProcess::~ServicesProcess() { stop(); }

ServicesProcess::Output ServicesProcess::run(const std::vector<std::string>& args,
                                             const std::string& input) const {
  Output output;
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) return output;
  std::vector<std::string> all = {executable_.string(), "--data", data_.string()};
  all.insert(all.end(), args.begin(), args.end());
  auto argv = argvOf(all);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  // Small inputs fit the pipe; the program reads them whole.
  if (!input.empty()) (void)!::write(in[1], input.data(), input.size());
  ::close(in[1]);
  auto deadline = Clock::now() + std::chrono::seconds(60);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  while (open > 0 && Clock::now() < deadline) {
    if (::poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? output.out : output.err).append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) ::close(f.fd);
  output.status = waitUntil(pid, deadline);
  if (output.status < 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  return output;
}

bool ServicesProcess::addStandardAccounts(std::string& error) {
  auto user = run({"add-user", userName}, password + "\n");
  if (user.status != 0) {
    error = "add-user failed: " + user.err;
    return false;
  }
  auto app = run({"add-app", "Glowsnap"});
  std::istringstream lines(app.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word == "api_key") words >> apiKey;
    if (word == "secret") words >> secret;
  }
  if (app.status != 0 || apiKey.empty() || secret.empty()) {
    error = "add-app failed: " + app.err + app.out;
    return false;
  }
  auto grant = run({"grant", userName, "photo_upload"});
  if (grant.status != 0) {
    error = "grant failed: " + grant.err;
    return false;
  }
  return true;
}

bool ServicesProcess::start(std::string& error, const std::vector<std::string>& extraArgs) {
  auto portFile = this->portFile();
  std::vector<std::string> all = {executable_.string(), "--data",      data_.string(),   "--listen",
                                  "127.0.0.1:0",        "--port-file", portFile.string()};
  all.insert(all.end(), extraArgs.begin(), extraArgs.end());
  auto argv = argvOf(all);
  std::string logPath = (dir_.path() / "server.log").string();
  pid_ = ::fork();
  if (pid_ == 0) {
    int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(log, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  auto deadline = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < deadline) {
    std::ifstream in(portFile);
    if (in >> port_ && port_ > 0) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error = "glowsnap-services ended before it served: " + log();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  error = "glowsnap-services did not report its port within 30 seconds: " + log();
  stop();
  return false;
}

bool ServicesProcess::isRunning() const {
  if (pid_ <= 0) return false;
  if (::waitpid(pid_, nullptr, WNOHANG) == 0) return true;
  pid_ = -1;  // reaped: the id may be handed to another process now
  return false;
}

bool ServicesProcess::stop() {
  if (pid_ <= 0) return false;
  ::kill(pid_, SIGTERM);
  bool ended = waitUntil(pid_, Clock::now() + std::chrono::seconds(10)) == 0;
  if (!ended) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
  // A sanitizer build of the server reports into its log: that is a failure
  // of the test that drove it, even when every answer was right.
  std::string text = log();
  if (text.find("Sanitizer") != std::string::npos ||
      text.find("runtime error:") != std::string::npos)
    ADD_FAILURE() << "glowsnap-services reported a fault:\n" << text;
  return ended;
}

std::string ServicesProcess::log() const {
  std::ifstream in(dir_.path() / "server.log");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace glowsnap::test
