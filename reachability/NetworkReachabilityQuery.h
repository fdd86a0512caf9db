// NetworkReachabilityQuery: one watched target of NetworkReachability: the
// platform's reachability handle for it and the run loops the handle reports
// changes on.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/net/ReachabilityHandle.h"

namespace glowsnap {

class NetworkReachability;
class RunLoop;

// Registered for every scheduled handle: posts
// "NetworkStatusChangedNotification" (no object) on the default notification
// centre. The flags and info are not passed on; listeners ask for the status
// themselves.
void NetworkReachabilityCallback(ReachabilityHandle* target, ReachabilityFlags flags, void* info);

class NetworkReachabilityQuery {
 public:
  // owner is the NetworkReachability whose notification switch decides
  // whether the query may be scheduled (the shared one when null).
  explicit NetworkReachabilityQuery(NetworkReachability* owner = nullptr);
  ~NetworkReachabilityQuery();
  NetworkReachabilityQuery(const NetworkReachabilityQuery&) = delete;
  NetworkReachabilityQuery& operator=(const NetworkReachabilityQuery&) = delete;

  // Schedules the handle on runLoop unless notifications are switched off,
  // runLoop is null or the handle is already scheduled there.
  void scheduleOnRunLoop(RunLoop* runLoop);
  bool isScheduledOnRunLoop(RunLoop* runLoop) const;
  // Sets NetworkReachabilityCallback with this query as its info and
  // schedules handle on runLoop in the default mode; answers runLoop, or null
  // when either is missing or scheduling failed.
  RunLoop* startListeningForReachabilityChanges(ReachabilityHandle* handle, RunLoop* runLoop);

  // The handle is shared so that a caller may keep it; the query keeps it for
  // as long as the query lives.
  ReachabilityHandle* reachabilityRef() const { return reachabilityRef_.get(); }
  void setReachabilityRef(std::shared_ptr<ReachabilityHandle> handle);
  // Not owned: each loop must outlive its entry here or be unscheduled first
  // (NetworkReachability::stopListeningForReachabilityChanges).
  const std::vector<RunLoop*>& runLoops() const { return runLoops_; }
  void setRunLoops(std::vector<RunLoop*> runLoops) { runLoops_ = std::move(runLoops); }
  const std::string& hostNameOrAddress() const { return hostNameOrAddress_; }
  void setHostNameOrAddress(std::string key) { hostNameOrAddress_ = std::move(key); }

 private:
  NetworkReachability* owner_;
  std::shared_ptr<ReachabilityHandle> reachabilityRef_;
  std::vector<RunLoop*> runLoops_;
  std::string hostNameOrAddress_;
};

}  // namespace glowsnap
