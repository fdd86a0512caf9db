#include "support/ClosedPort.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace glowsnap::test {

int closedLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("no loopback port could be had");
  }
  ::close(fd);
  return ntohs(addr.sin_port);
}

std::string closedLoopbackURL() {
  return "http://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/";
}

}  // namespace glowsnap::test
