// ConfigCommand: `glowsnap config list|get|set|unset`, the settings of the
// desktop application (AppSettings): the Natter account, where the sharing
// services and the mail server are, and the application's own keys.
// Passwords are read without echo (or as one line of standard input when it
// is not a terminal), kept in the keyring and never printed.
#pragma once

namespace CLI {
class App;
}

namespace glowsnap::cli {

class ConfigCommand {
 public:
  static void add(CLI::App& app, int& exitCode);
};

}  // namespace glowsnap::cli
