#include "reachability/NetworkReachabilityQuery.h"

#include <algorithm>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "reachability/NetworkReachability.h"

namespace glowsnap {

void NetworkReachabilityCallback(ReachabilityHandle* /*target*/, ReachabilityFlags /*flags*/,
                                 void* /*info*/) {
  // Nothing of the poster's survives the post: the notification carries no
  // object, and listeners ask for the status they care about.
  NotificationCenter::defaultCenter().post(kNetworkStatusChangedNotification);
}

NetworkReachabilityQuery::NetworkReachabilityQuery(NetworkReachability* owner) : owner_(owner) {}

NetworkReachabilityQuery::~NetworkReachabilityQuery() {
  // The handle may outlive the query (a caller can hold it): it must not call
  // back into a query that is gone.
  if (reachabilityRef_) reachabilityRef_->setCallback(nullptr, nullptr);
}

void NetworkReachabilityQuery::setReachabilityRef(std::shared_ptr<ReachabilityHandle> handle) {
  reachabilityRef_ = std::move(handle);
}

void NetworkReachabilityQuery::scheduleOnRunLoop(RunLoop* runLoop) {
  NetworkReachability& owner =
      owner_ != nullptr ? *owner_ : NetworkReachability::sharedNetworkReachability();
  if (!owner.networkStatusNotificationsEnabled() || runLoop == nullptr) return;
  if (isScheduledOnRunLoop(runLoop)) return;
  if (RunLoop* scheduled = startListeningForReachabilityChanges(reachabilityRef_.get(), runLoop)) {
    runLoops_.push_back(scheduled);
    if (scheduled == &RunLoop::current()) owner.watchCurrentThreadExit();
  }
}

bool NetworkReachabilityQuery::isScheduledOnRunLoop(RunLoop* runLoop) const {
  return std::find(runLoops_.begin(), runLoops_.end(), runLoop) != runLoops_.end();
}

RunLoop* NetworkReachabilityQuery::startListeningForReachabilityChanges(ReachabilityHandle* handle,
                                                                        RunLoop* runLoop) {
  if (handle == nullptr || runLoop == nullptr) return nullptr;
  handle->setCallback(&NetworkReachabilityCallback, this);
  if (!handle->scheduleWithRunLoop(*runLoop, RunLoop::kDefaultMode)) return nullptr;
  return runLoop;
}

}  // namespace glowsnap
