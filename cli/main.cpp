// glowsnap: tone-mapping filters for photos on the command line.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "cli/ApplyCommand.h"
#include "cli/ConfigCommand.h"
#include "cli/HttpCommand.h"
#include "cli/ListCommand.h"
#include "platform/foundation/TemporaryFiles.h"

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // A photo passes through several buffers of tens of megabytes (decoded,
  // upright, working bitmap, result, encoded), made on the main thread and
  // on the filter's worker. Kept on one heap, instead of being mapped and
  // unmapped one by one or spread over per-thread arenas, each reuses pages
  // an earlier step gave back rather than having the kernel hand out and
  // clear fresh ones; in a batch the next photo reuses them again.
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
#endif
  // Interrupted, the command removes the temporary files it was writing
  // and exits with 128 + the signal's number.
  glowsnap::TemporaryFiles::removeOnSignals();
  CLI::App app{"glowsnap: give photos an HDR look, bloom, contrast or colour"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "glowsnap 0.1.0");
  int exitCode = 0;
  glowsnap::cli::ListCommand::add(app, exitCode);
  glowsnap::cli::ApplyCommand::add(app, exitCode);
  glowsnap::cli::HttpCommand::add(app, exitCode);
  glowsnap::cli::ConfigCommand::add(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // One line, like every other error of the command line.
    std::fprintf(stderr, "glowsnap: %s (see glowsnap --help)\n", e.what());
    return glowsnap::cli::kExitUsage;
  }
  return exitCode;
}
