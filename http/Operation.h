// Operation: the unit of work that a request is, and that a queue runs.
//
// start() runs main() on the calling thread unless the operation was
// cancelled first. cancel() here only marks the operation cancelled;
// subclasses add what stopping means for them and call it. Priority and
// dependencies are for queues, which start an operation only after all of
// its dependencies have finished.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace glowsnap {

class Operation {
 public:
  static constexpr int kQueuePriorityNormal = 0;

  virtual ~Operation() = default;

  void start();
  virtual void main() = 0;
  virtual void cancel();
  bool isCancelled() const { return cancelled_.load(); }
  virtual bool isFinished() const = 0;

  int queuePriority() const { return priority_.load(); }
  void setQueuePriority(int priority) { priority_.store(priority); }
  void addDependency(const std::shared_ptr<Operation>& operation);
  std::vector<std::shared_ptr<Operation>> dependencies() const;
  // True when every dependency has finished.
  bool dependenciesFinished() const;
  // Lets go of the dependencies. A queue does so once the operation has
  // run or will not run: a dependency that refers back to the operation
  // (a queue's HEAD request to the request it measures) is not kept alive
  // in a cycle.
  void removeAllDependencies();

 private:
  std::atomic<bool> cancelled_{false};
  std::atomic<int> priority_{kQueuePriorityNormal};
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Operation>> dependencies_;
};

}  // namespace glowsnap
