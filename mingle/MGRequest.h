// MGRequest: one call of the Mingle REST API. It adds the standard
// parameters to the caller's, signs them with an MD5 digest, sends them as
// a multipart POST through a URLConnection, reads the XML answer into plain
// values (MGXMLHandler), turns an error answer into an error, and reports
// to its delegate on the thread that started it. The session decides when
// it may start (three per two seconds).
//
// The caller need not keep a request: the session's queue holds it while
// it waits and its connection while it loads. A delegate that goes away
// first cancels the request or sets another delegate.
#pragma once

#include <any>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "mingle/MGValue.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Result.h"
#include "platform/graphics/Image.h"
#include "platform/net/Bytes.h"
#include "platform/net/URLConnection.h"

namespace glowsnap {

class MGRequest;
class MGSession;

// Every operation is optional. A request reports exactly one of
// didFailWithError, didLoad or requestWasCancelled.
class MGRequestDelegate {
 public:
  virtual ~MGRequestDelegate() = default;
  virtual void requestLoading(MGRequest& /*request*/) {}
  virtual void didReceiveResponse(MGRequest& /*request*/, const URLResponse& /*response*/) {}
  virtual void didFailWithError(MGRequest& /*request*/, const Error& /*error*/) {}
  virtual void didLoad(MGRequest& /*request*/, const MGValue& /*result*/) {}
  virtual void requestWasCancelled(MGRequest& /*request*/) {}
};

// A parameter is text or an image (sent as a JPEG file part, not signed).
using MGParamValue = std::variant<std::string, ImageRef>;
using MGParams = std::map<std::string, MGParamValue>;

class MGRequest : public URLConnectionDelegate, public std::enable_shared_from_this<MGRequest> {
 public:
  using Date = std::chrono::system_clock::time_point;

  static constexpr const char* kAPIVersion = "1.0";
  static constexpr const char* kAPIFormat = "XML";
  static constexpr const char* kUserAgent = "MingleKit";
  static constexpr const char* kStringBoundary = "3i2ndDfv2rTHiSisAbouNdArYfORhtTPEefj3q2f";
  static constexpr double kTimeoutInterval = 180.0;
  static constexpr float kJPEGQuality = 0.75f;
  // Answers are small XML documents; a peer sending more is cut off.
  static constexpr std::size_t kMaxAnswerBytes = 16u << 20;

  // On the shared session (none when there is no shared session: the
  // request then fails when it is sent).
  static std::shared_ptr<MGRequest> request();
  static std::shared_ptr<MGRequest> requestWithDelegate(MGRequestDelegate* delegate);
  static std::shared_ptr<MGRequest> requestWithSession(const std::shared_ptr<MGSession>& session);
  static std::shared_ptr<MGRequest> requestWithSession(const std::shared_ptr<MGSession>& session,
                                                       MGRequestDelegate* delegate);
  static std::shared_ptr<MGRequest> initWithSession(const std::shared_ptr<MGSession>& session);

  ~MGRequest() override;
  MGRequest(const MGRequest&) = delete;
  MGRequest& operator=(const MGRequest&) = delete;

  // A signed REST call of method with params.
  void call(const std::string& method, const MGParams& params = {});
  // An unsigned GET of url with params in its query (a session proxy).
  void post(const std::string& url, const MGParams& params = {});
  // Stops a request that is loading or waiting in its session's queue and
  // tells the delegate requestWasCancelled. Nothing for any other request.
  void cancel();

  // "<MGRequest photos.upload>", or the URL for a plain post.
  std::string description() const;

  std::shared_ptr<MGSession> session() const { return _session.lock(); }
  MGRequestDelegate* delegate() const { return _delegate; }
  void setDelegate(MGRequestDelegate* delegate) { _delegate = delegate; }
  const std::any& userInfo() const { return _userInfo; }
  void setUserInfo(std::any info) { _userInfo = std::move(info); }
  const std::string& url() const { return _url; }
  const std::optional<std::string>& method() const { return _method; }
  const MGParams& params() const { return _params; }
  const std::optional<Date>& timestamp() const { return _timestamp; }
  bool loading() const { return _connection != nullptr; }
  // Seconds without progress after which the call fails (180 to begin with).
  double timeoutInterval() const { return _timeoutInterval; }
  void setTimeoutInterval(double seconds) { _timeoutInterval = seconds; }

  // The signature of the parameters so far, or nothing when no digest is
  // available.
  std::optional<std::string> generateSig() const;
  static std::optional<std::string> generateSig(const MGSession* session,
                                                const std::optional<std::string>& method,
                                                const MGParams& params);
  // The signature rule, shared with the service that checks it: names in
  // case-insensitive order (ties in byte order), "name=value" for each text
  // parameter with nothing between, then the secret; the MD5 digest of
  // that as 32 lowercase hex digits.
  static std::optional<std::string> signatureOf(
      const std::vector<std::pair<std::string, std::string>>& textParams,
      const std::string& secret);
  // The POST body of this request (see postBody).
  Result<Bytes> generatePostBody() const;
  // The multipart layout peers expect: its fixed boundary, text parts
  // first, then each image as a JPEG part at quality 0.75 with the file
  // name "photo" and no name, and no closing delimiter after the last part.
  // An error names the parameter that cannot be sent.
  static Result<Bytes> postBody(const MGParams& params, const std::string& what = "MGRequest");
  // What call() sends for method on session: the caller's parameters, the
  // standard ones and the signature. Nothing when no digest is available.
  static std::optional<MGParams> callParams(const MGSession& session, const std::string& method,
                                            const MGParams& params);
  // An answer read into values; an "error_response" becomes an Error of
  // domain host with the answer's code and message.
  static Result<MGValue> parseXMLResponse(const Bytes& data, const std::string& host);

  // The moment connect() started the request, for the session's pacing.
  std::chrono::steady_clock::time_point startTime() const { return _startTime; }

  // The URL connection's callbacks.
  void didReceiveResponse(URLConnection& connection, const URLResponse& response) override;
  void didReceiveData(URLConnection& connection, const Bytes& data) override;
  void didFailWithError(URLConnection& connection, const Error& error) override;
  void connectionDidFinishLoading(URLConnection& connection) override;

 private:
  struct Private {};

 public:
  MGRequest(Private, const std::shared_ptr<MGSession>& session);

 private:
  friend class MGSession;
  void connect();
  void send();
  Result<URLRequest> makeURLRequest() const;
  void failSoon(Error error);
  void reportFailure(const Error& error);

  std::weak_ptr<MGSession> _session;
  MGRequestDelegate* _delegate = nullptr;
  std::string _url;
  std::optional<std::string> _method;
  std::any _userInfo;
  MGParams _params;
  std::optional<Date> _timestamp;
  std::shared_ptr<URLConnection> _connection;
  std::optional<Bytes> _responseText;

  std::chrono::steady_clock::time_point _startTime;
  double _timeoutInterval = kTimeoutInterval;
  int _statusCode = 0;
  bool _sent = false;
  bool _failurePending = false;
};

}  // namespace glowsnap
