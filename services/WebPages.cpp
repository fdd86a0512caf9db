#include "services/WebPages.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>

#include "services/Html.h"

namespace glowsnap::services {

namespace {

std::string formatTime(std::int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &tm);
  return text;
}

std::string formatSize(std::int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  if (bytes < 1024 * 1024) return std::to_string((bytes + 512) / 1024) + " kB";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

}  // namespace

void WebPages::registerRoutes(Router& router) {
  router.add("GET", "/",
             [this](const ServiceRequest& rq, ServiceResponse& rs) { frontPage(rq, rs); });
  router.add("GET", "/users/([^/]+)",
             [this](const ServiceRequest& rq, ServiceResponse& rs) { userPage(rq, rs); });
  router.add("GET", "/photos/([0-9]{1,18})\\.(jpg|png)",
             [this](const ServiceRequest& rq, ServiceResponse& rs) { photoFile(rq, rs); });
  router.add("GET", "/style.css", [](const ServiceRequest&, ServiceResponse& rs) {
    rs.contentType = "text/css; charset=utf-8";
    rs.body = kStyleSheet;
  });
}

void WebPages::frontPage(const ServiceRequest&, ServiceResponse& response) {
  std::string body =
      "<p>This server answers the Mingle REST API at <code>/api/rest</code>, Natter's "
      "credential check at <code>/account/verify.xml</code> and Pixdrop's upload at "
      "<code>/api/upload</code>. Photos shared "
      "from Glowsnap arrive on their owner's page.</p>\n";
  auto users = context_.store.users();
  if (users.empty()) {
    body +=
        "<p class=\"note\">No users yet: add one with <code>glowsnap-services add-user "
        "NAME</code>.</p>\n";
  } else {
    body += "<ul class=\"users\">\n";
    for (const User& user : users) {
      std::int64_t count = context_.store.photoCount(user.id);
      body += "<li><a href=\"/users/" + urlEscape(user.name) + "\">" + htmlEscape(user.name) +
              "</a> <span class=\"note\">" + std::to_string(count) +
              (count == 1 ? " photo" : " photos") + "</span></li>\n";
    }
    body += "</ul>\n";
  }
  response.body = htmlPage("Glowsnap services", body);
}

void WebPages::userPage(const ServiceRequest& request, ServiceResponse& response) {
  const std::string& name = request.captures.at(0);
  auto user = context_.store.userNamed(name);
  if (!user) {
    response.status = 404;
    response.body = htmlPage("No such user", "<p>There is no user named " + htmlEscape(name) +
                                                 ".</p><p><a href=\"/\">All users</a></p>");
    return;
  }
  auto photos = context_.store.photosOf(user->id);
  std::string body;
  auto stories = context_.store.storiesOf(user->id);
  if (!stories.empty()) {
    body += "<section class=\"stories\">\n<h2>Stories</h2>\n";
    for (const Story& story : stories) {
      body += "<article class=\"story\" id=\"story-" + std::to_string(story.id) + "\">";
      body += story.body.empty() ? "<em>A story from a template</em>" : htmlEscape(story.body);
      std::string from;
      if (story.appId)
        if (auto app = context_.store.applicationWithId(story.appId)) from = " · from " + app->name;
      body += "<span class=\"note\">" + htmlEscape(formatTime(story.createdAt) + from) +
              "</span></article>\n";
    }
    body += "</section>\n<h2>Photos</h2>\n";
  }
  if (photos.empty()) {
    body += "<p class=\"note\">Nothing shared yet.</p>\n";
  } else {
    body += "<p class=\"note\">" + std::to_string(photos.size()) +
           (photos.size() == 1 ? " photo" : " photos") + ", newest first.</p>\n";
    body += "<div class=\"photos\">\n";
    std::map<std::int64_t, std::string> appNames;
    for (const Photo& photo : photos) {
      if (!appNames.count(photo.appId)) {
        auto app = context_.store.applicationWithId(photo.appId);
        appNames[photo.appId] = app ? app->name : "";
      }
      // Uploads through Pixdrop belong to no application; their album
      // names the service.
      std::string source = appNames[photo.appId];
      if (source.empty())
        if (auto album = context_.store.albumWithId(photo.albumId)) source = album->name;
      std::string src = "/photos/" + std::to_string(photo.id) +
                        (photo.contentType == "image/png" ? ".png" : ".jpg");
      std::string id = std::to_string(photo.id);
      body += "<figure id=\"photo-" + id + "\"><a href=\"" + src + "\"><img src=\"" + src +
              "\" alt=\"Photo " + id + "\" loading=\"lazy\"></a><figcaption>";
      if (!photo.caption.empty()) body += "<strong>" + htmlEscape(photo.caption) + "</strong>";
      body += htmlEscape(formatTime(photo.createdAt)) + " · " + std::to_string(photo.width) +
              " × " + std::to_string(photo.height) + " · " + formatSize(photo.size);
      if (!source.empty()) body += "<br>from " + htmlEscape(source);
      body += "</figcaption></figure>\n";
    }
    body += "</div>\n";
  }
  response.body = htmlPage(user->name + "'s photos", body);
}

void WebPages::photoFile(const ServiceRequest& request, ServiceResponse& response) {
  auto notFound = [&] {
    response.status = 404;
    response.contentType = "text/plain; charset=utf-8";
    response.body = "no such photo\n";
  };
  auto photo = context_.store.photoWithId(std::stoll(request.captures.at(0)));
  std::string ext = request.captures.at(1);
  if (!photo || (ext == "png") != (photo->contentType == "image/png")) return notFound();
  auto path = context_.files.resolve(photo->file);
  std::ifstream in(path, std::ios::binary);
  if (path.empty() || !in) return notFound();
  std::ostringstream data;
  data << in.rdbuf();
  response.contentType = photo->contentType;
  response.body = data.str();
  response.setHeader("Cache-Control", "public, max-age=31536000, immutable");
}

}  // namespace glowsnap::services
