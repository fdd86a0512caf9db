// MGGlobal: what the Mingle client's pieces share: where the service is,
// and the error domain and codes of the client's own failures (failures of
// the connection and of the service have domains of their own).
#pragma once

#include <string>

namespace glowsnap {

inline constexpr const char* kMGErrorDomain = "MingleKitErrorDomain";
enum MGErrorCode : int {
  // A parameter that cannot be sent as it is (a name with a quote or a line
  // break, a value that holds the multipart boundary line).
  kMGInvalidParameterError = 1,
  // The image of a call could not be encoded as JPEG.
  kMGImageEncodingError = 2,
  // Session keys and secrets go only over https or to this machine.
  kMGInsecureTransportError = 3,
  // The server answered with an HTTP failure status and no error answer.
  kMGHTTPStatusError = 4,
  // The signature could not be made (no MD5 digest available).
  kMGSigningError = 5,
  // The request has no session, or no URL to go to.
  kMGNoSessionError = 6,
  // The answer is larger than any answer of the service can be.
  kMGAnswerTooLargeError = 7,
  // An answer that does not have the shape its call answers with (a
  // getSession answer without a user id or a session key, say).
  kMGInvalidAnswerError = 8,
};

// Where the Mingle service lives. The standard configuration points at a
// glowsnap-services on this machine; GLOWSNAP_MINGLE_URL (a base URL such
// as "https://mingle.example.org") moves it.
struct MGServerConfiguration {
  // The REST endpoint over plain HTTP and over HTTPS; both end in "/api/rest".
  std::string restURL;
  std::string restSecureURL;
  // The web site of the login, permission and feed pages (no trailing "/").
  std::string siteURL;
  // The host of the login pages, whose cookies logout deletes.
  std::string loginHost;

  static constexpr const char* kDefaultBaseURL = "http://127.0.0.1:8420";

  // The configuration of one server at baseURL (scheme, host and port). For
  // an http base the secure endpoint is the same authority over https.
  // False, leaving out as it was, when baseURL is not an http or https URL.
  static bool forServer(const std::string& baseURL, MGServerConfiguration& out);
  // The process-wide configuration new sessions take.
  static MGServerConfiguration standard();
  static void setStandard(const MGServerConfiguration& configuration);
};

// text with every byte but the unreserved characters (A-Z a-z 0-9 - . _ ~)
// percent-escaped, so that a value can neither end its query parameter nor
// start another.
std::string MGEscapeQueryComponent(const std::string& text);

// localhost and the loopback addresses (127.0.0.0/8, ::1).
bool MGIsLoopbackHost(const std::string& host);

}  // namespace glowsnap
