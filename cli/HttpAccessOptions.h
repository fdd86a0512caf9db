// HttpAccessOptions: the options of `glowsnap http` that say who the
// request is and which way it goes (credentials for the server and for a
// proxy, the proxy itself), kept apart from the options of the transfer.
// Every request the command makes gets them.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace CLI {
class App;
}

namespace glowsnap {
class HTTPRequest;
}

namespace glowsnap::cli {

class HttpAccessOptions {
 public:
  // Adds the options to the command.
  void add(CLI::App& command);
  // Applies them to a request before it starts. Nothing when that went
  // well, else the text of a usage error (the command exits with 2).
  // A password left out of -u or --proxy-user is asked for on the
  // terminal, without echo, once per run.
  std::optional<std::string> applyTo(HTTPRequest& request) const;

 private:
  std::string user_;
  std::string proxy_;
  std::string proxyUser_;
  std::string pac_;
  bool noProxy_ = false;
  bool keyring_ = false;
  mutable std::optional<std::pair<std::string, std::string>> server_, proxyCredentials_;
};

}  // namespace glowsnap::cli
