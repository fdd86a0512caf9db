// glowsnap: tone-mapping filters for photos on the command line.
#include <CLI/CLI.hpp>

#include "cli/ApplyCommand.h"
#include "cli/HttpCommand.h"
#include "cli/ListCommand.h"

int main(int argc, char** argv) {
  CLI::App app{"glowsnap: give photos an HDR look, bloom, contrast or colour"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "glowsnap 0.1.0");
  int exitCode = 0;
  glowsnap::cli::ListCommand::add(app, exitCode);
  glowsnap::cli::ApplyCommand::add(app, exitCode);
  glowsnap::cli::HttpCommand::add(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int code = app.exit(e);
    return code == 0 ? 0 : glowsnap::cli::kExitUsage;
  }
  return exitCode;
}
