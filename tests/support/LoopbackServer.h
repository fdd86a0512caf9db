// LoopbackServer: a scripted HTTP/1.1 server on 127.0.0.1 for the HTTP
// clients' tests. It runs on its own thread, reads each request whole (head and
// body), records it, and lets the test's handler answer with exact bytes,
// stay silent, or break the connection.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace glowsnap::test {

struct RawRequest {
  std::string method;
  std::string target;
  std::string version;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // The first field of that name (any case), or "" when there is none.
  std::string header(const std::string& name) const;
  bool hasHeader(const std::string& name) const;
};

class ServerConnection {
 public:
  explicit ServerConnection(int fd) : fd_(fd) {}
  // Writes bytes as they are.
  bool send(const std::string& bytes);
  // A whole response with "Content-Length" added.
  void respond(int status, const std::string& body,
               const std::vector<std::pair<std::string, std::string>>& headers = {});
  // Closes after the handler returns.
  void close() { closeAfter_ = true; }
  // Sends a TCP reset instead of a normal close.
  void reset() { reset_ = true; }
  // Keeps the connection open, unanswered, until the server stops.
  void hold() { hold_ = true; }
  int fd() const { return fd_; }

 private:
  friend class LoopbackServer;
  int fd_;
  bool closeAfter_ = false;
  bool reset_ = false;
  bool hold_ = false;
};

class LoopbackServer {
 public:
  using Handler = std::function<void(const RawRequest&, ServerConnection&)>;

  explicit LoopbackServer(Handler handler);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path = "/") const;
  std::vector<RawRequest> requests() const;
  std::size_t requestCount() const;
  // Blocks until at least n requests have arrived.
  void waitForRequests(std::size_t n) const;

 private:
  void run();
  void serve(int fd);
  bool readRequest(int fd, RawRequest& request, std::string& pending);

  Handler handler_;
  int listenFd_ = -1;
  int wakeFd_ = -1;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<RawRequest> requests_;
  std::vector<int> held_;
};

// "Reason" text for a few status codes.
std::string reasonPhrase(int status);

}  // namespace glowsnap::test
