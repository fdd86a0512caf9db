// NatterAPI: Natter's credential check, "GET /account/verify.xml" with HTTP
// Basic authorization against the server's users. Accepted credentials are
// answered 200 with the user as XML; missing or wrong ones 401 with a Basic
// challenge ("WWW-Authenticate"). Credentials are taken only over https or
// from this machine: a plain-http request from elsewhere is refused (403)
// without looking at them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "services/Router.h"
#include "services/ServiceContext.h"

namespace glowsnap::services {

class NatterAPI {
 public:
  static constexpr const char* kVerifyPath = "/account/verify.xml";
  static constexpr const char* kRealm = "Natter";

  explicit NatterAPI(ServiceContext& context) : context_(context) {}
  void registerRoutes(Router& router);

  void verifyCredentials(const ServiceRequest& request, ServiceResponse& response);

  // Name and password of an "Authorization: Basic …" value (the scheme in
  // any case; the password is everything after the first colon); nothing
  // for another scheme or a value that is not Base64 of "name:password".
  static std::optional<std::pair<std::string, std::string>> basicCredentials(
      std::string_view authorization);
  // Whether credentials may be read from this request: it came over TLS or
  // from a loopback address.
  static bool mayCarryCredentials(const ServiceRequest& request);

 private:
  ServiceContext& context_;
};

}  // namespace glowsnap::services
