#include "platform/foundation/RunLoop.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace glowsnap {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point after(double seconds) {
  if (seconds > 1e9) seconds = 1e9;  // "forever" without overflowing the clock
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(seconds < 0 ? 0 : seconds));
}

}  // namespace

struct RunLoop::Impl {
  struct Timer {
    Clock::time_point fireAt;
    double repeat;
    std::shared_ptr<std::function<void()>> fn;
    std::string mode;
  };
  struct FdSource {
    int fd;
    unsigned events;
    std::shared_ptr<std::function<void(unsigned)>> fn;
    std::string mode;
  };
  struct Work {
    std::function<void()> fn;
    std::string mode;
  };

  mutable std::mutex mutex;
  int wakeFd = -1;
  std::set<std::string> commonModes{kDefaultMode};
  std::map<Handle, Timer> timers;
  std::map<Handle, FdSource> sources;
  std::deque<Work> work;
  Handle next = 1;
  std::atomic<int> stopRequests{0};
  std::vector<std::string> modeStack;
  std::map<std::string, int> epolls;  // for driving from another event loop
  std::map<int, std::set<int>> epollMembers;

  // Makes the epoll descriptor ep watch the wake-up descriptor and the
  // sources of mode, and nothing else. Called with the mutex held.
  void syncEpoll(int ep, const std::string& mode) {
    std::map<int, unsigned> wanted;
    wanted[wakeFd] = EPOLLIN;
    for (const auto& [h, s] : sources) {
      if (!active(s.mode, mode)) continue;
      unsigned ev = 0;
      if (s.events & Readable) ev |= EPOLLIN;
      if (s.events & Writable) ev |= EPOLLOUT;
      wanted[s.fd] |= ev;
    }
    auto& members = epollMembers[ep];
    for (int fd : members)
      if (!wanted.count(fd)) ::epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
    members.clear();
    for (const auto& [fd, events] : wanted) {
      epoll_event ev{};
      ev.events = events;
      ev.data.fd = fd;
      // A descriptor closed and reopened under the same number has left the
      // set on its own, so a failed modification falls back to adding it.
      if (::epoll_ctl(ep, EPOLL_CTL_MOD, fd, &ev) != 0) ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
      members.insert(fd);
    }
  }

  // Whether a registration for regMode serves a loop running in mode.
  bool active(const std::string& regMode, const std::string& mode) const {
    return regMode == mode || (regMode == kCommonModes && commonModes.count(mode) > 0);
  }

  bool hasAnything(const std::string& mode) const {
    for (const auto& [h, t] : timers)
      if (active(t.mode, mode)) return true;
    for (const auto& [h, s] : sources)
      if (active(s.mode, mode)) return true;
    for (const auto& w : work)
      if (active(w.mode, mode)) return true;
    return false;
  }

  void signal() const {
    std::uint64_t one = 1;
    while (::write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }

  void drain() const {
    std::uint64_t value;
    while (::read(wakeFd, &value, sizeof value) < 0 && errno == EINTR) {
    }
  }

  // Runs the queued work of mode; returns how many ran.
  int runWork(const std::string& mode) {
    std::vector<std::function<void()>> batch;
    {
      std::lock_guard lock(mutex);
      for (auto it = work.begin(); it != work.end();) {
        if (active(it->mode, mode)) {
          batch.push_back(std::move(it->fn));
          it = work.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (auto& fn : batch) fn();
    return static_cast<int>(batch.size());
  }

  // Fires the timers of mode that are due; returns how many fired.
  int fireTimers(const std::string& mode) {
    int fired = 0;
    auto now = Clock::now();
    for (;;) {
      std::shared_ptr<std::function<void()>> fn;
      {
        std::lock_guard lock(mutex);
        auto due = timers.end();
        for (auto it = timers.begin(); it != timers.end(); ++it) {
          if (!active(it->second.mode, mode) || it->second.fireAt > now) continue;
          if (due == timers.end() || it->second.fireAt < due->second.fireAt) due = it;
        }
        if (due == timers.end()) break;
        fn = due->second.fn;
        if (due->second.repeat > 0) {
          auto next = due->second.fireAt + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(due->second.repeat));
          // A timer that fell behind skips the missed firings.
          due->second.fireAt = next > now ? next : after(due->second.repeat);
        } else {
          timers.erase(due);
        }
      }
      (*fn)();
      ++fired;
    }
    return fired;
  }

  std::optional<Clock::time_point> nextTimer(const std::string& mode) const {
    std::optional<Clock::time_point> best;
    for (const auto& [h, t] : timers)
      if (active(t.mode, mode) && (!best || t.fireAt < *best)) best = t.fireAt;
    return best;
  }

  // Waits until a source of mode is ready, the loop is woken or until;
  // then serves the ready sources. Returns how many sources were served.
  int waitAndServe(const std::string& mode, Clock::time_point until) {
    std::vector<pollfd> fds;
    std::vector<Handle> handles;
    fds.push_back({wakeFd, POLLIN, 0});
    {
      std::lock_guard lock(mutex);
      for (const auto& [h, s] : sources) {
        if (!active(s.mode, mode)) continue;
        short ev = 0;
        if (s.events & Readable) ev |= POLLIN;
        if (s.events & Writable) ev |= POLLOUT;
        fds.push_back({s.fd, ev, 0});
        handles.push_back(h);
      }
      if (auto t = nextTimer(mode); t && *t < until) until = *t;
    }
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    int timeout = wait.count() <= 0 ? 0 : static_cast<int>(std::min<long long>(wait.count() + 1, 1 << 30));
    int n = ::poll(fds.data(), fds.size(), timeout);
    if (n <= 0) return 0;
    if (fds[0].revents) drain();
    int served = 0;
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      unsigned revents = 0;
      if (fds[i].revents & (POLLIN | POLLHUP)) revents |= Readable;
      if (fds[i].revents & POLLOUT) revents |= Writable;
      if (fds[i].revents & (POLLERR | POLLNVAL | POLLHUP)) revents |= Failed;
      std::shared_ptr<std::function<void(unsigned)>> fn;
      {
        std::lock_guard lock(mutex);
        auto it = sources.find(handles[i - 1]);
        if (it == sources.end()) continue;  // removed by an earlier callback
        fn = it->second.fn;
      }
      (*fn)(revents);
      ++served;
    }
    return served;
  }
};

namespace {

std::mutex g_mainMutex;
RunLoop* g_main = nullptr;
thread_local std::unique_ptr<RunLoop> t_loop;

}  // namespace

RunLoop::RunLoop() : d_(std::make_unique<Impl>()) {
  d_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

RunLoop::~RunLoop() {
  for (auto& [mode, fd] : d_->epolls) ::close(fd);
  if (d_->wakeFd >= 0) ::close(d_->wakeFd);
}

RunLoop& RunLoop::main() {
  std::lock_guard lock(g_mainMutex);
  // The main thread's loop lives as long as the process, so other threads
  // may reach it at any time.
  if (!g_main) g_main = new RunLoop();
  return *g_main;
}

RunLoop& RunLoop::current() {
  if (isMainThread()) return main();
  if (!t_loop) t_loop.reset(new RunLoop());
  return *t_loop;
}

RunLoop::Handle RunLoop::addTimer(double delaySeconds, double repeatSeconds,
                                  std::function<void()> fn, const std::string& mode) {
  Handle h;
  {
    std::lock_guard lock(d_->mutex);
    h = d_->next++;
    d_->timers[h] = {after(delaySeconds), repeatSeconds,
                     std::make_shared<std::function<void()>>(std::move(fn)), mode};
  }
  d_->signal();  // a waiting loop must recompute its deadline
  return h;
}

void RunLoop::removeTimer(Handle timer) {
  std::lock_guard lock(d_->mutex);
  d_->timers.erase(timer);
}

RunLoop::Handle RunLoop::addFdSource(int fd, unsigned events, std::function<void(unsigned)> fn,
                                     const std::string& mode) {
  Handle h;
  {
    std::lock_guard lock(d_->mutex);
    h = d_->next++;
    d_->sources[h] = {fd, events, std::make_shared<std::function<void(unsigned)>>(std::move(fn)),
                      mode};
  }
  d_->signal();
  return h;
}

void RunLoop::removeFdSource(Handle source) {
  std::lock_guard lock(d_->mutex);
  d_->sources.erase(source);
}

void RunLoop::perform(std::function<void()> fn, const std::string& mode) {
  {
    std::lock_guard lock(d_->mutex);
    d_->work.push_back({std::move(fn), mode});
  }
  d_->signal();
}

void RunLoop::addCommonMode(const std::string& mode) {
  std::lock_guard lock(d_->mutex);
  d_->commonModes.insert(mode);
}

RunLoop::RunResult RunLoop::runInMode(const std::string& mode, double seconds,
                                      bool returnAfterSourceHandled) {
  const auto deadline = after(seconds);
  {
    std::lock_guard lock(d_->mutex);
    d_->modeStack.push_back(mode);
  }
  RunResult result = RunResult::TimedOut;
  for (;;) {
    if (d_->stopRequests.load() > 0) {
      d_->stopRequests.fetch_sub(1);
      result = RunResult::Stopped;
      break;
    }
    int handled = d_->runWork(mode);
    handled += d_->fireTimers(mode);
    if (handled && returnAfterSourceHandled) {
      result = RunResult::HandledSource;
      break;
    }
    bool empty;
    {
      std::lock_guard lock(d_->mutex);
      empty = !d_->hasAnything(mode);
    }
    if (empty) {
      result = RunResult::Finished;
      break;
    }
    if (Clock::now() >= deadline) {
      result = RunResult::TimedOut;
      break;
    }
    handled = d_->waitAndServe(mode, deadline);
    if (handled && returnAfterSourceHandled) {
      result = RunResult::HandledSource;
      break;
    }
  }
  bool otherWork;
  {
    std::lock_guard lock(d_->mutex);
    d_->modeStack.pop_back();
    otherWork = !d_->work.empty();
  }
  // This run may have swallowed a wake-up meant for an outer loop running in
  // another mode: pass it on.
  if (otherWork) d_->signal();
  return result;
}

void RunLoop::run() {
  while (runInMode(kDefaultMode, 1e10, false) != RunResult::Stopped) {
    // An empty loop has nothing to wait for; waiting on the wake-up
    // descriptor keeps run() from spinning until work arrives or stop().
    bool empty;
    {
      std::lock_guard lock(d_->mutex);
      empty = !d_->hasAnything(kDefaultMode);
    }
    if (empty) {
      pollfd p{d_->wakeFd, POLLIN, 0};
      ::poll(&p, 1, 100);
    }
  }
}

void RunLoop::stop() {
  d_->stopRequests.fetch_add(1);
  d_->signal();
}

void RunLoop::wakeUp() { d_->signal(); }

std::string RunLoop::currentMode() const {
  std::lock_guard lock(d_->mutex);
  return d_->modeStack.empty() ? std::string() : d_->modeStack.back();
}

int RunLoop::descriptorForMode(const std::string& mode) {
  std::lock_guard lock(d_->mutex);
  auto it = d_->epolls.find(mode);
  if (it != d_->epolls.end()) return it->second;
  int ep = ::epoll_create1(EPOLL_CLOEXEC);
  d_->epolls[mode] = ep;
  d_->syncEpoll(ep, mode);
  return ep;
}

std::optional<double> RunLoop::secondsUntilNextTimer(const std::string& mode) const {
  std::lock_guard lock(d_->mutex);
  auto t = d_->nextTimer(mode);
  if (!t) return std::nullopt;
  return std::max(0.0, std::chrono::duration<double>(*t - Clock::now()).count());
}

bool RunLoop::processPending(const std::string& mode) {
  {
    std::lock_guard lock(d_->mutex);
    d_->modeStack.push_back(mode);
  }
  d_->drain();
  int handled = d_->runWork(mode);
  handled += d_->fireTimers(mode);
  handled += d_->waitAndServe(mode, Clock::now());
  // Serving the sources drained the wake-up descriptor; work queued since
  // the first round would otherwise wait for the next unrelated wake-up.
  handled += d_->runWork(mode);
  // Keep the descriptor of this mode watching exactly the current sources.
  {
    std::lock_guard lock(d_->mutex);
    d_->modeStack.pop_back();
    auto it = d_->epolls.find(mode);
    if (it != d_->epolls.end()) d_->syncEpoll(it->second, mode);
  }
  return handled > 0;
}

bool isMainThread() { return ::syscall(SYS_gettid) == ::getpid(); }

void performOnMainThread(std::function<void()> fn, bool waitUntilDone) {
  if (waitUntilDone && isMainThread()) {
    fn();
    return;
  }
  if (!waitUntilDone) {
    RunLoop::main().perform(std::move(fn), RunLoop::kCommonModes);
    return;
  }
  struct State {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
  };
  auto state = std::make_shared<State>();
  RunLoop::main().perform(
      [fn = std::move(fn), state] {
        fn();
        std::lock_guard lock(state->m);
        state->done = true;
        state->cv.notify_all();
      },
      RunLoop::kCommonModes);
  std::unique_lock lock(state->m);
  state->cv.wait(lock, [&] { return state->done; });
}

}  // namespace glowsnap
