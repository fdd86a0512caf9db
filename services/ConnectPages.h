// ConnectPages: the Mingle site's pages that run inside the client's web
// dialog, each ending in a navigation to the outcome URL the client gave
// (a "minglekit:" URL, or a path of this site):
//
// - "/login": a form of user name and password checked against the users
//   of the store. A good login is kept in the site's cookie
//   ("mingle_login", only a digest stored) and goes on to "next" with a
//   one-time "auth_token" that "mingle.auth.getSession" exchanges for a
//   session. The site's "test_cookie" must have come with the form (the
//   dialog sets it): without cookies the login could not be kept.
// - "/connect/permission": asks the session's user to allow one extended
//   permission for the application; "Allow" stores the grant and goes to
//   "next", "Don't allow" removes it and goes to "cancel".
// - "/connect/feed": shows a story (the "feed_info" JSON) for the user to
//   post to their own feed; "Post" stores it (it shows on the user's page)
//   and goes to "callback", "Cancel" to "cancel".
//
// Outcome URLs of other sites are refused: a token never leaves for
// another site.
#pragma once

#include <optional>
#include <string>

#include "services/Router.h"
#include "services/ServiceContext.h"

namespace glowsnap::services {

class ConnectPages {
 public:
  static constexpr const char* kLoginCookie = "mingle_login";
  static constexpr const char* kTestCookie = "test_cookie";
  // A login of the site lasts this long.
  static constexpr std::int64_t kSiteLoginSeconds = 14 * 24 * 3600;
  static constexpr std::int64_t kAuthTokenSeconds = 300;

  explicit ConnectPages(ServiceContext& context) : context_(context) {}
  void registerRoutes(Router& router);

  // Where an outcome may go: a "minglekit:" URL or a path of this site
  // (starting with one "/"). Anything else is nothing.
  static std::optional<std::string> outcomeURL(const std::string& url);
  // url with name=value added to its query.
  static std::string withQueryParameter(const std::string& url, const std::string& name,
                                        const std::string& value);

 private:
  void loginPage(const ServiceRequest& request, ServiceResponse& response);
  void login(const ServiceRequest& request, ServiceResponse& response);
  void logout(const ServiceRequest& request, ServiceResponse& response);
  void permissionPage(const ServiceRequest& request, ServiceResponse& response);
  void permission(const ServiceRequest& request, ServiceResponse& response);
  void feedPage(const ServiceRequest& request, ServiceResponse& response);
  void publish(const ServiceRequest& request, ServiceResponse& response);

  ServiceContext& context_;
};

}  // namespace glowsnap::services
