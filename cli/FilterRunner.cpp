#include "cli/FilterRunner.h"

#include <any>
#include <atomic>
#include <thread>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"

namespace glowsnap::cli {

Result<ImageRef> FilterRunner::run(PostProcess& filter, const ImageRef& image,
                                   const ProgressHandler& onProgress,
                                   const std::function<void()>& onEnd) {
  auto& center = NotificationCenter::defaultCenter();
  auto& loop = RunLoop::main();
  bool ended = false;
  ImageRef result;
  auto progressToken = center.addObserver(
      PostProcess::kProgressChangedNotification, nullptr, [&](const Notification& n) {
        if (!onProgress) return;
        if (const auto* text = std::any_cast<std::string>(&n.object)) onProgress(*text);
      });
  auto endToken = center.addObserver(PostProcess::kSearchEndNotification, nullptr,
                                     [&](const Notification&) {
                                       ended = true;
                                       result = filter.get_result();
                                       if (onEnd) onEnd();
                                     });

  // Without a source the loop would return at once and spin; this timer
  // never fires, it only keeps the loop waiting for the worker's messages.
  auto keepAlive = loop.addTimer(1e9, 0, [] {}, RunLoop::kDefaultMode);
  filter.prepare(image);
  std::atomic<bool> finished{false};
  bool accepted = false;
  std::thread worker([&] {
    accepted = filter.process(nullptr);
    finished = true;
    loop.perform([] {}, RunLoop::kCommonModes);  // wakes the loop below
  });
  while (!finished.load()) loop.runInMode(RunLoop::kDefaultMode, 1.0, true);
  worker.join();
  loop.removeTimer(keepAlive);
  center.removeObserver(progressToken);
  center.removeObserver(endToken);

  if (!accepted || !ended || !result) {
    return Error{"GlowsnapEngineErrorDomain", 1,
                 filter.get_name() + " could not run (the working bitmap could not be created)",
                 nullptr, {}};
  }
  return result;
}

}  // namespace glowsnap::cli
