// ApplyCommand: `glowsnap apply`, one filter over one photo or a batch.
//
// Each input is decoded and normalised in one step (EXIF orientation
// honoured, drawn upright, longest side capped at the maximum resolution,
// exactly as the application normalises before a run), filtered and written
// in the output's format. A failing input is reported on one line and the
// batch goes on. In a batch, photos are decoded and encoded on every core
// while the filter runs one photo at a time on the main thread; outputs,
// messages and the exit status are those of a one-by-one run.
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
  bool strict = false;  // a decoder's warning fails the photo
  std::string format;   // "jpg", "png" or empty (by extension)
  std::vector<std::filesystem::path> inputs;
  std::filesystem::path output;
  int workers = 0;  // threads for decoding and encoding; 0: the machine's
};

class ApplyCommand {
 public:
  // Registers the subcommand; its callback stores the exit status in exitCode.
  static void add(CLI::App& app, int& exitCode);
  // Runs with parsed options; answers the exit status.
  static int run(const ApplyOptions& options);
};

}  // namespace glowsnap::cli
