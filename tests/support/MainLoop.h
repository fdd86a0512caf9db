// Waiting in tests for what arrives through the main thread's run loop,
// always with a deadline.
#pragma once

#include <chrono>
#include <thread>

#include "platform/foundation/RunLoop.h"

namespace glowsnap::test {

// Runs the main loop until pred() holds or seconds have passed; answers
// pred() at the end.
template <typename Pred>
bool spinMainLoopUntil(Pred pred, double seconds = 30.0) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    // A loop with nothing registered answers at once; no need to spin hot.
    if (RunLoop::main().runInMode(RunLoop::kDefaultMode, 0.05, true) ==
        RunLoop::RunResult::Finished)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Waits on the calling thread, without serving any loop, until pred() holds
// or seconds have passed; answers pred() at the end. For waits that must not
// let the main loop deliver anything meanwhile.
template <typename Pred>
bool waitUntil(Pred pred, double seconds = 30.0) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    std::this_thread::yield();
  }
  return true;
}

// Runs the main loop for seconds, whatever happens.
inline void spinMainLoopFor(double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline)
    if (RunLoop::main().runInMode(RunLoop::kDefaultMode, 0.02, false) ==
        RunLoop::RunResult::Finished)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace glowsnap::test
