// WebPages: the service's pages for people: the front page listing the
// users, a page per user showing the photos that arrived and the stories
// posted (newest first), the photo files themselves and the style sheet. The pages the Mingle dialogs show
// are ConnectPages'.
#pragma once

#include "services/Router.h"
#include "services/ServiceContext.h"

namespace glowsnap::services {

class WebPages {
 public:
  explicit WebPages(ServiceContext& context) : context_(context) {}
  void registerRoutes(Router& router);

  void frontPage(const ServiceRequest& request, ServiceResponse& response);
  void userPage(const ServiceRequest& request, ServiceResponse& response);
  void photoFile(const ServiceRequest& request, ServiceResponse& response);

 private:
  ServiceContext& context_;
};

}  // namespace glowsnap::services
