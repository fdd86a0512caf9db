#include "services/NatterAPI.h"

#include <algorithm>
#include <cctype>

#include "base64/Base64.h"
#include "services/Html.h"
#include "services/XMLWriter.h"

namespace glowsnap::services {

namespace {

// Names are at most 64 bytes; passwords are bounded so that a huge header
// cannot make the slow hash work on megabytes.
constexpr std::size_t kMaxCredentialsText = 4096;

std::string errorDocument(const std::string& path, const std::string& message) {
  XMLWriter xml;
  xml.open("hash");
  xml.element("request", path);
  xml.element("error", message);
  return xml.finish();
}

bool isLoopback(const std::string& address) {
  return address == "::1" || address.rfind("127.", 0) == 0 || address.rfind("::ffff:127.", 0) == 0;
}

}  // namespace

void NatterAPI::registerRoutes(Router& router) {
  router.add("GET", "/account/verify\\.xml",
             [this](const ServiceRequest& rq, ServiceResponse& rs) { verifyCredentials(rq, rs); });
}

bool NatterAPI::mayCarryCredentials(const ServiceRequest& request) {
  return request.baseURL.rfind("https://", 0) == 0 || isLoopback(request.remoteAddress);
}

std::optional<std::pair<std::string, std::string>> NatterAPI::basicCredentials(
    std::string_view authorization) {
  auto space = authorization.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  std::string scheme(authorization.substr(0, space));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (scheme != "basic") return std::nullopt;
  std::string_view encoded = authorization.substr(space + 1);
  while (!encoded.empty() && encoded.front() == ' ') encoded.remove_prefix(1);
  while (!encoded.empty() && encoded.back() == ' ') encoded.remove_suffix(1);
  if (encoded.empty() || encoded.size() > kMaxCredentialsText) return std::nullopt;
  auto decoded = Base64::decodeString(encoded);
  if (!decoded) return std::nullopt;
  std::string text(decoded->begin(), decoded->end());
  auto colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  return std::pair(text.substr(0, colon), text.substr(colon + 1));
}

void NatterAPI::verifyCredentials(const ServiceRequest& request, ServiceResponse& response) {
  response.contentType = "application/xml; charset=utf-8";
  if (!mayCarryCredentials(request)) {
    response.status = 403;
    response.body = errorDocument(kVerifyPath, "credentials are taken only over https");
    response.logNote = "plain http from another machine";
    return;
  }
  std::optional<User> user;
  if (auto header = request.header("Authorization"))
    if (auto credentials = basicCredentials(*header))
      user = context_.store.authenticate(credentials->first, credentials->second);
  if (!user) {
    response.status = 401;
    response.setHeader("WWW-Authenticate",
                       std::string("Basic realm=\"") + kRealm + "\", charset=\"UTF-8\"");
    response.body = errorDocument(kVerifyPath, "Could not authenticate you.");
    response.logNote = "refused";
    return;
  }
  XMLWriter xml;
  xml.open("user");
  xml.element("id", std::to_string(user->id));
  xml.element("screen_name", user->name);
  xml.element("profile_url", request.baseURL + "/users/" + urlEscape(user->name));
  xml.element("photo_count", std::to_string(context_.store.photoCount(user->id)));
  response.body = xml.finish();
  response.logNote = user->name;
}

}  // namespace glowsnap::services
