#include "services/PixdropAPI.h"

#include "services/FormData.h"
#include "services/Html.h"
#include "services/NatterAPI.h"
#include "services/PhotoIntake.h"
#include "services/XMLWriter.h"

namespace glowsnap::services {

namespace {

constexpr std::size_t kMaxCaption = 2000;

void refuse(ServiceResponse& response, int status, const std::string& message,
            const std::string& note) {
  response.status = status;
  XMLWriter xml;
  xml.open("rsp");
  xml.element("stat", "fail");
  xml.element("error", message);
  response.body = xml.finish();
  response.logNote = note;
}

}  // namespace

void PixdropAPI::registerRoutes(Router& router) {
  router.add("POST", "/api/upload",
             [this](const ServiceRequest& rq, ServiceResponse& rs) { upload(rq, rs); });
}

void PixdropAPI::upload(const ServiceRequest& request, ServiceResponse& response) {
  response.contentType = "application/xml; charset=utf-8";
  if (!NatterAPI::mayCarryCredentials(request))
    return refuse(response, 403, "credentials are taken only over https",
                  "plain http from another machine");
  auto form = readForm(request.header("Content-Type").value_or(""), request.body);
  if (!form) return refuse(response, 400, form.error().description, "unreadable form");
  const FormPart* name = form->field("username");
  const FormPart* password = form->field("password");
  if (!name || !password || name->data.empty())
    return refuse(response, 403, "Invalid username or password.", "no credentials");
  auto user = context_.store.authenticate(name->data, password->data);
  if (!user) return refuse(response, 403, "Invalid username or password.", "refused");

  const FormPart* media = nullptr;
  for (const FormPart& part : form->parts)
    if (part.isFile() && part.name == "media") media = &part;
  if (!media) media = form->firstFile();
  if (!media || media->data.empty())
    return refuse(response, 400, "the upload carries no picture in \"media\"", "no picture");
  std::string caption;
  if (const FormPart* message = form->field("message")) caption = message->data;
  if (caption.size() > kMaxCaption)
    return refuse(response, 400, "the message is longer than 2000 bytes", "long message");

  auto album = context_.store.serviceAlbum(user->id, kAlbumName);
  if (!album) return refuse(response, 500, "the album could not be made", "no album");
  auto outcome = PhotoIntake(context_).store(*user, *album, 0, media->data, caption);
  if (auto* refusal = std::get_if<PhotoRefusal>(&outcome)) {
    bool picture = refusal->reason == PhotoRefusal::Reason::NotAPicture;
    return refuse(response, picture ? 415 : 500, refusal->message,
                  picture ? "not a picture" : "not stored");
  }
  const Photo& photo = std::get<Photo>(outcome);
  std::string id = std::to_string(photo.id);
  std::string ext = photo.contentType == "image/png" ? ".png" : ".jpg";
  XMLWriter xml;
  xml.open("rsp");
  xml.element("stat", "ok");
  xml.element("mediaid", id);
  xml.element("mediaurl", request.baseURL + "/photos/" + id + ext);
  xml.element("pageurl", request.baseURL + "/users/" + urlEscape(user->name) + "#photo-" + id);
  xml.element("width", std::to_string(photo.width));
  xml.element("height", std::to_string(photo.height));
  response.body = xml.finish();
  response.logNote = user->name + " photo " + id;
}

}  // namespace glowsnap::services
