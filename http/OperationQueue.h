// OperationQueue: runs operations on worker threads of its own, at most
// maxConcurrentOperationCount at once. Among the operations that are ready
// (every dependency finished, or cancelled, which makes any operation
// ready) the one of the highest queue priority starts first, then the one
// added first. A suspended queue starts nothing; what runs goes on.
//
// Workers are started as needed and end when there is nothing left for
// them. They share the queue's bookkeeping, not the queue object: a queue
// that goes away cancels what has not started yet (cancelling is how an
// operation hears it will not run) and lets what runs finish on its thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "http/Operation.h"

namespace glowsnap {

class OperationQueue {
 public:
  static constexpr int kDefaultMaxConcurrentOperationCount = 4;

  OperationQueue();
  virtual ~OperationQueue();
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  // Queues an operation (once; adding it again does nothing).
  virtual void addOperation(std::shared_ptr<Operation> operation);
  // Cancels every operation waiting or running (each gets cancel()).
  virtual void cancelAllOperations();
  virtual void setSuspended(bool suspended);
  bool isSuspended() const;
  void setMaxConcurrentOperationCount(int count);
  int maxConcurrentOperationCount() const;
  // The operations waiting or running, waiting ones first.
  std::vector<std::shared_ptr<Operation>> operations() const;
  std::size_t operationCount() const;

 protected:
  // Called on the worker thread after each operation's start() returned
  // (also for one that was cancelled before it ran).
  void setOperationEndHandler(std::function<void(const std::shared_ptr<Operation>&)> handler);

 private:
  struct State;
  static void work(std::shared_ptr<State> state);
  // Under the state's lock: starts a worker when one can take work.
  static void startWorkerIfNeeded(const std::shared_ptr<State>& state);
  std::shared_ptr<State> state_;
};

}  // namespace glowsnap
