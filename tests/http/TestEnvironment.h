// Shared set-up of the HTTP client tests: a private configuration and
// temporary directory for the whole run, no proxy from the environment, and
// a delegate that records what it hears.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "http/HTTPRequest.h"
#include "platform/foundation/RunLoop.h"

namespace glowsnap::test {

// The directories the run uses (created once per process).
std::filesystem::path testConfigDirectory();
std::filesystem::path testTemporaryDirectory();

// Records the default callbacks; checks they arrive on the main thread.
class RecordingDelegate : public HTTPRequestDelegate {
 public:
  bool respondsToSelector(const Selector& s) const override {
    return s == "requestFinished:" || s == "requestFailed:";
  }
  void performSelector(const Selector& s, HTTPRequest& request) override {
    if (!isMainThread()) offMainThread = true;
    if (s == "requestFinished:") ++finished;
    if (s == "requestFailed:") {
      ++failed;
      if (auto e = request.error()) codes.push_back(e->code);
    }
  }
  std::atomic<int> finished{0};
  std::atomic<int> failed{0};
  std::atomic<bool> offMainThread{false};
  std::vector<int> codes;
};

}  // namespace glowsnap::test
