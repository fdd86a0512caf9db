// HTTPReadStream: one HTTP exchange over libcurl, seen as a read stream.
//
// The stream sends a request message (and, for a streamed request, a body
// pulled from an InputStream), and offers the response as it arrives: the
// head (complete or not, status, fields) and the body through a pull-style
// read(). It runs on a RunLoop in a named mode: libcurl's sockets become the
// loop's descriptor sources and libcurl's timer one of its timers, and the
// client callback hears of the events 1 (open completed), 2 (bytes
// available), 8 (error) and 16 (end) only while that loop runs in that mode.
//
// The stream never follows redirects, answers challenges or keeps cookies:
// its client does. The one exception is NTLM, whose messages must share one
// connection: given credentials for it (HTTPMessage::engineAuthentication),
// libcurl runs the handshake within the exchange, and the client sees only
// the final answer. A "Proxy-Authorization" field goes to the proxy alone,
// and a proxy's refusal of a tunnel (CONNECT) is the response the client
// reads. It does not decode content encodings either. Body bytes
// not yet read are held in a bounded buffer; when it is full the transfer is
// paused until the client reads, so memory stays flat however fast the
// peer sends. A body stream that answers InputStream::kWouldBlock pauses
// the upload until a timer resumes it; the body ends only at a read of 0.
//
// A stream belongs to the thread whose loop it is scheduled on; create it,
// use it and close it there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Bytes.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/InputStream.h"

namespace glowsnap {

class HTTPReadStream : public std::enable_shared_from_this<HTTPReadStream> {
 public:
  enum Event : unsigned {
    kOpenCompleted = 1,
    kHasBytesAvailable = 2,
    kErrorOccurred = 8,
    kEndEncountered = 16,
  };
  using ClientCallBack = void (*)(HTTPReadStream& stream, unsigned event, void* info);

  // TLS failures: codes from -9818 to -9800 (see sslErrorCode()).
  static constexpr const char* kOSStatusErrorDomain = "OSStatusErrorDomain";
  // Socket failures with their errno (connection refused, reset).
  static constexpr const char* kPOSIXErrorDomain = "POSIXErrorDomain";
  // Every other failure of the exchange (malformed response, name lookup),
  // with libcurl's code.
  static constexpr const char* kStreamErrorDomain = "HTTPStreamErrorDomain";

  // A stream for a request without body; nothing when the message is not a
  // request or the engine cannot be set up.
  static std::shared_ptr<HTTPReadStream> createForHTTPRequest(const HTTPMessage& request);
  // A stream that sends body as the request body. Its length is the
  // message's "Content-Length" when there is one, else the body's own
  // length, else the body goes chunked.
  static std::shared_ptr<HTTPReadStream> createForStreamedHTTPRequest(
      const HTTPMessage& request, std::shared_ptr<InputStream> body);

  ~HTTPReadStream();
  HTTPReadStream(const HTTPReadStream&) = delete;
  HTTPReadStream& operator=(const HTTPReadStream&) = delete;

  // Both before open().
  void setValidatesCertificateChain(bool validates);
  // An HTTP proxy for the exchange; without one no proxy is used, whatever
  // the environment says (the client looks proxies up itself).
  void setHTTPProxy(const std::string& host, int port);

  // Registers (or, with a null callback, removes) the client. False when the
  // stream is already closed.
  bool setClient(unsigned events, ClientCallBack callback, void* info);
  void scheduleWithRunLoop(RunLoop& loop, const std::string& mode);
  void unscheduleFromRunLoop(RunLoop& loop, const std::string& mode);

  // Starts the exchange; false when it cannot be started (for instance when
  // the body stream cannot be opened).
  bool open();
  // Up to maxLength body bytes: the count, 0 when none are buffered now or
  // the body is over, -1 after an error once the bytes received before it
  // have been read (event 8 follows them).
  std::int64_t read(std::uint8_t* buffer, std::size_t maxLength);
  // Ends the exchange and releases the connection; safe to repeat.
  void close();

  // The response head so far.
  const HTTPMessage& responseHeader() const { return response_; }
  // Body bytes handed to the connection so far.
  std::uint64_t requestBytesWrittenCount() const { return bytesWritten_; }
  // The failure, once event 8 has happened.
  const std::optional<Error>& error() const { return error_; }
  bool isAtEnd() const { return outcome_ == Outcome::kSucceeded && buffered() == 0; }
  // Body bytes received and not read yet: at most kBufferLimit plus one
  // delivery of the engine (kReceiveChunk).
  std::size_t bufferedByteCount() const { return buffered(); }

  // What the client has seen of the stream: made (kCreated), opened and
  // not yet announced (kOpening), announced (kOpen), and finally kAtEnd or
  // kFailed once event 16 or 8 has been raised, or kClosed. The engine's own
  // result (outcome()) is apart from it: the body may be complete in the
  // engine while the client still has buffered bytes to read.
  enum class State { kCreated, kOpening, kOpen, kAtEnd, kFailed, kClosed };
  enum class Outcome { kPending, kSucceeded, kFailed };
  State state() const { return state_; }
  Outcome outcome() const { return outcome_; }
  static const char* stateName(State state);

  // Largest number of unread body bytes held before the transfer pauses.
  static constexpr std::size_t kBufferLimit = 1u << 20;
  static constexpr std::size_t kReceiveChunk = 262144;

 private:
  HTTPReadStream(HTTPMessage request, std::shared_ptr<InputStream> body);

  static std::size_t headerCallback(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t writeCallback(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t readCallback(char* data, std::size_t size, std::size_t count, void* self);
  static int socketCallback(void* easy, int socket, int what, void* self, void* socketData);
  static int timerCallback(void* multi, long timeoutMs, void* self);

  // The one place the state changes; false (and no change) when the
  // change is not one the stream makes (nothing leaves kClosed).
  bool transition(State next);
  bool configure();
  void configureEngineAuthentication();
  // Whether the engine answers this head itself on the same connection.
  bool engineContinues(const HTTPMessage& head) const;
  void watchSocket(int socket, int what);
  // The body cannot be read yet: the upload pauses, and resumes after
  // seconds on the loop.
  void pauseBody(double seconds);
  // Tells libcurl which directions are paused now.
  void applyPause();
  void socketAction(int socket, int eventMask);
  void collectResults();
  void deliverEvents();
  void scheduleDelivery();
  void removeLoopSources();
  std::size_t buffered() const { return buffer_.size() - head_; }
  Error makeError(int curlCode) const;

  HTTPMessage request_;
  std::shared_ptr<InputStream> body_;
  std::optional<std::int64_t> bodyLength_;
  HTTPMessage response_;
  bool validates_ = true;
  std::string proxyHost_;
  int proxyPort_ = 0;

  ClientCallBack client_ = nullptr;
  unsigned clientEvents_ = 0;
  void* clientInfo_ = nullptr;

  RunLoop* loop_ = nullptr;
  std::string mode_;
  std::map<int, RunLoop::Handle> sockets_;
  std::optional<RunLoop::Handle> timer_;

  void* multi_ = nullptr;
  void* easy_ = nullptr;
  void* headerList_ = nullptr;
  void* proxyHeaderList_ = nullptr;
  // An https request through a proxy, while the tunnel is not open.
  bool tunnelling_ = false;
  bool tunnelRefused_ = false;
  char errorBuffer_[256] = {};

  Bytes buffer_;
  std::size_t head_ = 0;
  bool paused_ = false;
  // The upload waits for its body (InputStream::kWouldBlock).
  bool bodyPaused_ = false;
  std::optional<RunLoop::Handle> resumeTimer_;
  std::uint64_t bytesWritten_ = 0;

  State state_ = State::kCreated;
  Outcome outcome_ = Outcome::kPending;
  std::optional<Error> error_;
  // The body stream failed (the error says so rather than naming the engine).
  bool bodyFailed_ = false;
  // One event 2 per read: the next follows only after the client has read.
  bool awaitingRead_ = false;
  // A delivery is queued on the loop, or running (events are not nested).
  bool deliveryPending_ = false;
  bool delivering_ = false;
};

}  // namespace glowsnap
