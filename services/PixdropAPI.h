// PixdropAPI: Pixdrop's upload interface, "POST /api/upload" with a
// multipart form of "username", "password" (Natter's credentials) and the
// picture in "media". The picture joins the user's photos in the album
// "Pixdrop" and shows on the user's page. Answers are XML: 200 with the
// photo's id and addresses; 400 for a form without a picture, 403 for wrong
// credentials (or credentials sent over plain http from another machine),
// 415 for a file that is not a readable JPEG or PNG, 500 when it could not
// be stored. Nothing is kept from a refused upload.
#pragma once

#include "services/Router.h"
#include "services/ServiceContext.h"

namespace glowsnap::services {

class PixdropAPI {
 public:
  static constexpr const char* kUploadPath = "/api/upload";
  static constexpr const char* kAlbumName = "Pixdrop";

  explicit PixdropAPI(ServiceContext& context) : context_(context) {}
  void registerRoutes(Router& router);

  void upload(const ServiceRequest& request, ServiceResponse& response);

 private:
  ServiceContext& context_;
};

}  // namespace glowsnap::services
