// SMTPServer: a real SMTP server for a test (Debian's python3-aiosmtpd) on
// 127.0.0.1 with a port of the system's choosing. Every message it accepts
// is written, exactly as received, to a file of its own; with a user and a
// password it requires AUTH (PLAIN or LOGIN) before it takes mail. The
// password reaches it on its standard input, never in its arguments.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TestSupport.h"

namespace glowsnap::test {

class SMTPServer {
 public:
  struct Received {
    std::string mailFrom;
    std::vector<std::string> recipients;
    std::string data;  // the message, as the server received it
  };

  // Whether Python and aiosmtpd are installed (a test without them is
  // skipped, with the reason in *why).
  static bool available(std::string* why);
  // Starts the server; nullptr (with the reason in *why) when Python or
  // aiosmtpd is missing or it does not come up within 30 seconds.
  static std::unique_ptr<SMTPServer> start(
      std::string* why, const std::optional<std::string>& user = std::nullopt,
      const std::optional<std::string>& password = std::nullopt);
  ~SMTPServer();

  int port() const { return port_; }
  std::string url() const { return "smtp://127.0.0.1:" + std::to_string(port_); }
  // The messages received so far, oldest first.
  std::vector<Received> messages() const;
  std::string log() const { return child_ ? child_->logText() : ""; }

 private:
  SMTPServer() = default;
  TempDir dir_;
  std::unique_ptr<ChildProcess> child_;
  int port_ = 0;
};

}  // namespace glowsnap::test
