#include "engine/ThreadPool.h"

#include <cstdlib>

namespace glowsnap {

namespace {

int machineThreads() {
  if (const char* forced = std::getenv("GLOWSNAP_ENGINE_THREADS")) {
    const int n = std::atoi(forced);
    if (n >= 1) return n;
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

}  // namespace

ThreadPool& ThreadPool::shared() {
  static ThreadPool pool(machineThreads());
  return pool;
}

ThreadPool::ThreadPool(int threads) {
  for (int i = 1; i < threads; ++i) m_threads.emplace_back([this, i] { workerLoop(i); });
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  for (std::thread& t : m_threads) t.join();
}

void ThreadPool::run(const std::function<void(int worker)>& body) {
  bool idle = false;
  if (m_threads.empty() || !m_busy.compare_exchange_strong(idle, true, std::memory_order_acquire)) {
    body(0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_body = &body;
    m_running = static_cast<int>(m_threads.size());
    ++m_generation;
  }
  m_wake.notify_all();
  body(0);
  std::unique_lock<std::mutex> lock(m_mutex);
  m_done.wait(lock, [this] { return m_running == 0; });
  m_body = nullptr;
  m_busy.store(false, std::memory_order_release);
}

void ThreadPool::workerLoop(int index) {
  std::uint64_t seen = 0;
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [&] { return m_stopping || m_generation != seen; });
    if (m_stopping) return;
    seen = m_generation;
    const std::function<void(int)>* body = m_body;
    lock.unlock();
    (*body)(index);
    lock.lock();
    if (--m_running == 0) m_done.notify_one();
  }
}

}  // namespace glowsnap
