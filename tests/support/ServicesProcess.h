// ServicesProcess: a real glowsnap-services for a test, run as a separate
// process on 127.0.0.1 with a port of the system's choosing and a data
// directory of its own (removed afterwards). The server is stopped (TERM,
// then KILL after a deadline) when the object goes away.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace glowsnap::test {

class ServicesProcess {
 public:
  struct Output {
    int status = -1;  // exit status, or -1 when the program did not end in time
    std::string out;
    std::string err;
  };

  // executable: the glowsnap-services to run.
  explicit ServicesProcess(std::filesystem::path executable);
  ~ServicesProcess();
  ServicesProcess(const ServicesProcess&) = delete;
  ServicesProcess& operator=(const ServicesProcess&) = delete;

  // Runs one command of the program on this data directory ("add-user",
  // "ann" ...) with input on its standard input; waits at most 60 seconds.
  Output run(const std::vector<std::string>& args, const std::string& input = "") const;

  // A user "ann" (password "correct horse"), an application "Glowsnap" whose
  // key and secret are kept below, and ann's photo_upload permission for it.
  // False (with the reason in error) when a step failed.
  bool addStandardAccounts(std::string& error);

  // Starts serving with extra options; waits (at most 30 seconds) until the
  // port is known. False with the reason in error.
  bool start(std::string& error, const std::vector<std::string>& extraArgs = {});
  // True when the server ended on TERM within the deadline (false when it
  // had to be killed, or was not running).
  bool stop();
  bool isRunning() const;
  // The file the server writes its port to (removed when it stops).
  std::filesystem::path portFile() const { return dir_.path() / "port"; }

  int port() const { return port_; }
  std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_); }
  const std::filesystem::path& dataDirectory() const { return data_; }
  // What the server wrote to standard error so far.
  std::string log() const;

  std::string userName = "ann";
  std::string password = "correct horse";
  std::string apiKey;
  std::string secret;

 private:
  std::filesystem::path executable_;
  TempDir dir_;
  std::filesystem::path data_;
  mutable pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace glowsnap::test
