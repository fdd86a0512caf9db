// ThreadPool: the threads the fast traversal spreads a pass over. One pool
// lives as long as the process, sized to the machine, so that a run does not
// start or end a thread per pass.
//
// The pool does not split work itself: run() calls the same body on the
// calling thread and on every idle pool thread at once, and each body takes
// its share of the work from a counter it shares with the others. So a body
// must be written to finish all the work alone: when the pool is already busy
// (a run started from another thread, or run() called from a pool thread),
// the calling thread is the only one that runs it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace glowsnap {

class ThreadPool {
 public:
  // The process-wide pool: one thread fewer than the machine has hardware
  // threads (the caller of run() is the last one). GLOWSNAP_ENGINE_THREADS,
  // read once when the pool is first used, sets another total (at least 1),
  // for measuring how a pass scales.
  static ThreadPool& shared();

  // A pool of threads - 1 threads of its own; the caller makes the last one.
  explicit ThreadPool(int threads);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // How many threads a run() can use at most, the caller included.
  int concurrency() const { return static_cast<int>(m_threads.size()) + 1; }

  // Calls body(0) on the calling thread and body(1) … body(k − 1) on pool
  // threads, all at once, and returns when every call has returned. k is
  // concurrency() when the pool is free, 1 when it is busy.
  void run(const std::function<void(int worker)>& body);

 private:
  void workerLoop(int index);

  std::vector<std::thread> m_threads;
  std::atomic<bool> m_busy{false};  // set while a run() uses the pool
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_done;
  const std::function<void(int)>* m_body = nullptr;
  std::uint64_t m_generation = 0;
  int m_running = 0;
  bool m_stopping = false;
};

}  // namespace glowsnap
