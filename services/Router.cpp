#include "services/Router.h"

#include <algorithm>
#include <cctype>

#include "services/Html.h"

namespace glowsnap::services {

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

std::optional<std::string> ServiceRequest::header(const std::string& name) const {
  auto it = headers.find(lower(name));
  if (it == headers.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> ServiceRequest::queryValue(const std::string& name) const {
  auto it = query.find(name);
  if (it == query.end()) return std::nullopt;
  return it->second;
}

void ServiceResponse::setHeader(const std::string& name, const std::string& value) {
  for (auto& [n, v] : headers)
    if (lower(n) == lower(name)) {
      v = value;
      return;
    }
  headers.emplace_back(name, value);
}

void Router::add(const std::string& method, const std::string& pattern, RouteHandler handler) {
  routes_.push_back(Route{method, std::regex(pattern), std::move(handler)});
}

bool Router::matches(const std::string& method, const std::string& path) const {
  return std::any_of(routes_.begin(), routes_.end(), [&](const Route& r) {
    return (r.method == method || (method == "HEAD" && r.method == "GET")) &&
           std::regex_match(path, r.pattern);
  });
}

void Router::dispatch(ServiceRequest& request, ServiceResponse& response) const {
  std::vector<std::string> allowed;
  for (const Route& route : routes_) {
    std::smatch match;
    if (!std::regex_match(request.path, match, route.pattern)) continue;
    bool sameMethod =
        route.method == request.method || (request.method == "HEAD" && route.method == "GET");
    if (!sameMethod) {
      if (std::find(allowed.begin(), allowed.end(), route.method) == allowed.end())
        allowed.push_back(route.method);
      continue;
    }
    request.captures.clear();
    for (std::size_t i = 1; i < match.size(); ++i) request.captures.push_back(match[i].str());
    route.handler(request, response);
    return;
  }
  if (!allowed.empty()) {
    std::string allow;
    for (const auto& m : allowed) allow += (allow.empty() ? "" : ", ") + m;
    response.status = 405;
    response.setHeader("Allow", allow);
    response.body =
        htmlPage("Not allowed", "<p>" + htmlEscape(request.method) + " is not allowed here; use " +
                                    htmlEscape(allow) + ".</p>");
    return;
  }
  response.status = 404;
  response.body = htmlPage("Not found", "<p>There is no page at " + htmlEscape(request.path) +
                                            ".</p><p><a href=\"/\">Home</a></p>");
}

}  // namespace glowsnap::services
