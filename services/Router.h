// Router: the service's route table. A route is a method, a path pattern
// (a regular expression matched against the whole path; its groups become
// the request's captures) and a handler working on plain request and
// response values, so handlers know nothing of the HTTP library underneath.
//
// The Mingle REST API, the web pages and every later service register
// their routes here (see ServiceServer).
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace glowsnap::services {

struct ServiceRequest {
  std::string method;
  // Decoded path, without the query.
  std::string path;
  std::multimap<std::string, std::string> query;
  // Header names in lower case.
  std::multimap<std::string, std::string> headers;
  std::string body;
  std::string remoteAddress;
  // "http://host:port" as the client addressed the server.
  std::string baseURL;
  std::vector<std::string> captures;

  std::optional<std::string> header(const std::string& name) const;
  std::optional<std::string> queryValue(const std::string& name) const;
};

struct ServiceResponse {
  int status = 200;
  std::string contentType = "text/html; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  // A word for the log line (the REST method, say); never a secret.
  std::string logNote;

  void setHeader(const std::string& name, const std::string& value);
};

using RouteHandler = std::function<void(const ServiceRequest&, ServiceResponse&)>;

class Router {
 public:
  // Routes are tried in the order they were added.
  void add(const std::string& method, const std::string& pattern, RouteHandler handler);
  // Runs the route for the request: 404 when no pattern matches, 405 (with
  // "Allow") when the path matches for other methods only.
  void dispatch(ServiceRequest& request, ServiceResponse& response) const;
  // Whether some route of that method matches the path (the server reads
  // request bodies only for those).
  bool matches(const std::string& method, const std::string& path) const;

 private:
  struct Route {
    std::string method;
    std::regex pattern;
    RouteHandler handler;
  };
  std::vector<Route> routes_;
};

}  // namespace glowsnap::services
