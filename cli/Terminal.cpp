#include "cli/Terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace glowsnap::cli {

std::optional<std::string> askPassword(const std::string& prompt) {
  int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  termios saved{};
  bool restore = ::tcgetattr(fd, &saved) == 0;
  if (restore) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  (void)!::write(fd, prompt.data(), prompt.size());
  std::string answer;
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n') answer += c;
  if (restore) ::tcsetattr(fd, TCSAFLUSH, &saved);
  (void)!::write(fd, "\n", 1);
  ::close(fd);
  return answer;
}

}  // namespace glowsnap::cli
