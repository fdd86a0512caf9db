#include "cli/HttpDownloads.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "cli/ApplyCommand.h"
#include "cli/HttpAccessOptions.h"
#include "cli/HttpCommand.h"
#include "cli/HttpProgressBar.h"
#include "http/NetworkQueue.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/RunLoop.h"

namespace glowsnap::cli {

namespace fs = std::filesystem;

namespace {

// One URL's download and where it lands.
struct Download {
  std::string shown;  // the URL without user information
  std::shared_ptr<HTTPRequest> request;
  fs::path target;  // DIR/name
};

class BatchDelegate : public NetworkQueueDelegate {
 public:
  bool respondsToSelector(const Selector& s) const override { return s == "queueDidFinish:"; }
  void performSelector(const Selector&, HTTPRequest&) override {}
  void performSelector(const Selector&, NetworkQueue&) override { done = true; }
  bool done = false;
};

}  // namespace

std::optional<std::string> downloadFileName(const URL& url) {
  const std::string& path = url.path();
  if (path.empty() || path.back() == '/') return std::string("index.html");
  std::string name = percentDecode(path.substr(path.rfind('/') + 1));
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of(std::string("/\0", 2)) != std::string::npos)
    return std::nullopt;
  return name;
}

int runDownloads(const HttpDownloadOptions& o) {
  const fs::path dir = o.directory;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir)) {
      std::fprintf(stderr, "glowsnap http: -O %s: not a directory and cannot be made one%s%s\n",
                   dir.c_str(), ec ? ": " : "", ec ? ec.message().c_str() : "");
      return kExitOutput;
    }
  }

  // Every output is planned before anything is fetched.
  std::vector<Download> downloads;
  std::map<fs::path, std::string> claimed;
  for (const auto& text : o.urls) {
    auto url = URL::parse(text);
    if (!url || (url->scheme() != "http" && url->scheme() != "https")) {
      std::fprintf(stderr, "glowsnap http: %s: not an http or https URL\n", text.c_str());
      return kExitUsage;
    }
    Download d;
    d.shown = url->wireString();
    auto name = downloadFileName(*url);
    if (!name) {
      std::fprintf(stderr, "glowsnap http: %s: its path names no file to save it as\n",
                   d.shown.c_str());
      return kExitUsage;
    }
    d.target = dir / *name;
    auto resolved = AtomicFile::resolveOutput(d.target);
    if (!resolved) {
      std::fprintf(stderr, "glowsnap http: %s\n", resolved.error().description.c_str());
      return kExitOutput;
    }
    if (resolved.value().stream) {
      std::fprintf(stderr, "glowsnap http: %s: not a regular file; -O saves regular files only\n",
                   d.target.c_str());
      return kExitOutput;
    }
    auto key = resolved.value().path.lexically_normal();
    if (auto it = claimed.find(key); it != claimed.end()) {
      std::fprintf(stderr, "glowsnap http: %s and %s would both be saved as %s\n",
                   it->second.c_str(), d.shown.c_str(), d.target.c_str());
      return kExitUsage;
    }
    claimed[key] = d.shown;
    d.request = HTTPRequest::requestWithURL(url);
    downloads.push_back(std::move(d));
  }

  auto queue = NetworkQueue::queue();
  // A failed download does not cancel the others.
  queue->setShouldCancelAllRequestsOnFailure(false);
  queue->setShowAccurateProgress(true);
  BatchDelegate delegate;
  queue->setDelegate(&delegate);
  queue->setQueueDidFinishSelector("queueDidFinish:");
  std::unique_ptr<HttpProgressBar> bar;
  if (o.progressBar) {
    bar = std::make_unique<HttpProgressBar>("download " + std::to_string(downloads.size()) +
                                            (downloads.size() == 1 ? " file " : " files"));
    queue->setDownloadProgressDelegate(bar.get());
  }
  for (auto& d : downloads) {
    auto& r = *d.request;
    for (const auto& [name, value] : o.headers) r.addRequestHeader(name, value);
    if (o.access) {
      if (auto problem = o.access->applyTo(r)) {
        std::fprintf(stderr, "glowsnap http: %s\n", problem->c_str());
        return kExitUsage;
      }
    }
    r.setTimeOutSeconds(o.timeout);
    r.setValidatesSecureCertificate(!o.noVerify);
    // The request writes by the output rules: into a temporary beside the
    // target (removed on a signal), renamed over it once complete.
    r.setDownloadDestinationPath(d.target.string());
    queue->addOperation(d.request);
  }
  queue->go();
  while (!delegate.done) RunLoop::main().runInMode(RunLoop::kDefaultMode, 0.25, true);
  // The finish message can arrive while the queue's workers are still
  // ending their last requests (handing the main thread what is left to
  // say): the command returns only once they are done, so that nothing of
  // theirs runs while the process ends.
  while (queue->operationCount() > 0) RunLoop::main().runInMode(RunLoop::kDefaultMode, 0.05, true);
  // Values still queued for the bar arrive before it goes.
  RunLoop::main().runInMode(RunLoop::kDefaultMode, 0, false);
  bar.reset();

  int status = kExitOk;
  for (auto& d : downloads) {
    if (auto note = d.request->keychainError())
      std::fprintf(stderr, "glowsnap http: %s: %s\n", d.shown.c_str(), note->description.c_str());
    if (auto error = d.request->error()) {
      std::fprintf(stderr, "glowsnap http: %s: %s %d: %s\n", d.shown.c_str(), error->domain.c_str(),
                   error->code, error->description.c_str());
      for (auto cause = error->underlying; cause; cause = cause->underlying)
        std::fprintf(stderr, "  caused by %s %d: %s\n", cause->domain.c_str(), cause->code,
                     cause->description.c_str());
      if (status == kExitOk) status = HttpCommand::kExitRequestFailedBase + error->code;
    }
  }
  return status;
}

}  // namespace glowsnap::cli
