#include "platform/foundation/TemporaryFiles.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <climits>
#include <cstring>

namespace glowsnap {
namespace {

// A slot is free, being filled or emptied by a thread, or holding a path.
// The signal handler only reads slots that hold a path.
enum SlotState : int { kFree = 0, kBusy = 1, kHeld = 2 };

struct Slot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};

// Enough for the files a batch and a queue of requests have open at once.
constexpr std::size_t kSlots = 512;
std::array<Slot, kSlots> g_slots;

}  // namespace

bool TemporaryFiles::track(const std::filesystem::path& path) {
  const std::string& text = path.native();
  if (text.empty() || text.size() >= PATH_MAX) return false;
  for (Slot& slot : g_slots) {
    int expected = kFree;
    if (!slot.state.compare_exchange_strong(expected, kBusy, std::memory_order_acquire)) continue;
    std::memcpy(slot.path, text.c_str(), text.size() + 1);
    slot.state.store(kHeld, std::memory_order_release);
    return true;
  }
  return false;
}

void TemporaryFiles::untrack(const std::filesystem::path& path) {
  const std::string& text = path.native();
  for (Slot& slot : g_slots) {
    if (slot.state.load(std::memory_order_acquire) != kHeld) continue;
    if (std::strcmp(slot.path, text.c_str()) != 0) continue;
    int expected = kHeld;
    if (slot.state.compare_exchange_strong(expected, kBusy, std::memory_order_acquire)) {
      slot.state.store(kFree, std::memory_order_release);
      return;
    }
  }
}

int TemporaryFiles::count() {
  int n = 0;
  for (const Slot& slot : g_slots) n += slot.state.load(std::memory_order_acquire) == kHeld;
  return n;
}

void TemporaryFiles::removeAllTracked() {
  for (Slot& slot : g_slots) {
    if (slot.state.load(std::memory_order_acquire) == kHeld) ::unlink(slot.path);
  }
}

namespace {

void onTerminatingSignal(int sig) {
  TemporaryFiles::removeAllTracked();
  ::_exit(128 + sig);
}

}  // namespace

void TemporaryFiles::removeOnSignals() {
  struct sigaction action {};
  action.sa_handler = onTerminatingSignal;
  sigemptyset(&action.sa_mask);
  // While one signal is handled the others wait, so the files are removed
  // once and the exit status names the first signal.
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, sig);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

}  // namespace glowsnap
