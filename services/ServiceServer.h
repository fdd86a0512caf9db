// ServiceServer: glowsnap-services' HTTP side over cpp-httplib: the route
// table (the Mingle REST API, Natter's credential check, Pixdrop's upload,
// the web pages), request bodies read with a
// size limit, TLS when a certificate is given, a line per request on
// standard error, and a clean stop.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/foundation/Result.h"
#include "services/ConnectPages.h"
#include "services/MingleAPI.h"
#include "services/NatterAPI.h"
#include "services/PixdropAPI.h"
#include "services/Router.h"
#include "services/ServiceContext.h"
#include "services/WebPages.h"

namespace httplib {
class Server;
class ContentReader;
struct Request;
struct Response;
}  // namespace httplib

namespace glowsnap::services {

class ServiceServer {
 public:
  explicit ServiceServer(ServiceContext& context);
  ~ServiceServer();
  ServiceServer(const ServiceServer&) = delete;
  ServiceServer& operator=(const ServiceServer&) = delete;

  // Sets up TLS (when asked) and binds the listening address; answers the
  // port (the one chosen when the options say 0).
  Result<int> bind();
  // Serves until stop(); false when listening failed.
  bool listen();
  // From any thread (a signal handler's thread, say).
  void stop();

  Router& router() { return router_; }
  MingleAPI& mingle() { return mingle_; }
  // "http://127.0.0.1:8420" for the bound address.
  std::string baseURL() const;

 private:
  void serve(const httplib::Request& httpRequest, httplib::Response& httpResponse,
             const httplib::ContentReader* reader);

  ServiceContext& context_;
  Router router_;
  MingleAPI mingle_;
  NatterAPI natter_;
  PixdropAPI pixdrop_;
  WebPages pages_;
  ConnectPages connect_;
  std::unique_ptr<httplib::Server> server_;
  bool tls_ = false;
  int port_ = 0;
};

}  // namespace glowsnap::services
