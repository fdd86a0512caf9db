// ChildProcess: a helper program the tests start as a real peer (a proxy, a
// web server, a keyring), ended when the object goes away.
//
// The child gets the test's environment plus the given variables, reads the
// given text on its standard input (so that no secret ever appears in its
// arguments), writes its output to a log file, and is sent SIGTERM when the
// test process dies, however it dies.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace glowsnap::test {

class ChildProcess {
 public:
  // Starts argv (argv[0] a full path); nothing when it cannot be started.
  static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv,
                                             const std::map<std::string, std::string>& env,
                                             const std::string& input,
                                             const std::filesystem::path& log);
  // SIGTERM, then SIGKILL when it has not ended within five seconds.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // Waits for the child to end by itself; its exit status, or nothing at
  // the deadline.
  std::optional<int> wait(std::chrono::milliseconds deadline);
  // Once it has ended: whether it exited by itself (a status of 128 + n
  // from its own handler) rather than being killed by signal n.
  bool exited() const { return exited_; }
  // Once it has ended: its peak resident memory in KiB.
  long maxResidentKiB() const { return maxResidentKiB_; }
  const std::filesystem::path& log() const { return log_; }
  std::string logText() const;
  // Whether child is running and listening on port of 127.0.0.1 by the
  // deadline.
  static bool listens(ChildProcess* child, int port, std::chrono::milliseconds deadline);

 private:
  ChildProcess() = default;
  pid_t pid_ = -1;
  std::optional<int> status_;
  bool exited_ = false;
  long maxResidentKiB_ = 0;
  std::filesystem::path log_;
};

// The full path of a program in PATH or in one of the extra directories;
// nothing when it is not installed.
std::optional<std::filesystem::path> findProgram(const std::string& name,
                                                 const std::vector<std::string>& extraDirs = {});

// Polls until ready() holds or the deadline passes; true when it held.
bool waitUntil(const std::function<bool()>& ready, std::chrono::milliseconds deadline);

// A TCP port on 127.0.0.1 that was free a moment ago (for peers that must be
// told their port; they fail clearly when someone took it meanwhile).
int freeLoopbackPort();

// A new directory "glowsnap-<what>-XXXXXX" under the temporary directory;
// nothing (with the reason in *why) when it cannot be made.
std::optional<std::filesystem::path> makePrivateDirectory(const std::string& what,
                                                          std::string* why);

// Whether something listens on that port of 127.0.0.1.
bool loopbackPortAccepts(int port);

// "MD5" or "SHA-256" of text in lower-case hexadecimal, for the password
// files of the peers.
std::string hexDigest(const std::string& algorithm, const std::string& text);

}  // namespace glowsnap::test
