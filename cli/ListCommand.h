// ListCommand: `glowsnap list`, the filters by display name.
#pragma once

namespace CLI {
class App;
}

namespace glowsnap::cli {

class ListCommand {
 public:
  static void add(CLI::App& app, int& exitCode);
};

}  // namespace glowsnap::cli
