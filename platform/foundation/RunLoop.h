// RunLoop: one event loop per thread, created on first use.
//
// A loop runs in a named mode and serves only the timers, file-descriptor
// sources and performed functions registered for that mode. The name
// kCommonModes registers for the default mode and every mode marked common
// with addCommonMode(). perform() and wakeUp() may be called from any
// thread; everything else is meant for the loop's own thread but is
// thread-safe as well.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace glowsnap {

class RunLoop {
 public:
  static constexpr const char* kDefaultMode = "kCFRunLoopDefaultMode";
  static constexpr const char* kCommonModes = "kCFRunLoopCommonModes";

  enum class RunResult { Finished = 1, Stopped = 2, TimedOut = 3, HandledSource = 4 };
  enum FdEvent : unsigned { Readable = 1u, Writable = 2u, Failed = 4u };

  using Handle = std::uint64_t;

  // The loop of the calling thread (created on first use).
  static RunLoop& current();
  // The main thread's loop, reachable from any thread.
  static RunLoop& main();

  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // A timer that fires after delaySeconds and then, if repeatSeconds > 0,
  // every repeatSeconds. Removing a timer from its own callback is allowed.
  Handle addTimer(double delaySeconds, double repeatSeconds, std::function<void()> fn,
                  const std::string& mode = kDefaultMode);
  void removeTimer(Handle timer);

  // Calls fn with the FdEvent bits that happened while fd is readable and/or
  // writable (as asked in events), level-triggered, whenever the loop runs in
  // mode. The loop does not own fd.
  Handle addFdSource(int fd, unsigned events, std::function<void(unsigned revents)> fn,
                     const std::string& mode = kDefaultMode);
  void removeFdSource(Handle source);

  // Queues fn to run once on this loop's thread the next time the loop runs
  // in mode, and wakes the loop. Safe from any thread.
  void perform(std::function<void()> fn, const std::string& mode = kCommonModes);

  // Marks a mode as part of kCommonModes.
  void addCommonMode(const std::string& mode);

  // Runs the loop in mode for at most seconds. Returns Finished when the mode
  // has no sources, timers or queued work at all, Stopped after stop(),
  // TimedOut when the time ran out and HandledSource after the first source
  // when returnAfterSourceHandled is true.
  RunResult runInMode(const std::string& mode, double seconds, bool returnAfterSourceHandled);
  // Runs in the default mode until stop().
  void run();
  // Makes the innermost runInMode of this loop return Stopped. Any thread.
  void stop();
  // Interrupts a wait of the loop. Any thread.
  void wakeUp();

  // The mode the loop runs in now, empty when it is not running.
  std::string currentMode() const;

  // For driving the loop from another event loop (the GUI's): a descriptor
  // that becomes readable when work for mode may be ready, the seconds to the
  // next timer of mode, and one non-blocking round of work.
  int descriptorForMode(const std::string& mode);
  std::optional<double> secondsUntilNextTimer(const std::string& mode) const;
  bool processPending(const std::string& mode);

 private:
  RunLoop();
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// True on the process's main thread (the thread whose id is the process id).
bool isMainThread();

// Runs fn on the main thread's loop. With waitUntilDone the caller blocks
// until fn has run; called on the main thread with waitUntilDone, fn runs at
// once. The main thread must be running its loop for queued work to happen.
void performOnMainThread(std::function<void()> fn, bool waitUntilDone);

}  // namespace glowsnap
