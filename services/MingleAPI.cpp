#include "services/MingleAPI.h"

#include <algorithm>
#include <cctype>

#include "mingle/MGRequest.h"
#include "services/Html.h"
#include "services/MingleQuery.h"
#include "services/PhotoIntake.h"
#include "services/Secrets.h"
#include "services/XMLWriter.h"

namespace glowsnap::services {

namespace {

constexpr const char* kUploadPermission = "photo_upload";
constexpr std::size_t kMaxCaption = 2000;

bool isSecretParam(const std::string& name) {
  return name == "sig" || name == "session_key" || name == "auth_token";
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::optional<std::int64_t> parseInteger(const std::string& text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string photoURL(const ServiceRequest& request, const Photo& photo) {
  auto dot = photo.file.rfind('.');
  std::string ext = dot == std::string::npos ? "jpg" : photo.file.substr(dot + 1);
  return request.baseURL + "/photos/" + std::to_string(photo.id) + "." + ext;
}

}  // namespace

std::optional<std::string> MingleCall::param(const std::string& name) const {
  auto it = params.find(name);
  if (it == params.end()) return std::nullopt;
  return it->second;
}

MingleAPI::MingleAPI(ServiceContext& context) : context_(context) {
  addMethod("mingle.auth.getSession", false, [this](MingleCall& c) { return getSession(c); });
  addMethod("mingle.query", true, [this](MingleCall& c) { return query(c); });
  addMethod("photos.upload", true, [this](MingleCall& c) { return uploadPhoto(c); });
}

void MingleAPI::registerRoutes(Router& router) {
  auto handler = [this](const ServiceRequest& rq, ServiceResponse& rs) { handle(rq, rs); };
  router.add("POST", kPath, handler);
  router.add("GET", kPath, handler);
}

void MingleAPI::addMethod(const std::string& name, bool needsSession, Method method) {
  methods_[name] = Entry{needsSession, std::move(method)};
}

std::string MingleAPI::responseName(const std::string& method) {
  std::string name = method;
  std::replace(name.begin(), name.end(), '.', '_');
  return name + "_response";
}

std::string MingleAPI::errorDocument(const MingleError& error,
                                     const std::map<std::string, std::string>& args) {
  XMLWriter xml;
  xml.open("error_response");
  xml.element("error_code", std::to_string(error.code));
  xml.element("error_msg", error.message);
  xml.open("request_args", true);
  for (const auto& [key, value] : args) {
    if (isSecretParam(key)) continue;
    xml.open("arg").element("key", key).element("value", value).close();
  }
  return xml.finish();
}

void MingleAPI::handle(const ServiceRequest& request, ServiceResponse& response) {
  std::map<std::string, std::string> args;
  response.contentType = "text/xml; charset=utf-8";
  if (request.method != "POST") {
    response.status = 405;
    response.setHeader("Allow", "POST");
    response.body = errorDocument(
        {kMingleInvalidParameter, "calls are POST requests with a multipart form"}, args);
    return;
  }
  Answer answer = run(request, args, response.logNote);
  if (auto* error = std::get_if<MingleError>(&answer)) {
    response.body = errorDocument(*error, args);
    if (!response.logNote.empty()) response.logNote += " ";
    response.logNote += "error " + std::to_string(error->code);
  } else {
    response.body = std::move(std::get<std::string>(answer));
  }
}

MingleAPI::Answer MingleAPI::run(const ServiceRequest& request,
                                 std::map<std::string, std::string>& args, std::string& logNote) {
  auto form = readForm(request.header("Content-Type").value_or(""), request.body);
  if (!form) return MingleError{kMingleInvalidParameter, form.error().description};
  for (const FormPart& part : form->parts) {
    if (part.isFile()) continue;
    if (!args.emplace(part.name, part.data).second)
      return MingleError{kMingleInvalidParameter,
                         "the parameter \"" + part.name + "\" is given more than once"};
  }
  auto get = [&](const char* name) -> std::optional<std::string> {
    auto it = args.find(name);
    return it == args.end() ? std::nullopt : std::optional(it->second);
  };
  for (const char* required : {"method", "api_key", "v", "sig"})
    if (!get(required))
      return MingleError{kMingleInvalidParameter,
                         std::string("the parameter \"") + required + "\" is missing"};
  std::string methodName = *get("method");
  logNote = methodName.size() <= 64 ? methodName : methodName.substr(0, 64);
  if (*get("v") != kVersion)
    return MingleError{kMingleInvalidParameter, "this service speaks version 1.0 of the API"};
  if (auto format = get("format"); format && lower(*format) != "xml")
    return MingleError{kMingleInvalidParameter, "this service answers in XML only"};

  auto app = context_.store.applicationWithKey(*get("api_key"));
  if (!app) return MingleError{kMingleInvalidAPIKey, "the API key is not known here"};

  auto entry = methods_.find(methodName);
  bool sessionless =
      methodName == "mingle.auth.getSession" || methodName == "mingle.auth.createToken";
  std::optional<Session> session;
  std::string secret = app->secret;
  if (!sessionless) {
    auto key = get("session_key");
    if (key) session = context_.store.sessionWithKey(*key);
    if (session && session->appId != app->id) session.reset();
    bool needsSession = entry == methods_.end() || entry->second.needsSession;
    if (!session && needsSession)
      return MingleError{kMingleInvalidSession, "the session key is invalid or has expired"};
    if (session && get("ss") == "1") secret = session->secret;
  }

  std::vector<std::pair<std::string, std::string>> signedParams;
  for (const auto& [name, value] : args)
    if (name != "sig") signedParams.emplace_back(name, value);
  auto expected = MGRequest::signatureOf(signedParams, secret);
  if (!expected || !constantTimeEquals(*expected, lower(*get("sig"))))
    return MingleError{kMingleIncorrectSignature, "incorrect signature"};

  if (entry == methods_.end())
    return MingleError{kMingleUnknownMethod, "there is no method \"" + methodName + "\""};
  MingleCall call{request, *form, args, *app, session, std::nullopt};
  if (session) {
    call.user = context_.store.userWithId(session->userId);
    if (!call.user) return MingleError{kMingleInvalidSession, "the session's user is gone"};
  }
  return entry->second.method(call);
}

MingleAPI::Answer MingleAPI::getSession(MingleCall& call) {
  auto token = call.param("auth_token");
  if (!token || token->empty())
    return MingleError{kMingleInvalidParameter, "the parameter \"auth_token\" is missing"};
  auto session = context_.store.exchangeAuthToken(*token, call.app.id,
                                                  context_.options.sessionLifetimeSeconds);
  if (!session)
    return MingleError{kMingleInvalidAuthToken,
                       "the auth_token is unknown, was used already or has expired"};
  XMLWriter xml;
  xml.open(responseName("mingle.auth.getSession"));
  xml.element("session_key", session->sessionKey);
  xml.element("uid", std::to_string(session->userId));
  xml.element("expires", std::to_string(session->expiresAt));
  xml.element("secret", session->secret);
  return xml.finish();
}

MingleAPI::Answer MingleAPI::query(MingleCall& call) {
  auto text = call.param("query");
  if (!text) return MingleError{kMingleInvalidParameter, "the parameter \"query\" is missing"};
  auto q = MingleQuery::parse(*text);
  if (!q) return MingleError{kMingleQueryError, q.error().description};
  XMLWriter xml;
  xml.open(responseName("mingle.query"), true);
  if (q->table == "user") {
    if (auto user = context_.store.userWithId(q->whereValue)) {
      xml.open("user");
      for (const auto& field : q->fields) {
        if (field == "uid") xml.element("uid", std::to_string(user->id));
        if (field == "name") xml.element("name", user->name);
        if (field == "photo_count")
          xml.element("photo_count", std::to_string(context_.store.photoCount(user->id)));
        if (field == "profile_url")
          xml.element("profile_url", call.request.baseURL + "/users/" + urlEscape(user->name));
      }
      xml.close();
    }
  } else {
    // Photos are the session user's own business.
    std::vector<Photo> photos;
    if (q->whereField == "owner" && q->whereValue == call.user->id) {
      photos = context_.store.photosOf(call.user->id);
    } else if (q->whereField == "pid") {
      if (auto photo = context_.store.photoWithId(q->whereValue);
          photo && photo->ownerId == call.user->id)
        photos.push_back(*photo);
    }
    for (const Photo& photo : photos) {
      xml.open("photo");
      for (const auto& field : q->fields) {
        if (field == "pid") xml.element("pid", std::to_string(photo.id));
        if (field == "aid") xml.element("aid", std::to_string(photo.albumId));
        if (field == "owner") xml.element("owner", std::to_string(photo.ownerId));
        if (field == "src") xml.element("src", photoURL(call.request, photo));
        if (field == "caption") xml.element("caption", photo.caption);
        if (field == "created") xml.element("created", std::to_string(photo.createdAt));
      }
      xml.close();
    }
  }
  return xml.finish();
}

MingleAPI::Answer MingleAPI::uploadPhoto(MingleCall& call) {
  const User& user = *call.user;
  if (!context_.store.hasPermission(user.id, call.app.id, kUploadPermission))
    return MingleError{kMinglePermissionDenied,
                       "the user has not granted this application the photo_upload permission"};
  const FormPart* file = call.form.firstFile();
  if (!file || file->data.empty())
    return MingleError{kMingleInvalidPhoto, "the call carries no photo file"};
  std::string caption = call.param("caption").value_or("");
  if (caption.size() > kMaxCaption)
    return MingleError{kMingleInvalidParameter, "the caption is longer than 2000 bytes"};

  std::optional<Album> album;
  if (auto aid = call.param("aid")) {
    auto id = parseInteger(*aid);
    if (id) album = context_.store.albumWithId(*id);
    if (!album || album->ownerId != user.id)
      return MingleError{kMingleInvalidParameter, "there is no album " + *aid + " of this user"};
  } else {
    auto made = context_.store.defaultAlbum(user.id, call.app);
    if (!made) return MingleError{kMingleUnknownError, "the album could not be made"};
    album = *made;
  }

  auto outcome = PhotoIntake(context_).store(user, *album, call.app.id, file->data, caption);
  if (auto* refusal = std::get_if<PhotoRefusal>(&outcome))
    return MingleError{refusal->reason == PhotoRefusal::Reason::NotAPicture ? kMingleInvalidPhoto
                                                                            : kMingleUnknownError,
                       refusal->message};
  const Photo* stored = &std::get<Photo>(outcome);
  int width = stored->width;
  int height = stored->height;
  XMLWriter xml;
  xml.open(responseName("photos.upload"));
  xml.element("pid", std::to_string(stored->id));
  xml.element("aid", std::to_string(stored->albumId));
  xml.element("owner", std::to_string(user.id));
  xml.element("src", photoURL(call.request, *stored));
  xml.element("link", call.request.baseURL + "/users/" + urlEscape(user.name) + "#photo-" +
                          std::to_string(stored->id));
  xml.element("caption", stored->caption);
  xml.element("created", std::to_string(stored->createdAt));
  xml.element("width", std::to_string(width));
  xml.element("height", std::to_string(height));
  return xml.finish();
}

}  // namespace glowsnap::services
