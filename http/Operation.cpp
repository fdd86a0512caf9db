#include "http/Operation.h"

#include <algorithm>

namespace glowsnap {

void Operation::start() {
  if (isCancelled()) return;
  main();
}

void Operation::cancel() { cancelled_.store(true); }

void Operation::addDependency(const std::shared_ptr<Operation>& operation) {
  if (!operation || operation.get() == this) return;
  std::lock_guard lock(mutex_);
  dependencies_.push_back(operation);
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
  std::lock_guard lock(mutex_);
  return dependencies_;
}

void Operation::removeAllDependencies() {
  std::vector<std::shared_ptr<Operation>> gone;
  {
    std::lock_guard lock(mutex_);
    gone.swap(dependencies_);
  }
  // Released outside the lock: the last reference may end an operation
  // that comes back here.
}

bool Operation::dependenciesFinished() const {
  auto deps = dependencies();
  return std::all_of(deps.begin(), deps.end(), [](const auto& d) { return d->isFinished(); });
}

}  // namespace glowsnap
