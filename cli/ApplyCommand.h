// ApplyCommand: `glowsnap apply`, one filter over one photo or a batch.
//
// Each input is decoded (EXIF orientation honoured), normalised exactly as
// the application does before a run (drawn upright, longest side capped at
// the maximum resolution), filtered and written by the output's extension.
// A failing input is reported on one line and the batch goes on.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/ProgressReporter.h"

namespace CLI {
class App;
}

namespace glowsnap::cli {

// Exit statuses of the command line.
enum ExitCode : int { kExitOk = 0, kExitUsage = 2, kExitInput = 3, kExitOutput = 4 };

struct ApplyOptions {
  std::string filter;  // empty: the default filter
  int maxResolution = 800;
  float quality = 0.95f;
  ProgressReporter::Style progress = ProgressReporter::defaultStyle();
  bool timings = false;
  bool plainEngine = false;
  std::string format;  // "jpg", "png" or empty (by extension)
  std::vector<std::filesystem::path> inputs;
  std::filesystem::path output;
};

class ApplyCommand {
 public:
  // Registers the subcommand; its callback stores the exit status in exitCode.
  static void add(CLI::App& app, int& exitCode);
  // Runs with parsed options; answers the exit status.
  static int run(const ApplyOptions& options);
};

}  // namespace glowsnap::cli
