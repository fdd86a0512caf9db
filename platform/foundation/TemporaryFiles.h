// TemporaryFiles: the temporary files this process has made and not yet
// renamed or removed, so that a terminating signal does not leave them
// behind. The table is fixed in size and read by the signal handler
// without locks or allocation.
#pragma once

#include <filesystem>

namespace glowsnap {

class TemporaryFiles {
 public:
  // Remembers a temporary file. Returns false when the table is full (the
  // file is then not removed on a signal; nothing else changes).
  static bool track(const std::filesystem::path& path);
  // Forgets it again, after it was renamed into place or removed.
  static void untrack(const std::filesystem::path& path);
  // How many files are tracked now.
  static int count();

  // Installs handlers for SIGINT, SIGTERM and SIGHUP that remove every
  // tracked file and end the process with exit status 128 + the signal
  // number. Safe to call more than once.
  static void removeOnSignals();

  // Removes every tracked file now, as the signal handler does. Async-
  // signal-safe.
  static void removeAllTracked();
};

}  // namespace glowsnap
