#include "host/terminal/console_input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "host/terminal/interrupts.h"

namespace velmora {

bool IsTerminal(int fd) {
  return ::isatty(fd) == 1;
}

InputByte ReadInputByte(int fd, char& c) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {InterruptWakeFd(), POLLIN, 0}};
  const nfds_t count = fds[1].fd >= 0 ? 2 : 1;
  if (::poll(fds, count, -1) < 0) return errno == EINTR ? InputByte::Woken : InputByte::End;
  // The handler counts before it writes, so once drained the count tells all.
  if (count == 2 && (fds[1].revents & POLLIN)) {
    DrainInterruptPipe();
    return InputByte::Woken;
  }
  if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) return InputByte::Woken;
  const ssize_t n = ::read(fd, &c, 1);
  if (n < 0 && errno == EINTR) return InputByte::Woken;
  return n == 1 ? InputByte::Byte : InputByte::End;
}

}  // namespace velmora
