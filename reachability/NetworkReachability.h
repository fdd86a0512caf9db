// NetworkReachability: whether the network, a host or an IPv4 address can be
// reached without first bringing up a connection, and whether through the
// carrier's data network; with notifications switched on it also announces
// changes as "NetworkStatusChangedNotification".
//
// One NetworkReachabilityQuery per target is made on first use and kept.
// The fixed-key queries (the network, the link-local network) are scheduled
// on the current thread's run loop each time they are used, once per loop;
// a host-name or address query only on the loop current when it is made.
// Nothing is scheduled while notifications are off.
//
// The internal-consistency failures (no target for remoteHostStatus, a
// handle that cannot be made, an address that is not dotted IPv4) are
// written to stderr and answered with status 0 / null; the process goes on.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/net/ReachabilityHandle.h"
#include "reachability/NetworkReachabilityQuery.h"

namespace glowsnap {

using NetworkStatus = std::int32_t;
inline constexpr NetworkStatus kNotReachable = 0;
// Reachable with a transient connection: the carrier's data network.
inline constexpr NetworkStatus kReachableViaCarrierDataNetwork = 1;
inline constexpr NetworkStatus kReachableViaWiFiNetwork = 2;

inline constexpr char kNetworkStatusChangedNotification[] = "NetworkStatusChangedNotification";
inline constexpr char kLinkLocalAddressKey[] = "169.254.0.0";
inline constexpr char kDefaultRouteKey[] = "0.0.0.0";

class NetworkReachability {
 public:
  using QueryMap = std::map<std::string, std::shared_ptr<NetworkReachabilityQuery>>;

  // The process-wide instance, made on first use with the current handle
  // factory, notifications off and no queries.
  static NetworkReachability& sharedNetworkReachability();

  // A separate instance with its own queries, over factory (the current one
  // when null). For tests and tools; the application uses the shared one.
  explicit NetworkReachability(std::shared_ptr<ReachabilityHandleFactory> factory = nullptr);
  // Stops listening on every run loop; the queries go with the object.
  ~NetworkReachability();
  NetworkReachability(const NetworkReachability&) = delete;
  NetworkReachability& operator=(const NetworkReachability&) = delete;

  // Switching on schedules nothing by itself; the next status question does.
  bool networkStatusNotificationsEnabled() const;
  void setNetworkStatusNotificationsEnabled(bool enabled);
  // Target of remoteHostStatus; a host name wins over an address. Empty
  // means none.
  std::string hostName() const;
  void setHostName(std::string hostName);
  std::string address() const;
  void setAddress(std::string address);
  QueryMap reachabilityQueries() const;
  void setReachabilityQueries(QueryMap queries);

  // Reachable (bit 1) and either WWAN (bit 18) or no connection required
  // (bit 2 clear).
  static bool isReachableWithoutRequiringConnection(ReachabilityFlags flags);

  // 0 not reachable, 1 reachable with a transient connection (the carrier's
  // data network), 2 reachable otherwise. The network's status is 0 when its
  // route is direct (an ad-hoc network has no way out).
  NetworkStatus internetConnectionStatus();
  // 2 when the link-local network is reachable and direct, else 0.
  NetworkStatus localWiFiConnectionStatus();
  // The status of hostName(), else of address(); 0 (and a line on stderr)
  // with neither.
  NetworkStatus remoteHostStatus();

  // A one-off question about hostName; nothing is cached or scheduled. false
  // for an empty name.
  bool isHostReachable(const std::string& hostName);

  // The flags of the network (0.0.0.0) and of the link-local network
  // (169.254.0.0), stored in *flags when given and readable; answers whether
  // they pass isReachableWithoutRequiringConnection.
  bool isNetworkAvailableFlags(ReachabilityFlags* flags);
  bool isAdHocWiFiNetworkAvailableFlags(ReachabilityFlags* flags);

  // The handle of a host name or dotted IPv4 address, made, stored and
  // scheduled on the current run loop on first use; null for an empty text
  // or when no handle can be made. The handle lives as long as this object.
  ReachabilityHandle* reachabilityRefForHostName(const std::string& hostName);
  ReachabilityHandle* reachabilityRefForAddress(const std::string& address);

  // Fills *address (family AF_INET, port 0, the rest zero) from dotted text
  // by inet_aton's rules; false for empty or invalid text.
  static bool addressFromString(const std::string& text, sockaddr_in* address);

  // Unschedules every query from every run loop it is on. Queries and
  // handles stay; later status questions schedule the fixed-key queries
  // again.
  void stopListeningForReachabilityChanges();

 private:
  friend class NetworkReachabilityQuery;
  friend struct ThreadExitWatch;
  // A thread's run loop ends with the thread; whatever its questions
  // scheduled there is unscheduled first, so that no query keeps a loop that
  // is gone and a later thread's loop is not mistaken for it.
  void watchCurrentThreadExit();
  void forgetRunLoop(RunLoop* loop);

  bool isFixedKeyAvailable(const char* key, ReachabilityFlags* flags);
  ReachabilityHandle* handleForTarget(const std::string& key, bool isName);

  std::shared_ptr<ReachabilityHandleFactory> factory_;
  // Status questions may come from several threads (the HTTP client asks from
  // its request threads); the query table is kept consistent under this lock.
  mutable std::recursive_mutex mutex_;
  bool networkStatusNotificationsEnabled_ = false;
  std::string hostName_;
  std::string address_;
  QueryMap reachabilityQueries_;
};

}  // namespace glowsnap
