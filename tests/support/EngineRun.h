// EngineRun: runs a filter the way the application does — process() on a
// worker thread, notifications delivered on the main thread — while the
// calling test spins the main thread's run loop, and records what arrived.
// Header-only, so test executables that do not link the engine are not
// affected. Must be called on the main thread.
#pragma once

#include <gtest/gtest.h>

#include <any>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/PostProcess.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"

namespace glowsnap::test {

struct EngineRunRecord {
  bool processReturned = false;       // process()'s return value
  std::vector<std::string> progress;  // objects of "progressChanged", in order
  int searchEndCount = 0;
  bool allOnMainThread = true;      // every notification arrived on the main thread
  std::vector<std::string> events;  // "progressChanged <text>" / "searchEnd", in order
  ImageRef result;                  // get_result() taken while handling "searchEnd"
};

// How long one run may take, under sanitizers too.
inline constexpr int kRunDeadlineSeconds = 240;

// Prepares filter with image and runs it on a worker thread until the run
// has ended (with or without "searchEnd").
inline EngineRunRecord runFilterOnWorker(PostProcess& filter, const ImageRef& image) {
  EngineRunRecord record;
  auto& center = NotificationCenter::defaultCenter();
  auto progressToken = center.addObserver(
      PostProcess::kProgressChangedNotification, nullptr, [&](const Notification& n) {
        if (!isMainThread()) record.allOnMainThread = false;
        const auto* text = std::any_cast<std::string>(&n.object);
        const std::string value = text ? *text : std::string("<no text>");
        record.progress.push_back(value);
        record.events.push_back("progressChanged " + value);
      });
  auto endToken =
      center.addObserver(PostProcess::kSearchEndNotification, nullptr, [&](const Notification&) {
        if (!isMainThread()) record.allOnMainThread = false;
        ++record.searchEndCount;
        record.events.push_back("searchEnd");
        record.result = filter.get_result();
      });

  filter.prepare(image);
  bool done = false;  // touched only on the main thread
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    returned = filter.process();
    performOnMainThread([&done] { done = true; }, false);
  });
  // A timer that never fires keeps the loop waiting instead of returning at
  // once when nothing else is registered.
  RunLoop& loop = RunLoop::current();
  auto keepAlive = loop.addTimer(1e9, 0, [] {});
  // The worker holds this frame's record and filter, so a run past its
  // deadline cannot be left behind: the test process stops, saying why,
  // instead of hanging until CTest's time-out.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(kRunDeadlineSeconds);
  while (!done) {
    if (std::chrono::steady_clock::now() >= deadline) {
      std::fprintf(stderr, "runFilterOnWorker: \"%s\" did not end within %d s\n",
                   filter.get_name().c_str(), kRunDeadlineSeconds);
      std::abort();
    }
    loop.runInMode(RunLoop::kDefaultMode, 1.0, true);
  }
  loop.removeTimer(keepAlive);
  worker.join();

  center.removeObserver(progressToken);
  center.removeObserver(endToken);
  record.processReturned = returned.load();
  return record;
}

}  // namespace glowsnap::test
