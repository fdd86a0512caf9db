#include "http/OperationQueue.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace glowsnap {

namespace {

// An operation whose dependencies are elsewhere is looked at again this
// often, since nothing here hears when they finish.
constexpr auto kRecheck = std::chrono::milliseconds(50);
// A worker with nothing to do waits this long for more before it ends.
constexpr auto kIdleWorker = std::chrono::milliseconds(500);

}  // namespace

struct OperationQueue::State {
  std::mutex mutex;
  std::condition_variable changed;
  struct Entry {
    std::shared_ptr<Operation> operation;
    std::uint64_t order;
  };
  std::vector<Entry> waiting;
  std::vector<std::shared_ptr<Operation>> running;
  std::uint64_t nextOrder = 0;
  int maxConcurrent = kDefaultMaxConcurrentOperationCount;
  bool suspended = false;
  bool gone = false;
  int workers = 0;
  int idleWorkers = 0;
  std::function<void(const std::shared_ptr<Operation>&)> onEnd;

  // Under mutex: the next operation to start, taken out of waiting.
  std::shared_ptr<Operation> takeReady() {
    if (suspended || gone || static_cast<int>(running.size()) >= maxConcurrent) return nullptr;
    auto best = waiting.end();
    for (auto it = waiting.begin(); it != waiting.end(); ++it) {
      const auto& op = *it->operation;
      if (!op.isCancelled() && !op.dependenciesFinished()) continue;
      if (best == waiting.end() || op.queuePriority() > best->operation->queuePriority() ||
          (op.queuePriority() == best->operation->queuePriority() && it->order < best->order))
        best = it;
    }
    if (best == waiting.end()) return nullptr;
    auto op = best->operation;
    waiting.erase(best);
    running.push_back(op);
    return op;
  }
};

OperationQueue::OperationQueue() : state_(std::make_shared<State>()) {}

OperationQueue::~OperationQueue() {
  std::vector<std::shared_ptr<Operation>> unstarted;
  {
    std::lock_guard lock(state_->mutex);
    state_->gone = true;
    for (auto& e : state_->waiting) unstarted.push_back(e.operation);
    state_->waiting.clear();
    state_->changed.notify_all();
  }
  for (auto& op : unstarted) {
    op->cancel();
    op->removeAllDependencies();
  }
}

void OperationQueue::setOperationEndHandler(
    std::function<void(const std::shared_ptr<Operation>&)> handler) {
  std::lock_guard lock(state_->mutex);
  state_->onEnd = std::move(handler);
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation) {
  if (!operation) return;
  std::lock_guard lock(state_->mutex);
  auto& s = *state_;
  bool known = std::any_of(s.waiting.begin(), s.waiting.end(),
                           [&](const State::Entry& e) { return e.operation == operation; }) ||
               std::find(s.running.begin(), s.running.end(), operation) != s.running.end();
  if (known) return;
  s.waiting.push_back({std::move(operation), s.nextOrder++});
  startWorkerIfNeeded(state_);
}

void OperationQueue::cancelAllOperations() {
  std::vector<std::shared_ptr<Operation>> all = operations();
  // Cancelled outside the lock: cancelling tells delegates, who may add to
  // the queue again.
  for (auto& op : all) op->cancel();
  std::lock_guard lock(state_->mutex);
  // Cancelled operations are ready: the workers let them leave.
  startWorkerIfNeeded(state_);
  state_->changed.notify_all();
}

void OperationQueue::setSuspended(bool suspended) {
  std::lock_guard lock(state_->mutex);
  state_->suspended = suspended;
  if (!suspended) startWorkerIfNeeded(state_);
  state_->changed.notify_all();
}

bool OperationQueue::isSuspended() const {
  std::lock_guard lock(state_->mutex);
  return state_->suspended;
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
  std::lock_guard lock(state_->mutex);
  state_->maxConcurrent = std::max(1, count);
  startWorkerIfNeeded(state_);
  state_->changed.notify_all();
}

int OperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->maxConcurrent;
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
  std::lock_guard lock(state_->mutex);
  std::vector<std::shared_ptr<Operation>> all;
  for (auto& e : state_->waiting) all.push_back(e.operation);
  all.insert(all.end(), state_->running.begin(), state_->running.end());
  return all;
}

std::size_t OperationQueue::operationCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->waiting.size() + state_->running.size();
}

void OperationQueue::startWorkerIfNeeded(const std::shared_ptr<State>& state) {
  auto& s = *state;
  if (s.suspended || s.gone || s.waiting.empty()) return;
  // Idle workers look again; new ones are started up to one per operation
  // that may run.
  s.changed.notify_all();
  auto target = std::min<std::size_t>(static_cast<std::size_t>(s.maxConcurrent),
                                      s.waiting.size() + s.running.size());
  while (static_cast<std::size_t>(s.workers) < target) {
    ++s.workers;
    std::thread([state] { work(state); }).detach();
  }
}

void OperationQueue::work(std::shared_ptr<State> state) {
  auto& s = *state;
  std::unique_lock lock(s.mutex);
  for (;;) {
    std::shared_ptr<Operation> op = s.takeReady();
    if (!op) {
      if (s.gone || s.waiting.empty() || s.suspended) {
        // Nothing to wait for: wait a little for more work, then end.
        ++s.idleWorkers;
        bool more = s.changed.wait_for(lock, kIdleWorker, [&] {
          return s.gone || (!s.suspended && !s.waiting.empty());
        });
        --s.idleWorkers;
        if (!more || s.gone) break;
        continue;
      }
      ++s.idleWorkers;
      s.changed.wait_for(lock, kRecheck);
      --s.idleWorkers;
      continue;
    }
    auto onEnd = s.onEnd;
    lock.unlock();
    op->start();
    op->removeAllDependencies();
    if (onEnd) onEnd(op);
    lock.lock();
    s.running.erase(std::find(s.running.begin(), s.running.end(), op));
    lock.unlock();
    // Dropped outside the lock: the last reference may run a destructor
    // that comes back to the queue.
    op.reset();
    lock.lock();
    // Operations that depended on it may be ready now.
    s.changed.notify_all();
  }
  --s.workers;
}

}  // namespace glowsnap
