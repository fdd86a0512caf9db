#include "services/ConnectPages.h"

#include <nlohmann/json.hpp>

#include <map>

#include "services/FormData.h"
#include "services/Html.h"

namespace glowsnap::services {

namespace {

using Fields = std::map<std::string, std::string>;

// The parameters of a page: the query, and for a POST the form's fields
// (which win).
Fields fieldsOf(const ServiceRequest& request) {
  Fields fields;
  for (const auto& [name, value] : request.query) fields.emplace(name, value);
  if (request.method == "POST") {
    auto form = readForm(request.header("content-type").value_or(""), request.body);
    if (form)
      for (const FormPart& part : form->parts)
        if (!part.isFile()) fields[part.name] = part.data;
  }
  return fields;
}

std::string field(const Fields& fields, const std::string& name) {
  auto it = fields.find(name);
  return it == fields.end() ? std::string() : it->second;
}

std::optional<std::string> cookie(const ServiceRequest& request, const std::string& name) {
  auto range = request.headers.equal_range("cookie");
  for (auto it = range.first; it != range.second; ++it) {
    const std::string& header = it->second;
    std::size_t at = 0;
    while (at < header.size()) {
      std::size_t end = header.find(';', at);
      if (end == std::string::npos) end = header.size();
      std::string pair = header.substr(at, end - at);
      at = end + 1;
      std::size_t first = pair.find_first_not_of(' ');
      if (first == std::string::npos) continue;
      pair = pair.substr(first);
      std::size_t eq = pair.find('=');
      if (eq != std::string::npos && pair.compare(0, eq, name) == 0 && eq == name.size())
        return pair.substr(eq + 1);
    }
  }
  return std::nullopt;
}

// Pages that carry keys and tokens are not kept, framed or referred to.
void privatePage(ServiceResponse& response) {
  response.setHeader("Cache-Control", "no-store");
  response.setHeader("X-Frame-Options", "DENY");
  response.setHeader("Referrer-Policy", "no-referrer");
}

void redirect(ServiceResponse& response, const std::string& url) {
  privatePage(response);
  response.status = 303;
  response.setHeader("Location", url);
  response.body = dialogPage("Continue", "<p><a href=\"" + htmlEscape(url) + "\">Continue</a></p>");
}

void problem(ServiceResponse& response, int status, const std::string& message) {
  privatePage(response);
  response.status = status;
  response.body =
      dialogPage("Something is wrong", "<p class=\"error\">" + htmlEscape(message) + "</p>");
}

std::string hidden(const std::string& name, const std::string& value) {
  return "<input type=\"hidden\" name=\"" + htmlEscape(name) + "\" value=\"" + htmlEscape(value) +
         "\">\n";
}

std::string loginCookie(const ServiceRequest& request, const std::string& value,
                        std::int64_t maxAge) {
  bool secure = request.baseURL.rfind("https:", 0) == 0;
  return std::string(ConnectPages::kLoginCookie) + "=" + value +
         "; Path=/; Max-Age=" + std::to_string(maxAge) + "; HttpOnly; SameSite=Lax" +
         (secure ? "; Secure" : "");
}

std::string describePermission(const std::string& permission) {
  if (permission == "photo_upload") return "upload photos to your albums";
  if (permission == "offline_access") return "use your account while you are away";
  if (permission == "publish_stream") return "post stories to your feed";
  return "the permission \"" + permission + "\"";
}

bool isPermissionName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

}  // namespace

// The outcome URL a page was given in the field, or the fallback where it
// was given none; nothing when what was given may not be an outcome.
static std::optional<std::string> outcomeField(const Fields& f, const std::string& name,
                                               const std::string& fallback) {
  const std::string given = field(f, name);
  return ConnectPages::outcomeURL(given.empty() ? fallback : given);
}

std::optional<std::string> ConnectPages::outcomeURL(const std::string& url) {
  if (url.rfind("minglekit:", 0) == 0) return url;
  if (url.size() >= 1 && url[0] == '/' && (url.size() < 2 || (url[1] != '/' && url[1] != '\\')))
    return url;
  return std::nullopt;
}

std::string ConnectPages::withQueryParameter(const std::string& url, const std::string& name,
                                             const std::string& value) {
  std::string base = url;
  std::string fragment;
  if (auto hash = base.find('#'); hash != std::string::npos) {
    fragment = base.substr(hash);
    base.resize(hash);
  }
  char joiner = base.find('?') == std::string::npos ? '?' : '&';
  return base + joiner + urlEscape(name) + "=" + urlEscape(value) + fragment;
}

void ConnectPages::registerRoutes(Router& router) {
  router.add("GET", "/login",
             [this](const ServiceRequest& rq, ServiceResponse& rs) { loginPage(rq, rs); });
  router.add("POST", "/login",
             [this](const ServiceRequest& rq, ServiceResponse& rs) { login(rq, rs); });
  router.add("POST", "/login/cancel", [](const ServiceRequest& rq, ServiceResponse& rs) {
    auto target = outcomeURL(field(fieldsOf(rq), "cancel"));
    redirect(rs, target.value_or("minglekit:cancel"));
  });
  router.add("POST", "/logout",
             [this](const ServiceRequest& rq, ServiceResponse& rs) { logout(rq, rs); });
  router.add("GET", "/connect/permission",
             [this](const ServiceRequest& rq, ServiceResponse& rs) { permissionPage(rq, rs); });
  router.add("POST", "/connect/permission",
             [this](const ServiceRequest& rq, ServiceResponse& rs) { permission(rq, rs); });
  router.add("POST", "/connect/feed",
             [this](const ServiceRequest& rq, ServiceResponse& rs) { feedPage(rq, rs); });
  router.add("POST", "/connect/feed/publish",
             [this](const ServiceRequest& rq, ServiceResponse& rs) { publish(rq, rs); });
}

namespace {

std::string loginForm(const Fields& f, const std::string& error) {
  std::string body;
  if (!error.empty()) body += "<p class=\"error\" id=\"error\">" + htmlEscape(error) + "</p>\n";
  body += "<form method=\"post\" action=\"/login\" id=\"login\">\n";
  for (const char* name : {"api_key", "next", "cancel", "minglekit", "connect_display"})
    if (f.count(name)) body += hidden(name, field(f, name));
  body +=
      "<label for=\"email\">User name</label>\n"
      "<input type=\"text\" id=\"email\" name=\"email\" autocomplete=\"username\" "
      "autocapitalize=\"none\" value=\"" +
      htmlEscape(field(f, "email")) +
      "\" autofocus>\n"
      "<label for=\"pass\">Password</label>\n"
      "<input type=\"password\" id=\"pass\" name=\"pass\" autocomplete=\"current-password\">\n"
      "<button type=\"submit\" id=\"login_button\">Log in</button>\n"
      "<button type=\"submit\" class=\"secondary\" id=\"cancel_button\" "
      "formaction=\"/login/cancel\" "
      "formnovalidate>Cancel</button>\n"
      "</form>\n";
  return body;
}

}  // namespace

void ConnectPages::loginPage(const ServiceRequest& request, ServiceResponse& response) {
  Fields f = fieldsOf(request);
  privatePage(response);
  auto app = context_.store.applicationWithKey(field(f, "api_key"));
  if (!app)
    return problem(response, 400,
                   "This login was asked for by an application that is not known here.");
  if (!outcomeURL(field(f, "next")))
    return problem(response, 400, "This login would go on to another site; it stops here.");
  std::string body =
      "<p>Log in to use your account with <strong>" + htmlEscape(app->name) + "</strong>.</p>\n";
  if (auto user = context_.store.siteLoginUser(cookie(request, kLoginCookie).value_or(""))) {
    body += "<form method=\"post\" action=\"/login\" id=\"continue\">\n";
    for (const char* name : {"api_key", "next", "cancel", "minglekit", "connect_display"})
      if (f.count(name)) body += hidden(name, field(f, name));
    body += hidden("continue", "1");
    body += "<p>You are logged in as <strong>" + htmlEscape(user->name) +
            "</strong>.</p>\n<button type=\"submit\" id=\"continue_button\">Continue as " +
            htmlEscape(user->name) +
            "</button>\n<button type=\"submit\" class=\"secondary\" formaction=\"/logout\">Not " +
            htmlEscape(user->name) + "?</button>\n</form>\n";
  } else {
    body += loginForm(f, "");
  }
  response.body = dialogPage("Log in to Mingle", body);
}

void ConnectPages::login(const ServiceRequest& request, ServiceResponse& response) {
  Fields f = fieldsOf(request);
  privatePage(response);
  auto app = context_.store.applicationWithKey(field(f, "api_key"));
  if (!app)
    return problem(response, 400,
                   "This login was asked for by an application that is not known here.");
  auto next = outcomeURL(field(f, "next"));
  if (!next)
    return problem(response, 400, "This login would go on to another site; it stops here.");
  auto intro =
      "<p>Log in to use your account with <strong>" + htmlEscape(app->name) + "</strong>.</p>\n";

  std::optional<User> user;
  std::string newLogin;
  if (field(f, "continue") == "1") {
    user = context_.store.siteLoginUser(cookie(request, kLoginCookie).value_or(""));
    if (!user) {
      response.body = dialogPage("Log in to Mingle",
                                 intro + loginForm(f, "Your login has ended; log in again."));
      return;
    }
  } else {
    if (!cookie(request, kTestCookie)) {
      response.body = dialogPage(
          "Log in to Mingle",
          intro + loginForm(f, "Cookies are turned off: the login needs them to stay logged in."));
      return;
    }
    user = context_.store.authenticate(field(f, "email"), field(f, "pass"));
    if (!user) {
      response.logNote = "login refused";
      response.body = dialogPage("Log in to Mingle",
                                 intro + loginForm(f, "The user name or the password is wrong."));
      return;
    }
    auto started = context_.store.startSiteLogin(user->id, kSiteLoginSeconds);
    if (!started) return problem(response, 500, "The login could not be kept; try again.");
    newLogin = *started;
  }
  auto token = context_.store.issueAuthToken(user->id, app->id, kAuthTokenSeconds);
  if (!token) return problem(response, 500, "The login could not be handed on; try again.");
  if (!newLogin.empty())
    response.setHeader("Set-Cookie", loginCookie(request, newLogin, kSiteLoginSeconds));
  response.logNote = "login " + user->name;
  redirect(response, withQueryParameter(*next, "auth_token", token->token));
}

void ConnectPages::logout(const ServiceRequest& request, ServiceResponse& response) {
  Fields f = fieldsOf(request);
  if (auto token = cookie(request, kLoginCookie)) (void)context_.store.endSiteLogin(*token);
  response.setHeader("Set-Cookie", loginCookie(request, "", 0));
  std::string target = "/login";
  for (const char* name : {"api_key", "next", "cancel", "minglekit", "connect_display"})
    if (f.count(name)) target = withQueryParameter(target, name, field(f, name));
  redirect(response, target);
}

std::optional<ConnectPages::Caller> ConnectPages::callerOf(const Fields& f,
                                                           ServiceResponse& response) {
  auto app = context_.store.applicationWithKey(field(f, "api_key"));
  if (!app) {
    problem(response, 400, "This request comes from an application that is not known here.");
    return std::nullopt;
  }
  auto session = context_.store.sessionWithKey(field(f, "session_key"));
  if (!session || session->appId != app->id) {
    problem(response, 403, "The session has ended or is not this application's; log in again.");
    return std::nullopt;
  }
  return Caller{*app, *session};
}

void ConnectPages::permissionPage(const ServiceRequest& request, ServiceResponse& response) {
  Fields f = fieldsOf(request);
  privatePage(response);
  auto caller = callerOf(f, response);
  if (!caller) return;
  const Application* app = &caller->app;
  const Session* session = &caller->session;
  std::string perm = field(f, "ext_perm");
  if (!isPermissionName(perm)) return problem(response, 400, "No valid permission was asked for.");
  if (!outcomeField(f, "next", "minglekit:success") ||
      !outcomeField(f, "cancel", "minglekit:cancel"))
    return problem(response, 400, "This request would go on to another site; it stops here.");
  auto user = context_.store.userWithId(session->userId);
  if (!user) return problem(response, 403, "The session's user is gone.");
  bool granted = context_.store.hasPermission(user->id, app->id, perm);
  std::string body = "<p><strong>" + htmlEscape(app->name) + "</strong> asks to " +
                     htmlEscape(describePermission(perm)) +
                     ".</p>\n<p class=\"note\">Logged in as " + htmlEscape(user->name) +
                     (granted ? "; allowed already" : "") + ".</p>\n";
  body += "<form method=\"post\" action=\"/connect/permission\" id=\"permission\">\n";
  for (const char* name : {"api_key", "session_key", "ext_perm", "next", "cancel", "display"})
    if (f.count(name)) body += hidden(name, field(f, name));
  body +=
      "<button type=\"submit\" name=\"decision\" value=\"allow\" "
      "id=\"allow_button\">Allow</button>\n"
      "<button type=\"submit\" name=\"decision\" value=\"deny\" class=\"secondary\" "
      "id=\"deny_button\">Don't allow</button>\n</form>\n";
  response.body = dialogPage("Allow access?", body);
}

void ConnectPages::permission(const ServiceRequest& request, ServiceResponse& response) {
  Fields f = fieldsOf(request);
  privatePage(response);
  auto caller = callerOf(f, response);
  if (!caller) return;
  const Application* app = &caller->app;
  const Session* session = &caller->session;
  std::string perm = field(f, "ext_perm");
  if (!isPermissionName(perm)) return problem(response, 400, "No valid permission was asked for.");
  auto next = outcomeField(f, "next", "minglekit:success");
  auto cancel = outcomeField(f, "cancel", "minglekit:cancel");
  if (!next || !cancel)
    return problem(response, 400, "This request would go on to another site; it stops here.");
  if (field(f, "decision") == "allow") {
    if (!context_.store.grantPermission(session->userId, app->id, perm))
      return problem(response, 500, "The permission could not be stored; try again.");
    response.logNote = "granted " + perm;
    return redirect(response, *next);
  }
  (void)context_.store.revokePermission(session->userId, app->id, perm);
  response.logNote = "refused " + perm;
  redirect(response, *cancel);
}

namespace {

struct FeedInfo {
  std::int64_t templateId = 0;
  std::string templateData;
  std::string body;
};

std::optional<FeedInfo> readFeedInfo(const std::string& text, std::string& error) {
  auto json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object()) {
    error = "The story is not readable (feed_info is not a JSON object).";
    return std::nullopt;
  }
  FeedInfo info;
  if (auto it = json.find("template_id"); it != json.end()) {
    if (!it->is_number_integer()) {
      error = "The story's template_id is not a whole number.";
      return std::nullopt;
    }
    info.templateId = it->get<std::int64_t>();
  }
  if (auto it = json.find("template_data"); it != json.end()) info.templateData = it->dump();
  if (auto it = json.find("body_general"); it != json.end()) {
    if (!it->is_string()) {
      error = "The story's body_general is not a text.";
      return std::nullopt;
    }
    info.body = it->get<std::string>();
  }
  if (info.body.empty() && info.templateData.empty() && info.templateId == 0) {
    error = "The story is empty.";
    return std::nullopt;
  }
  if (info.body.size() > 10000) {
    error = "The story is longer than 10000 bytes.";
    return std::nullopt;
  }
  return info;
}

}  // namespace

void ConnectPages::feedPage(const ServiceRequest& request, ServiceResponse& response) {
  Fields f = fieldsOf(request);
  privatePage(response);
  auto caller = callerOf(f, response);
  if (!caller) return;
  const Application* app = &caller->app;
  const Session* session = &caller->session;
  if (!field(f, "feed_target_type").empty() && field(f, "feed_target_type") != "self_feed")
    return problem(response, 400, "Stories go to your own feed only.");
  auto callback = outcomeField(f, "callback", "minglekit:success");
  auto cancel = outcomeField(f, "cancel", "minglekit:cancel");
  if (!callback || !cancel)
    return problem(response, 400, "This story would go on to another site; it stops here.");
  std::string error;
  auto info = readFeedInfo(field(f, "feed_info"), error);
  if (!info) return problem(response, 400, error);
  auto user = context_.store.userWithId(session->userId);
  if (!user) return problem(response, 403, "The session's user is gone.");
  std::string body = "<p><strong>" + htmlEscape(app->name) + "</strong> would post this to " +
                     htmlEscape(user->name) + "'s feed:</p>\n";
  body += "<blockquote class=\"story\" id=\"story\">" +
          (info->body.empty() ? std::string("<em>(a story from a template)</em>")
                              : htmlEscape(info->body)) +
          "</blockquote>\n";
  body += "<form method=\"post\" action=\"/connect/feed/publish\" id=\"feed\">\n";
  for (const char* name : {"api_key", "session_key", "feed_info", "callback", "cancel"})
    body += hidden(name, field(f, name));
  body +=
      "<button type=\"submit\" name=\"decision\" value=\"post\" id=\"post_button\">Post</button>\n"
      "<button type=\"submit\" name=\"decision\" value=\"cancel\" class=\"secondary\" "
      "id=\"skip_button\">Cancel</button>\n</form>\n";
  response.body = dialogPage("Post to your feed", body);
}

void ConnectPages::publish(const ServiceRequest& request, ServiceResponse& response) {
  Fields f = fieldsOf(request);
  privatePage(response);
  auto caller = callerOf(f, response);
  if (!caller) return;
  const Application* app = &caller->app;
  const Session* session = &caller->session;
  auto callback = outcomeField(f, "callback", "minglekit:success");
  auto cancel = outcomeField(f, "cancel", "minglekit:cancel");
  if (!callback || !cancel)
    return problem(response, 400, "This story would go on to another site; it stops here.");
  if (field(f, "decision") != "post") return redirect(response, *cancel);
  std::string error;
  auto info = readFeedInfo(field(f, "feed_info"), error);
  if (!info) return problem(response, 400, error);
  Story story;
  story.userId = session->userId;
  story.appId = app->id;
  story.templateId = info->templateId;
  story.templateData = info->templateData;
  story.body = info->body;
  auto stored = context_.store.addStory(story);
  if (!stored) return problem(response, 500, "The story could not be stored; try again.");
  response.logNote = "story " + std::to_string(stored->id);
  redirect(response, *callback);
}

}  // namespace glowsnap::services
