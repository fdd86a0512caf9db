// HTTPRequest: one HTTP request and its response, run as an operation.
//
// The caller makes a request for a URL, sets headers, a body and options,
// and runs it synchronously with start() (main() on the calling thread) or
// hands it to a queue whose worker thread runs it. While it runs, the
// request drives one HTTPReadStream per attempt on its thread's RunLoop in
// the private mode "HTTPRequest", watches inactivity for its time-out,
// follows redirects itself, gathers status, headers, cookies and body
// (in memory or into a file), and finally reports success or failure to its
// delegate and queue on the main thread.
//
// Every failure goes through failWithError(); the first one wins and is the
// only one reported. Errors are in the domain "HTTPRequestErrorDomain" with
// the codes of ErrorCode.
//
// Requests are shared objects: make them with requestWithURL(), since the
// messages performed on the main thread keep the request alive until they
// have run.
//
// The class is written in one source file per concern: HTTPRequest.cpp (the
// request, its message, its results and their delivery),
// HTTPRequestTransfer.cpp (the attempts, the stream events and the state
// machine of the transfer), HTTPRequestBodies.cpp (bodies and downloads on
// disk, compression), HTTPRequestProgress.cpp (progress indicators and the
// class-wide bandwidth meter), HTTPRequestAuthentication.cpp (answers to
// 401 and 407) and HTTPRequestProxies.cpp (which proxy a URL goes through).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <condition_variable>

#include "http/BandwidthMeter.h"
#include "http/HTTPRequestDelegate.h"
#include "http/Operation.h"
#include "http/RequestBody.h"
#include "http/SessionCredentials.h"
#include "http/TextEncoding.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Bytes.h"
#include "platform/net/CredentialStorage.h"
#include "platform/net/FileOutputStream.h"
#include "platform/net/HTTPAuthentication.h"
#include "platform/net/HTTPCookie.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/HTTPReadStream.h"
#include "platform/net/InputStream.h"
#include "platform/net/ProxyLookup.h"
#include "platform/net/URL.h"

namespace glowsnap {

class GzipInflater;

class HTTPRequest : public Operation, public std::enable_shared_from_this<HTTPRequest> {
 public:
  using Clock = std::chrono::steady_clock;
  // Request headers: the same spelling (case included) replaces a value.
  using HeaderDictionary = std::map<std::string, std::string>;

  static constexpr const char* kNetworkRequestErrorDomain = "HTTPRequestErrorDomain";
  static constexpr const char* kHTTPRequestRunMode = "HTTPRequest";
  static constexpr int kMaxRedirects = 5;

  enum ErrorCode {
    kConnectionFailureErrorType = 1,
    kRequestTimedOutErrorType = 2,
    kAuthenticationErrorType = 3,
    kRequestCancelledErrorType = 4,
    kUnableToCreateRequestErrorType = 5,
    kInternalErrorWhileBuildingRequestType = 6,
    kInternalErrorWhileApplyingCredentialsType = 7,
    kFileManagementError = 8,
    kTooMuchRedirectionErrorType = 9,
  };

  // The shared errors, handed out as they are.
  static std::shared_ptr<const Error> RequestTimedOutError();
  static std::shared_ptr<const Error> AuthenticationError();
  static std::shared_ptr<const Error> RequestCancelledError();
  static std::shared_ptr<const Error> UnableToCreateRequestError();
  static std::shared_ptr<const Error> TooMuchRedirectionError();

  static std::shared_ptr<HTTPRequest> requestWithURL(std::optional<URL> url);
  ~HTTPRequest() override;

  // --- configuration ---------------------------------------------------
  // Adds or replaces a header. Names or values holding CR or LF are kept
  // here but refused when the message is built (the request then fails with
  // code 5 instead of sending a split header).
  void addRequestHeader(const std::string& name, const std::string& value);
  // Appends to the body. In memory by default; when
  // shouldStreamPostDataFromDisk is set the body is made of pieces sent in
  // order (postBodyPieces): bytes, and files read from the files themselves
  // while the body is sent, after a caller's own body file
  // (postBodyFilePath) when there is one. No file given here is ever
  // written to, and no copy of one is made.
  void appendPostData(const Bytes& data);
  // Appends a file's contents: a piece of the body on disk, or a copy into
  // the body in memory (262144 bytes at a time). A file that cannot be read
  // (missing, a directory) fails the request at once, code 8, naming it.
  void appendPostDataFromFile(const std::string& path);
  // The pieces appended while shouldStreamPostDataFromDisk was set.
  const RequestBody& postBodyPieces() const { return postBodyPieces_; }
  // The body as it is sent, once buildPostBody has run: a new stream of it
  // (its gzip form when the body is compressed), or nothing without body.
  std::shared_ptr<InputStream> postBodyStream() { return makePostBodyReadStream(); }
  // Measures the body, sets "Content-Length" and, for a body on a GET, the
  // method "POST". Subclasses produce their body first, then call this.
  virtual void buildPostBody();
  void setupPostBody();

  // --- running -----------------------------------------------------------
  // The transfer's states. A request is kIdle until it runs. Each attempt
  // goes kStarting (the stream is being made) → kAwaitingHead (it is open)
  // → kReceivingBody; a redirect's head leads to kRedirectPending, after
  // which the next attempt starts for the new URL, and a 401 or 407 head to
  // kAuthenticating, after which a new attempt starts or the request ends.
  // kComplete is the end, finished or failed (error() tells which). Every
  // change goes through one transition function and is written to the
  // transfer log when there is one.
  enum class TransferState {
    kIdle,
    kStarting,
    kAwaitingHead,
    kReceivingBody,
    kRedirectPending,
    kAuthenticating,
    kComplete,
  };
  static const char* transferStateName(TransferState state);
  TransferState transferState() const { return state_.load(); }
  // Receives one line per state change, naming the request (its method and
  // URL, without user information) and the two states. For diagnostics;
  // nothing is logged without one. Called on the thread that changes the
  // state.
  static void setTransferLog(std::function<void(const std::string&)> log);

  // Receives the body of the final response as it arrives, instead of
  // memory or a file: gzip-encoded bodies are decoded on the way, with no
  // limit, in constant memory. The consumer answers nothing when it took the
  // bytes, else the reason it could not (the request then fails, code 8).
  // Bytes that arrived before a connection failure are handed over before
  // the failure is reported. Called on the request's thread.
  using ResponseBodyConsumer =
      std::function<std::optional<std::string>(const std::uint8_t* bytes, std::size_t count)>;
  void setResponseBodyConsumer(ResponseBodyConsumer consumer) {
    responseBodyConsumer_ = std::move(consumer);
  }

  void main() override;
  void cancel() override;
  bool isFinished() const override { return complete(); }

  // --- results -----------------------------------------------------------
  int responseStatusCode() const { return responseStatusCode_; }
  const std::optional<HTTPHeaderFields>& responseHeaders() const { return responseHeaders_; }
  const std::optional<std::vector<HTTPCookie>>& responseCookies() const { return responseCookies_; }
  std::uint64_t contentLength() const { return contentLength_; }
  std::uint64_t totalBytesRead() const { return totalBytesRead_; }
  std::uint64_t totalBytesSent() const { return totalBytesSent_; }
  TextEncoding::Value responseEncoding() const { return responseEncoding_; }
  std::shared_ptr<const Error> error() const;
  // The body, gzip-decoded when the response says so; nothing when no body
  // was kept (written to a file, or the request failed) or it cannot be
  // decoded.
  std::optional<Bytes> responseData() const;
  // Why responseData() is nothing although a body was kept: corrupt gzip,
  // or a decoded size over maxUncompressedDataLength().
  std::optional<std::string> responseDataProblem() const;
  // responseData as UTF-8 text, read in responseEncoding.
  std::optional<std::string> responseString() const;
  bool isResponseCompressed() const;
  const std::optional<Bytes>& rawResponseData() const { return rawResponseData_; }

  // --- class-wide --------------------------------------------------------
  // "Name Version (machine; System Version; locale)", or nothing when the
  // application has not named itself (see setApplicationInfo).
  static std::optional<std::string> defaultUserAgentString();
  // The application's information as the user agent reads it: the keys
  // "CFBundleDisplayName", "CFBundleName" and "CFBundleVersion".
  static void setApplicationInfo(std::map<std::string, std::string> info);
  static std::string mimeTypeForFileAtPath(const std::string& path);

  static std::vector<HTTPCookie> sessionCookies();
  static void setSessionCookies(std::optional<std::vector<HTTPCookie>> cookies);
  static void addSessionCookie(const HTTPCookie& cookie);
  // Forgets the session's credentials (server and proxy) and cookies.
  static void clearSession();

  // --- credentials and proxies (class-wide) ------------------------------
  // Credentials that worked during this process, by protection space: the
  // server's are sent again, unasked, to the same origin only; the proxy's
  // are kept and never sent unasked.
  static SessionCredentials& sessionCredentials();
  static SessionCredentials& sessionProxyCredentials();
  // The desktop keyring's default credential of a protection space (port as
  // the URL's effective port, protocol its scheme). Saving fails, keeping
  // nothing, where no Secret Service runs.
  static Result<void> saveCredentials(const Credential& credential, const std::string& host,
                                      int port, const std::string& protocol,
                                      const std::string& realm);
  static std::optional<Credential> savedCredentials(const std::string& host, int port,
                                                    const std::string& protocol,
                                                    const std::string& realm);
  static Result<void> removeCredentials(const std::string& host, int port,
                                        const std::string& protocol, const std::string& realm);
  // The proxies a PAC script (http, https or file URL, fetched without a
  // proxy) names for url; the error says why there are none.
  static Result<std::vector<ProxyEntry>> proxiesForURL(const URL& url, const URL& pacURL);

  static std::optional<Bytes> compressData(const Bytes& data);
  static std::optional<Bytes> uncompressZippedData(const Bytes& data);
  static int compressDataFromFile(const std::string& source, const std::string& destination);
  static int uncompressZippedDataFromFile(const std::string& source,
                                          const std::string& destination);
  // In-memory decoding stops at this many bytes (default 256 MiB): a larger
  // result decodes to nothing.
  static void setMaxUncompressedDataLength(std::uint64_t bytes);
  static std::uint64_t maxUncompressedDataLength();

  // --- bandwidth (class-wide, under bandwidthThrottlingLock) ------------
  // One meter counts the bytes all requests receive and send per second.
  // With a limit (bytes per second, 0 for none) every transfer is held to it
  // while throttling is in force: downloads read less and their loops wait
  // for the next second, uploads read a quarter of the limit at a time and
  // pause when the second's budget is spent. Nothing waits while holding
  // the lock.
  static void setMaxBandwidthPerSecond(std::uint32_t bytes);
  static std::uint32_t maxBandwidthPerSecond();
  // A limit is set and applies now: always, or with WWAN-only throttling
  // while the device is on the carrier's data network.
  static bool isBandwidthThrottled();
  static void incrementBandwidthUsedInLastSecond(std::uint32_t bytes);
  // One pass of a transfer loop: ends the measurement second when it is
  // over and, when throttling is in force and the second's budget is
  // spent, waits (without the lock) until the next second begins, the
  // limit changes or `waiter` is cancelled.
  static void measureBandwidthUsage(const Operation* waiter = nullptr);
  // Mean bytes per second over the last seconds (up to six).
  static std::uint32_t averageBandwidthUsedPerSecond();
  // The most an upload may read now: 0 when the second's budget is spent
  // (the read then waits for secondsUntilBandwidthAvailable()).
  static std::uint32_t maxUploadReadLength();
  static double secondsUntilBandwidthAvailable();
  // The size of a download read of `size` bytes while throttled.
  static std::size_t throttledReadSize(std::size_t size);
  // Limits bandwidth to 14800 bytes per second while on the carrier's data
  // network (true), or removes that limit (false).
  static void setShouldThrottleBandwidthForWWAN(bool throttle);
  static void throttleBandwidthForWWANUsingLimit(std::uint32_t limit);
  // Reads the network's status again (the reachability notification's
  // handler; the notification itself is not used).
  static void reachabilityChanged(const Notification& notification);
  // The meter's state, for diagnostics and tests.
  static BandwidthMeter bandwidthMeter();
  // Forgets the meter's history and any limit (for tests and tools that
  // run several transfers in one process).
  static void resetBandwidthMeter();
  // Hands one value to an indicator on the main thread ("setProgress:" as a
  // float, else "setDoubleValue:"); waits only on the main thread.
  static void setProgressForIndicator(double progress, ProgressIndicator* indicator);
  static std::recursive_mutex& progressLock();

  // A new unique path in the temporary directory.
  static std::string temporaryFilePath();

  // --- properties --------------------------------------------------------
  const std::optional<URL>& url() const { return url_; }
  void setURL(std::optional<URL> url) { url_ = std::move(url); }
  HTTPRequestDelegate* delegate() const { return delegate_; }
  void setDelegate(HTTPRequestDelegate* d) { delegate_ = d; }
  // The queue that runs the request, while it exists: a queue that goes
  // away is forgotten, and a message in progress keeps it alive until it
  // returns.
  std::shared_ptr<HTTPRequestQueue> queue() const;
  void setQueue(std::weak_ptr<HTTPRequestQueue> q);
  const std::string& requestMethod() const { return requestMethod_; }
  void setRequestMethod(std::string m) { requestMethod_ = std::move(m); }
  const std::optional<Bytes>& postBody() const { return postBody_; }
  void setPostBody(std::optional<Bytes> b) { postBody_ = std::move(b); }
  const std::optional<Bytes>& compressedPostBody() const { return compressedPostBody_; }
  bool shouldStreamPostDataFromDisk() const { return shouldStreamPostDataFromDisk_; }
  void setShouldStreamPostDataFromDisk(bool v) { shouldStreamPostDataFromDisk_ = v; }
  const std::optional<std::string>& postBodyFilePath() const { return postBodyFilePath_; }
  void setPostBodyFilePath(std::optional<std::string> p) { postBodyFilePath_ = std::move(p); }
  const std::optional<std::string>& compressedPostBodyFilePath() const {
    return compressedPostBodyFilePath_;
  }
  bool didCreateTemporaryPostDataFile() const { return didCreateTemporaryPostDataFile_; }
  void setDidCreateTemporaryPostDataFile(bool v) { didCreateTemporaryPostDataFile_ = v; }
  const std::optional<HeaderDictionary>& requestHeaders() const { return requestHeaders_; }
  void setRequestHeaders(std::optional<HeaderDictionary> h) { requestHeaders_ = std::move(h); }
  const std::vector<HTTPCookie>& requestCookies() const { return requestCookies_; }
  void setRequestCookies(std::vector<HTTPCookie> c) { requestCookies_ = std::move(c); }
  bool useCookiePersistance() const { return useCookiePersistance_; }
  void setUseCookiePersistance(bool v) { useCookiePersistance_ = v; }
  bool useKeychainPersistance() const { return useKeychainPersistance_; }
  void setUseKeychainPersistance(bool v) { useKeychainPersistance_ = v; }
  bool useSessionPersistance() const { return useSessionPersistance_; }
  void setUseSessionPersistance(bool v) { useSessionPersistance_ = v; }
  bool allowCompressedResponse() const { return allowCompressedResponse_; }
  void setAllowCompressedResponse(bool v) { allowCompressedResponse_ = v; }
  bool shouldCompressRequestBody() const { return shouldCompressRequestBody_; }
  void setShouldCompressRequestBody(bool v) { shouldCompressRequestBody_ = v; }
  const std::optional<std::string>& downloadDestinationPath() const {
    return downloadDestinationPath_;
  }
  void setDownloadDestinationPath(std::optional<std::string> p) {
    downloadDestinationPath_ = std::move(p);
  }
  const std::optional<std::string>& temporaryFileDownloadPath() const {
    return temporaryFileDownloadPath_;
  }
  void setTemporaryFileDownloadPath(std::optional<std::string> p) {
    temporaryFileDownloadPath_ = std::move(p);
  }
  bool complete() const { return state_.load() == TransferState::kComplete; }
  void setComplete(bool v) { transition(v ? TransferState::kComplete : TransferState::kIdle); }
  void setError(std::shared_ptr<const Error> e);
  const std::optional<std::string>& username() const { return username_; }
  void setUsername(std::optional<std::string> v) { username_ = std::move(v); }
  const std::optional<std::string>& password() const { return password_; }
  void setPassword(std::optional<std::string> v) { password_ = std::move(v); }
  const std::optional<std::string>& domain() const { return domain_; }
  void setDomain(std::optional<std::string> v) { domain_ = std::move(v); }
  const std::optional<std::string>& proxyUsername() const { return proxyUsername_; }
  void setProxyUsername(std::optional<std::string> v) { proxyUsername_ = std::move(v); }
  const std::optional<std::string>& proxyPassword() const { return proxyPassword_; }
  void setProxyPassword(std::optional<std::string> v) { proxyPassword_ = std::move(v); }
  const std::optional<std::string>& proxyDomain() const { return proxyDomain_; }
  void setProxyDomain(std::optional<std::string> v) { proxyDomain_ = std::move(v); }
  ProgressIndicator* uploadProgressDelegate() const { return uploadProgressDelegate_; }
  void setUploadProgressDelegate(ProgressIndicator* p);
  ProgressIndicator* downloadProgressDelegate() const { return downloadProgressDelegate_; }
  void setDownloadProgressDelegate(ProgressIndicator* p);
  void setRawResponseData(std::optional<Bytes> d) { rawResponseData_ = std::move(d); }

  // --- authentication --------------------------------------------------------
  // Called by a delegate (or queue) asked for credentials, from any thread,
  // once it has set them on the request (or not): the request's thread
  // waits until then. A delegate that cancels the request calls it too.
  void retryWithAuthentication();
  // The credentials of the first source that has both user and password:
  // the URL's own, the main request's, this request's (these two for the
  // origin the request was made for only), the keyring's (with
  // useKeychainPersistance). Nothing without a challenge or credentials.
  std::optional<HeaderDictionary> findCredentials();
  std::optional<HeaderDictionary> findProxyCredentials();
  // Applies credentials to the request message for the challenge; false
  // when they cannot be (a Basic password over plain http to another host
  // than this one is never sent).
  bool applyCredentials(const HeaderDictionary& credentials);
  bool applyProxyCredentials(const HeaderDictionary& credentials);
  bool askDelegateForCredentials();
  bool askDelegateForProxyCredentials();
  void saveCredentialsToKeychain(const HeaderDictionary& credentials);
  void saveProxyCredentialsToKeychain(const HeaderDictionary& credentials);
  // Why the credentials that worked could not be kept in the keyring.
  std::shared_ptr<const Error> keychainError() const;
  const std::shared_ptr<HTTPAuthentication>& requestAuthentication() const {
    return requestAuthentication_;
  }
  const std::shared_ptr<HTTPAuthentication>& proxyAuthentication() const {
    return proxyAuthentication_;
  }
  const std::optional<std::string>& authenticationMethod() const { return authenticationMethod_; }
  const std::optional<std::string>& proxyAuthenticationMethod() const {
    return proxyAuthenticationMethod_;
  }
  const std::optional<HTTPMessage>& request() const { return request_; }
  const std::optional<HeaderDictionary>& requestCredentials() const { return requestCredentials_; }
  int authenticationRetryCount() const { return authenticationRetryCount_; }
  const std::optional<std::string>& authenticationRealm() const { return authenticationRealm_; }
  bool needsProxyAuthentication() const { return needsProxyAuthentication_; }
  int proxyAuthenticationRetryCount() const { return proxyAuthenticationRetryCount_; }
  const std::optional<std::string>& proxyAuthenticationRealm() const {
    return proxyAuthenticationRealm_;
  }
  void setResponseStatusCode(int v) { responseStatusCode_ = v; }
  void setContentLength(std::uint64_t v) { contentLength_ = v; }
  std::uint64_t partialDownloadSize() const { return partialDownloadSize_; }
  void setPartialDownloadSize(std::uint64_t v) { partialDownloadSize_ = v; }
  std::uint64_t postLength() const { return postLength_; }
  void setPostLength(std::uint64_t v) { postLength_ = v; }
  void setTotalBytesRead(std::uint64_t v) { totalBytesRead_ = v; }
  void setTotalBytesSent(std::uint64_t v) { totalBytesSent_ = v; }
  std::uint64_t lastBytesRead() const { return lastBytesRead_; }
  void setLastBytesRead(std::uint64_t v) { lastBytesRead_ = v; }
  std::uint64_t lastBytesSent() const { return lastBytesSent_; }
  void setLastBytesSent(std::uint64_t v) { lastBytesSent_ = v; }
  const std::optional<Selector>& didFinishSelector() const { return didFinishSelector_; }
  void setDidFinishSelector(std::optional<Selector> s) { didFinishSelector_ = std::move(s); }
  const std::optional<Selector>& didFailSelector() const { return didFailSelector_; }
  void setDidFailSelector(std::optional<Selector> s) { didFailSelector_ = std::move(s); }
  const std::optional<Clock::time_point>& lastActivityTime() const { return lastActivityTime_; }
  void setLastActivityTime(std::optional<Clock::time_point> t) { lastActivityTime_ = t; }
  double timeOutSeconds() const { return timeOutSeconds_; }
  void setTimeOutSeconds(double s) { timeOutSeconds_ = s; }
  bool shouldResetProgressIndicators() const { return shouldResetProgressIndicators_; }
  void setShouldResetProgressIndicators(bool v) { shouldResetProgressIndicators_ = v; }
  const std::shared_ptr<HTTPRequest>& mainRequest() const { return mainRequest_; }
  void setMainRequest(std::shared_ptr<HTTPRequest> r) { mainRequest_ = std::move(r); }
  bool showAccurateProgress() const { return showAccurateProgress_; }
  void setShowAccurateProgress(bool v) { showAccurateProgress_ = v; }
  bool updatedProgress() const { return updatedProgress_; }
  void setUpdatedProgress(bool v) { updatedProgress_ = v; }
  bool haveBuiltPostBody() const { return haveBuiltPostBody_; }
  void setHaveBuiltPostBody(bool v) { haveBuiltPostBody_ = v; }
  std::uint64_t uploadBufferSize() const { return uploadBufferSize_; }
  void setUploadBufferSize(std::uint64_t v) { uploadBufferSize_ = v; }
  TextEncoding::Value defaultResponseEncoding() const { return defaultResponseEncoding_; }
  void setDefaultResponseEncoding(TextEncoding::Value e) { defaultResponseEncoding_ = e; }
  void setResponseEncoding(TextEncoding::Value e) { responseEncoding_ = e; }
  bool allowResumeForFileDownloads() const { return allowResumeForFileDownloads_; }
  void setAllowResumeForFileDownloads(bool v) { allowResumeForFileDownloads_ = v; }
  const std::map<std::string, std::string>& userInfo() const { return userInfo_; }
  void setUserInfo(std::map<std::string, std::string> u) { userInfo_ = std::move(u); }
  bool useHTTPVersionOne() const { return useHTTPVersionOne_; }
  void setUseHTTPVersionOne(bool v) { useHTTPVersionOne_ = v; }
  bool shouldRedirect() const { return shouldRedirect_; }
  void setShouldRedirect(bool v) { shouldRedirect_ = v; }
  bool needsRedirect() const { return state_.load() == TransferState::kRedirectPending; }
  int redirectCount() const { return redirectCount_; }
  void setRedirectCount(int v) { redirectCount_ = v; }
  bool validatesSecureCertificate() const { return validatesSecureCertificate_; }
  void setValidatesSecureCertificate(bool v) { validatesSecureCertificate_ = v; }
  const std::optional<std::string>& proxyHost() const { return proxyHost_; }
  void setProxyHost(std::optional<std::string> h) { proxyHost_ = std::move(h); }
  int proxyPort() const { return proxyPort_; }
  void setProxyPort(int p) { proxyPort_ = p; }
  const std::optional<URL>& PACurl() const { return PACurl_; }
  void setPACurl(std::optional<URL> u) { PACurl_ = std::move(u); }

  // --- the transfer (for the request's own parts and subclasses) ---------
  // Reports a failure once (see the class comment).
  void failWithError(std::shared_ptr<const Error> error);
  void requestFinished();
  // The time-out rule of the loop, for the given moment.
  bool hasTimedOut(Clock::time_point now) const;
  // Read size for the announced length.
  static std::size_t readSizeForContentLength(std::uint64_t contentLength);
  // Leading decimal integer of a header value, as the response length is
  // read (0 when the value does not start with one).
  static std::uint64_t leadingLength(const std::string& text);
  // The charset a "Content-Type" value names, read as the client reads it.
  static std::optional<std::string> charsetFromContentType(const std::string& contentType);

 protected:
  explicit HTTPRequest(std::optional<URL> url);

  static std::shared_ptr<const Error> makeError(int code, std::string description,
                                                std::shared_ptr<const Error> underlying = nullptr);

 private:
  friend void ReadStreamClientCallBack(HTTPReadStream& stream, unsigned event, void* info);

  // --- the request (HTTPRequest.cpp) -------------------------------------
  // Builds the message for url_ (cookies, user agent, encodings, range,
  // the caller's headers) into request_; false when the request failed.
  bool buildRequestMessage();
  void deliverToMainThread(std::function<void(HTTPRequest&)> fn);
  bool onOwnerThread() const;

  // --- the transfer (HTTPRequestTransfer.cpp) ----------------------------
  // The one place the state changes; false (and no change) when the change
  // is not one the transfer makes: nothing but a new run leaves kComplete.
  bool transition(TransferState next);
  void startRequest();
  void loadRequest();
  void handleNetworkEvent(unsigned event);
  bool readResponseHeadersReturningAuthenticationFailure();
  void handleBytesAvailable();
  void handleStreamComplete();
  void handleStreamError();
  void cancelLoad();
  void closeReadStream();

  // --- bodies and files (HTTPRequestBodies.cpp) --------------------------
  // The stream that feeds the body of an attempt, or nothing without body.
  std::shared_ptr<InputStream> makePostBodyReadStream();
  std::shared_ptr<const Error> removePostDataFile();
  std::shared_ptr<const Error> removeTemporaryDownloadFile();
  std::shared_ptr<const Error> finishDownloadFile();
  bool openDownloadStream();
  // Writes received body bytes to the download; on failure the request
  // fails (code 8).
  void writeDownloadedBytes(const std::uint8_t* bytes, std::size_t count);
  // Tear-down: the download stream is closed and, unless downloads may
  // resume, its temporary file removed.
  void discardDownloadFile();
  void removeBodyFilesQuietly();
  // A 303 answer: the body, wherever it is, is no longer sent.
  void forgetBody();
  // Where the download goes, checked before anything is sent (a directory
  // or a device as the partial file is refused); the failure, code 8.
  std::shared_ptr<const Error> checkDownloadOutputs();
  // Received body bytes for the consumer (decoded on the way); false when
  // the request failed.
  bool consumeBody(const std::uint8_t* bytes, std::size_t count);
  // The end of the body for the consumer: a gzip stream must be complete.
  std::shared_ptr<const Error> finishConsumedBody();
  // A 416 answer to a resumed download: whether the partial file is already
  // the whole body (the server's "Content-Range: bytes */N" says so).
  bool partialDownloadIsComplete() const;

  // --- progress and bandwidth (HTTPRequestProgress.cpp) ------------------
  void updateProgressIndicators();
  void updateUploadProgress();
  void updateDownloadProgress();
  void resetUploadProgress(std::uint64_t value);
  void resetDownloadProgress(std::uint64_t value);
  void removeUploadProgressSoFar();
  // Lets loops waiting for the next second look at their cancellation.
  static void wakeBandwidthWaiters();

  // --- authentication (HTTPRequestAuthentication.cpp) --------------------
  // A 401 (or, with needsProxyAuthentication, a 407) head has ended the
  // attempt's reading: answer the challenge with a new attempt
  // (startRequest) or end the request through failWithError.
  void attemptToApplyCredentialsAndResume();
  void attemptToApplyProxyCredentialsAndResume();
  // Credentials the session keeps, applied to a new message before anything
  // is sent (when useSessionPersistance is set).
  void applySessionCredentials(HTTPMessage& message);
  // Every attempt begins here, before its stream is made (a delegate asked
  // for credentials answers the attempt that asked).
  void prepareAuthenticationForAttempt();
  // The status of a response head: credentials applied to the attempt that
  // got past the challenge are kept (session, keyring).
  void responseStatusReceived(int status);
  // A redirect to another origin leaves the old one's challenge behind.
  void authenticationRedirected(const URL& previous);

  // A condition lock: the delegate hand-off waits on it.
  class ConditionLock {
   public:
    // Waits until the condition holds; on the main thread its RunLoop is
    // served meanwhile (serveMainLoop), so that a delegate may answer from
    // the main thread later.
    void lockWhenCondition(int condition, bool serveMainLoop);
    void unlockWithCondition(int condition);

   private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int condition_ = 1;
  };
  std::shared_ptr<ConditionLock> authenticationLock();

  // The fields of one side of a challenge (the server's or the proxy's).
  struct ChallengeSide {
    bool proxy;
    std::shared_ptr<HTTPAuthentication>& authentication;
    std::optional<std::string>& method;
    std::optional<std::string>& realm;
    std::optional<HeaderDictionary>& credentials;
    int& retryCount;
    std::optional<std::string>& domain;
    const char* applyFailure;
  };
  ChallengeSide side(bool proxy);
  ProtectionSpace protectionSpace(bool proxy, const std::string& realm) const;
  void answerChallenge(bool proxy);
  std::optional<HeaderDictionary> findCredentials(bool proxy);
  bool applyCredentials(const HeaderDictionary& credentials, bool proxy);
  bool askDelegateForCredentials(bool proxy);
  void keepCredentials(bool proxy);
  void saveToKeychain(const HeaderDictionary& credentials, bool proxy);
  std::shared_ptr<const Error> applyFailure(const char* text) const;

  // --- proxies (HTTPRequestProxies.cpp) ----------------------------------
  // Chooses the proxy of the attempt for url_ (unless one is set); the
  // failure (code 6) when no proxy information can be had. Called before
  // the attempt takes cancelledLock.
  std::shared_ptr<const Error> chooseProxy();
  // Tells the stream the chosen proxy; nothing can fail here any more.
  std::shared_ptr<const Error> applyProxySettings(HTTPReadStream& stream);
  // The request now goes to url_, redirected from previous.
  void proxyRedirected(const URL& previous);

  // --- state ---------------------------------------------------------------
  std::optional<URL> url_;
  HTTPRequestDelegate* delegate_ = nullptr;
  mutable std::mutex queueMutex_;
  std::weak_ptr<HTTPRequestQueue> queue_;
  std::string requestMethod_;
  std::optional<Bytes> postBody_;
  std::optional<Bytes> compressedPostBody_;
  bool shouldStreamPostDataFromDisk_ = false;
  std::optional<std::string> postBodyFilePath_;
  std::optional<std::string> compressedPostBodyFilePath_;
  bool didCreateTemporaryPostDataFile_ = false;
  std::unique_ptr<FileOutputStream> postBodyWriteStream_;
  std::shared_ptr<InputStream> postBodyReadStream_;
  std::optional<HeaderDictionary> requestHeaders_;
  std::optional<HTTPHeaderFields> responseHeaders_;
  std::vector<HTTPCookie> requestCookies_;
  std::optional<std::vector<HTTPCookie>> responseCookies_;
  bool useCookiePersistance_ = false;
  bool useKeychainPersistance_ = false;
  bool useSessionPersistance_ = false;
  bool allowCompressedResponse_ = false;
  bool shouldCompressRequestBody_ = false;
  std::optional<std::string> downloadDestinationPath_;
  std::optional<std::string> temporaryFileDownloadPath_;
  std::unique_ptr<FileOutputStream> fileDownloadOutputStream_;
  std::atomic<TransferState> state_{TransferState::kIdle};
  std::mutex stateMutex_;
  std::shared_ptr<const Error> error_;
  std::optional<std::string> username_, password_, domain_;
  std::optional<std::string> proxyUsername_, proxyPassword_, proxyDomain_;
  ProgressIndicator* uploadProgressDelegate_ = nullptr;
  ProgressIndicator* downloadProgressDelegate_ = nullptr;
  std::optional<Bytes> rawResponseData_;
  std::optional<HTTPMessage> request_;
  std::shared_ptr<HTTPReadStream> readStream_;
  std::optional<HeaderDictionary> requestCredentials_;
  int authenticationRetryCount_ = 0;
  std::optional<std::string> authenticationRealm_;
  bool needsProxyAuthentication_ = false;
  std::optional<HeaderDictionary> proxyCredentials_;
  std::shared_ptr<HTTPAuthentication> requestAuthentication_, proxyAuthentication_;
  std::optional<std::string> authenticationMethod_, proxyAuthenticationMethod_;
  // Applied to the current attempt, kept once it gets past the challenge.
  std::optional<HeaderDictionary> pendingCredentials_, pendingProxyCredentials_;
  // The URL the request was made for: its own credentials answer only there.
  std::optional<URL> credentialsOrigin_;
  bool cleartextRefused_ = false;
  std::shared_ptr<const Error> keychainError_;
  std::mutex authenticationLockMutex_;
  std::shared_ptr<ConditionLock> authenticationLock_;
  // proxyHost_ and proxyPort_ came from a look-up, not from the caller.
  bool proxyLookedUp_ = false;
  int proxyAuthenticationRetryCount_ = 0;
  std::optional<std::string> proxyAuthenticationRealm_;
  int responseStatusCode_ = 0;
  std::uint64_t contentLength_ = 0;
  std::uint64_t partialDownloadSize_ = 0;
  std::uint64_t postLength_ = 0;
  std::uint64_t totalBytesRead_ = 0;
  std::uint64_t totalBytesSent_ = 0;
  std::uint64_t lastBytesRead_ = 0;
  std::uint64_t lastBytesSent_ = 0;
  std::recursive_mutex cancelledLock_;
  std::optional<Selector> didFinishSelector_;
  std::optional<Selector> didFailSelector_;
  std::optional<Clock::time_point> lastActivityTime_;
  double timeOutSeconds_ = 0;
  bool shouldResetProgressIndicators_ = false;
  std::shared_ptr<HTTPRequest> mainRequest_;
  bool showAccurateProgress_ = false;
  bool updatedProgress_ = false;
  bool haveBuiltPostBody_ = false;
  std::uint64_t uploadBufferSize_ = 0;
  TextEncoding::Value defaultResponseEncoding_ = 0;
  TextEncoding::Value responseEncoding_ = 0;
  bool allowResumeForFileDownloads_ = false;
  std::map<std::string, std::string> userInfo_;
  bool useHTTPVersionOne_ = false;
  bool shouldRedirect_ = false;
  int redirectCount_ = 0;
  bool validatesSecureCertificate_ = false;
  std::optional<std::string> proxyHost_;
  int proxyPort_ = 0;
  std::optional<URL> PACurl_;
  // The request as the transfer log names it (guarded by stateMutex_).
  std::string logName_;

  // Guards the first-failure rule against a cancel from another thread.
  mutable std::mutex failureMutex_;
  // The thread and loop of the running request, so that a cancel from
  // elsewhere only wakes the loop and leaves the tear-down to its thread.
  std::mutex ownerMutex_;
  RunLoop* ownerLoop_ = nullptr;
  std::thread::id ownerThread_;
  // The "Cookie" header this request put into requestHeaders itself.
  bool addedCookieHeader_ = false;
  // A resumed download whose answer is not a partial one starts again.
  bool restartDownload_ = false;

  // The body on disk: the pieces appended, and the whole body as it is sent
  // (the caller's body file first, then the pieces), made by buildPostBody.
  RequestBody postBodyPieces_;
  RequestBody sentBody_;
  // Where the downloaded bytes go while they arrive: the destination itself
  // (through a temporary beside it, or straight into a device or pipe), or
  // a file (the partial file, or the gzip bytes still to decode).
  std::optional<OutputTarget> downloadTarget_;
  std::unique_ptr<AtomicFile> downloadFile_;
  std::optional<std::string> rawDownloadPath_;
  // The partial file as written: a symlink's final target.
  std::optional<std::string> partialFinalPath_;
  // A 416 answer said the partial file is the whole body: its page is not
  // written anywhere and the partial file becomes the destination.
  bool downloadAlreadyComplete_ = false;
  ResponseBodyConsumer responseBodyConsumer_;
  std::shared_ptr<GzipInflater> bodyInflater_;
};

// The stream's client function: forwards to the request passed as info.
void ReadStreamClientCallBack(HTTPReadStream& stream, unsigned event, void* info);

}  // namespace glowsnap
