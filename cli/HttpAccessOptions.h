// HttpAccessOptions: the options of `glowsnap http` that say who the
// request is and which way it goes (credentials for the server and for a
// proxy, the proxy itself), kept apart from the options of the transfer.
// Every request the command makes gets them.
#pragma once

#include <optional>
#include <string>

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
  std::optional<std::string> applyTo(HTTPRequest& request) const;
};

}  // namespace glowsnap::cli
