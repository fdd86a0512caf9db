// MingleAPI: the Mingle REST API at "/api/rest". A call is a POST of a
// multipart (or URL-encoded) form with the standard parameters "method",
// "api_key", "v", "sig", and for calls on a session "session_key",
// "call_id" and "ss". The signature is checked against the application's
// secret (the two session-less methods, and session calls without "ss")
// or the session's secret ("ss" = "1") before anything else happens; the
// answer is XML, errors an "error_response" with "error_code", "error_msg"
// and "request_args".
//
// Methods: "mingle.auth.getSession" (a one-time token for a session),
// "mingle.query" (a small query language over users and photos) and
// "photos.upload" (needs the "photo_upload" permission). Further methods
// are added with addMethod().
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>

#include "services/FormData.h"
#include "services/Router.h"
#include "services/ServiceContext.h"

namespace glowsnap::services {

struct MingleError {
  int code;
  std::string message;
};

// The service's error codes.
enum MingleErrorCode : int {
  kMingleUnknownError = 1,
  kMingleUnknownMethod = 3,
  kMingleInvalidParameter = 100,
  kMingleInvalidAPIKey = 101,
  kMingleInvalidSession = 102,
  kMingleIncorrectSignature = 104,
  kMingleInvalidAuthToken = 105,
  kMingleRequestTooLarge = 130,
  kMinglePermissionDenied = 200,
  kMingleInvalidPhoto = 320,
  kMingleQueryError = 601,
};

// One call after its checks: the parameters (text parts), the whole form,
// the application and, for session calls, the session and its user.
struct MingleCall {
  const ServiceRequest& request;
  const FormData& form;
  std::map<std::string, std::string> params;
  Application app;
  std::optional<Session> session;
  std::optional<User> user;

  std::optional<std::string> param(const std::string& name) const;
};

class MingleAPI {
 public:
  static constexpr const char* kPath = "/api/rest";
  static constexpr const char* kVersion = "1.0";

  // The answer document, or an error.
  using Answer = std::variant<std::string, MingleError>;
  using Method = std::function<Answer(MingleCall&)>;

  explicit MingleAPI(ServiceContext& context);

  void registerRoutes(Router& router);
  // needsSession: the call must carry a valid session_key.
  void addMethod(const std::string& name, bool needsSession, Method method);

  void handle(const ServiceRequest& request, ServiceResponse& response);

  // An "error_response" document; request_args lists the call's parameters
  // without the secret ones (sig, session_key, auth_token).
  static std::string errorDocument(const MingleError& error,
                                   const std::map<std::string, std::string>& args);
  // "photos.upload" → "photos_upload_response".
  static std::string responseName(const std::string& method);

 private:
  struct Entry {
    bool needsSession;
    Method method;
  };
  Answer getSession(MingleCall& call);
  Answer query(MingleCall& call);
  Answer uploadPhoto(MingleCall& call);
  Answer run(const ServiceRequest& request, std::map<std::string, std::string>& args,
             std::string& logNote);

  ServiceContext& context_;
  std::map<std::string, Entry> methods_;
};

}  // namespace glowsnap::services
