// HttpDownloads: `glowsnap http URL... -O DIR`, several downloads at once
// through a NetworkQueue (four at a time), each into DIR under the last
// segment of its URL's path, with one combined progress bar.
//
// Every output is planned before anything is fetched (two URLs naming one
// file, a name that is no file name, a target that is not a regular file
// are usage errors). Each download follows the client's output rules: a
// temporary file beside its target replaces it atomically once complete (a
// replaced file keeps its permissions, a symlink is written through), so a
// failed or interrupted download leaves the old file, or nothing, behind. A failure
// does not stop the others; the exit status is that of the first failure
// in the order the URLs were given.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/net/URL.h"

namespace glowsnap::cli {

class HttpAccessOptions;

struct HttpDownloadOptions {
  std::vector<std::string> urls;
  std::string directory;
  std::vector<std::pair<std::string, std::string>> headers;
  double timeout = 10.0;
  bool noVerify = false;
  bool progressBar = false;
  const HttpAccessOptions* access = nullptr;
};

// The file a URL is saved under: the last segment of its path, decoded;
// "index.html" for a path that ends in "/"; nothing when the segment cannot
// name a file in the directory ("." , "..", a "/" or a NUL once decoded).
std::optional<std::string> downloadFileName(const URL& url);

// Runs the downloads; the command's exit status.
int runDownloads(const HttpDownloadOptions& options);

}  // namespace glowsnap::cli
