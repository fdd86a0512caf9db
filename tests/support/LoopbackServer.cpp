#include "support/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace glowsnap::test {

std::string RawRequest::header(const std::string& name) const {
  for (const auto& [n, v] : headers)
    if (::strcasecmp(n.c_str(), name.c_str()) == 0) return v;
  return {};
}

bool RawRequest::hasHeader(const std::string& name) const {
  for (const auto& [n, v] : headers)
    if (::strcasecmp(n.c_str(), name.c_str()) == 0) return true;
  return false;
}

std::string reasonPhrase(int status) {
  static const std::map<int, std::string> reasons = {{200, "OK"},
                                                     {206, "Partial Content"},
                                                     {300, "Multiple Choices"},
                                                     {301, "Moved Permanently"},
                                                     {302, "Found"},
                                                     {303, "See Other"},
                                                     {304, "Not Modified"},
                                                     {307, "Temporary Redirect"},
                                                     {308, "Permanent Redirect"},
                                                     {401, "Unauthorized"},
                                                     {404, "Not Found"},
                                                     {500, "Internal Server Error"}};
  auto it = reasons.find(status);
  return it == reasons.end() ? "Status" : it->second;
}

bool ServerConnection::send(const std::string& bytes) {
  std::size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<std::size_t>(n);
  }
  return true;
}

void ServerConnection::respond(int status, const std::string& body,
                               const std::vector<std::pair<std::string, std::string>>& headers) {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
  bool hasLength = false;
  for (const auto& [n, v] : headers) {
    out += n + ": " + v + "\r\n";
    if (::strcasecmp(n.c_str(), "Content-Length") == 0) hasLength = true;
  }
  if (!hasLength) out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  out += "\r\n" + body;
  send(out);
}

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 16) != 0)
    throw std::runtime_error("cannot listen on loopback");
  socklen_t len = sizeof addr;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { run(); });
}

LoopbackServer::~LoopbackServer() {
  std::uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
  thread_.join();
  for (int fd : held_) ::close(fd);
  ::close(listenFd_);
  ::close(wakeFd_);
}

std::string LoopbackServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<RawRequest> LoopbackServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t LoopbackServer::requestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

void LoopbackServer::waitForRequests(std::size_t n) const {
  std::unique_lock lock(mutex_);
  arrived_.wait(lock, [&] { return requests_.size() >= n; });
}

void LoopbackServer::run() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents) return;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    serve(fd);
  }
}

void LoopbackServer::serve(int fd) {
  std::string pending;
  for (;;) {
    RawRequest request;
    if (!readRequest(fd, request, pending)) break;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    arrived_.notify_all();
    ServerConnection connection(fd);
    handler_(request, connection);
    if (connection.hold_) {
      held_.push_back(fd);
      return;
    }
    if (connection.reset_) {
      linger l{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      break;
    }
    if (connection.closeAfter_) break;
  }
  ::close(fd);
}

bool LoopbackServer::readRequest(int fd, RawRequest& request, std::string& pending) {
  auto fill = [&]() -> bool {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 || fds[1].revents) return false;
    char buf[65536];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    pending.append(buf, static_cast<std::size_t>(n));
    return true;
  };
  std::size_t end;
  while ((end = pending.find("\r\n\r\n")) == std::string::npos)
    if (!fill()) return false;
  std::string head = pending.substr(0, end);
  pending.erase(0, end + 4);
  std::size_t lineEnd = head.find("\r\n");
  std::string start = head.substr(0, lineEnd);
  auto s1 = start.find(' ');
  auto s2 = start.rfind(' ');
  request.method = start.substr(0, s1);
  request.target = start.substr(s1 + 1, s2 - s1 - 1);
  request.version = start.substr(s2 + 1);
  std::size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
  while (pos < head.size()) {
    std::size_t e = head.find("\r\n", pos);
    if (e == std::string::npos) e = head.size();
    std::string line = head.substr(pos, e - pos);
    auto colon = line.find(':');
    if (colon != std::string::npos) {
      std::string value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.erase(0, 1);
      request.headers.emplace_back(line.substr(0, colon), value);
    }
    pos = e + 2;
  }
  if (::strcasecmp(request.header("Transfer-Encoding").c_str(), "chunked") == 0) {
    for (;;) {
      std::size_t le;
      while ((le = pending.find("\r\n")) == std::string::npos)
        if (!fill()) return false;
      std::size_t size = std::strtoul(pending.substr(0, le).c_str(), nullptr, 16);
      pending.erase(0, le + 2);
      while (pending.size() < size + 2)
        if (!fill()) return false;
      request.body += pending.substr(0, size);
      pending.erase(0, size + 2);
      if (size == 0) break;
    }
  } else if (request.hasHeader("Content-Length")) {
    std::size_t length = std::strtoull(request.header("Content-Length").c_str(), nullptr, 10);
    while (pending.size() < length)
      if (!fill()) return false;
    request.body = pending.substr(0, length);
    pending.erase(0, length);
  }
  return true;
}

}  // namespace glowsnap::test
