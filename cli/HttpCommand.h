// HttpCommand: `glowsnap http`, a small diagnostic front end of the HTTP
// client in the manner of curl. It runs one request synchronously (a form
// request when -F is given), prints the body or writes it with -o, and on
// failure names the request and the error's domain, code and description
// on stderr and exits with 10 + the error's code.
#pragma once

namespace CLI {
class App;
}

namespace glowsnap::cli {

class HttpCommand {
 public:
  static constexpr int kExitRequestFailedBase = 10;
  static void add(CLI::App& app, int& exitCode);
};

}  // namespace glowsnap::cli
