#include "host/terminal/console.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "host/terminal/interrupts.h"

namespace velmora {

Console::Console(int inputFd, std::FILE* output)
    : inputFd_(inputFd),
      output_(output),
      inputTerminal_(::isatty(inputFd) == 1),
      outputTerminal_(::isatty(::fileno(output)) == 1) {}

void Console::EraseTransient() {
  if (!transientShown_) return;
  std::fputs("\r\033[K", output_);
  transientShown_ = false;
}

void Console::DrawTransient() {
  if (!outputTerminal_ || transient_.empty()) return;
  std::fputs("\r\033[K", output_);
  std::fputs(transient_.c_str(), output_);
  transientShown_ = true;
}

void Console::PrintLine(const std::string& text) {
  std::lock_guard lock(mutex_);
  EraseTransient();
  std::fputs(text.c_str(), output_);
  std::fputc('\n', output_);
  DrawTransient();
  std::fflush(output_);
}

void Console::ShowTransient(const std::string& line) {
  std::lock_guard lock(mutex_);
  transient_ = line;
  DrawTransient();
  std::fflush(output_);
}

bool Console::TryShowTransient(const std::string& line) {
  std::unique_lock lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return false;
  transient_ = line;
  DrawTransient();
  std::fflush(output_);
  return true;
}

void Console::ClearTransient() {
  std::lock_guard lock(mutex_);
  EraseTransient();
  transient_.clear();
  std::fflush(output_);
}

Console::Read Console::ReadLine(const std::string& prompt, std::string& line) {
  return ReadLine(prompt, line, InterruptCount());
}

Console::Read Console::ReadLine(const std::string& prompt, std::string& line, int interruptsSeen) {
  std::lock_guard lock(mutex_);
  EraseTransient();
  std::fputs(prompt.c_str(), output_);
  std::fflush(output_);
  line.clear();
  for (;;) {
    // The count, not the pipe, decides: another reader may have drained the pipe.
    if (InterruptCount() != interruptsSeen) {
      DrainInterruptPipe();
      std::fputc('\n', output_);
      std::fflush(output_);
      return Read::Interrupted;
    }
    pollfd fds[2] = {{inputFd_, POLLIN, 0}, {InterruptWakeFd(), POLLIN, 0}};
    const nfds_t count = fds[1].fd >= 0 ? 2 : 1;
    if (::poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      return Read::End;
    }
    // The handler counts before it writes, so once drained the count tells all.
    if (count == 2 && (fds[1].revents & POLLIN)) {
      DrainInterruptPipe();
      continue;
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char c = 0;
      const ssize_t n = ::read(inputFd_, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return line.empty() ? Read::End : Read::Line;
      if (c == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return Read::Line;
      }
      line += c;
    }
  }
}

}  // namespace velmora
