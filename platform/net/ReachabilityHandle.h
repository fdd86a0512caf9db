// ReachabilityHandle: the platform's reachability service for one target (a
// host name or an IPv4 address): a flag word that says whether and how the
// target can be reached, and a callback on a run loop when that changes.
//
// The flag word keeps the platform's bit layout so that callers can test the
// bits by value. Handles are made by a ReachabilityHandleFactory; the
// process-wide one can be replaced, which is how tests script flag words.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace glowsnap {

class RunLoop;

using ReachabilityFlags = std::uint32_t;

inline constexpr ReachabilityFlags kReachabilityFlagsTransientConnection = 1u << 0;
inline constexpr ReachabilityFlags kReachabilityFlagsReachable = 1u << 1;
inline constexpr ReachabilityFlags kReachabilityFlagsConnectionRequired = 1u << 2;
inline constexpr ReachabilityFlags kReachabilityFlagsIsLocalAddress = 1u << 16;
inline constexpr ReachabilityFlags kReachabilityFlagsIsDirect = 1u << 17;
inline constexpr ReachabilityFlags kReachabilityFlagsIsWWAN = 1u << 18;

class ReachabilityHandle;

// Called on the run loop the handle is scheduled on, in the scheduled mode,
// with the new flags and the info given to setCallback.
using ReachabilityCallback = void (*)(ReachabilityHandle* target, ReachabilityFlags flags,
                                      void* info);

class ReachabilityHandle {
 public:
  virtual ~ReachabilityHandle() = default;

  // The target's flags now; nullopt when they cannot be determined. A host
  // name may be resolved first, which can take as long as the system
  // resolver's own time-out.
  virtual std::optional<ReachabilityFlags> flags() = 0;

  // Replaces the callback; a null callback stops the calls. info is passed
  // through untouched and not owned.
  virtual bool setCallback(ReachabilityCallback callback, void* info) = 0;

  // Starts or stops watching the target on loop in mode. A handle may be
  // scheduled on several loops (or modes) at once; each one reports changes.
  // The handle must be unscheduled (or destroyed) before the loop goes away.
  virtual bool scheduleWithRunLoop(RunLoop& loop, const std::string& mode) = 0;
  virtual bool unscheduleFromRunLoop(RunLoop& loop, const std::string& mode) = 0;
};

class ReachabilityHandleFactory {
 public:
  virtual ~ReachabilityHandleFactory() = default;

  // nullptr when no handle can be made for the target.
  virtual std::shared_ptr<ReachabilityHandle> createWithName(const std::string& name) = 0;
  virtual std::shared_ptr<ReachabilityHandle> createWithAddress(const sockaddr_in& address) = 0;

  // The factory in use: the system's unless replaced. Replacing is meant for
  // tests, before any handle is made; nullptr restores the system's.
  static std::shared_ptr<ReachabilityHandleFactory> current();
  static void setCurrent(std::shared_ptr<ReachabilityHandleFactory> factory);
  // The kernel-backed factory of this platform.
  static std::shared_ptr<ReachabilityHandleFactory> system();
};

}  // namespace glowsnap
