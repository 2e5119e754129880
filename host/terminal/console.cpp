#include "host/terminal/console.h"

#include <cstdlib>
#include <cstring>

#include "host/terminal/console_input.h"
#include "host/terminal/interrupts.h"

namespace velmora {

Console::Console(int inputFd, std::FILE* output)
    : inputFd_(inputFd),
      output_(output),
      inputTerminal_(IsTerminal(inputFd)),
      outputTerminal_(IsTerminal(::fileno(output))) {
  // A terminal that says it understands no control sequences (an editor's shell buffer,
  // a serial console) gets the line overwritten with blanks instead.
  const char* term = std::getenv("TERM");
  dumbTerminal_ = term && std::strcmp(term, "dumb") == 0;
}

void Console::EraseLine() {
  if (dumbTerminal_) {
    std::fputc('\r', output_);
    for (std::size_t i = 0; i < shownWidth_; ++i) std::fputc(' ', output_);
    std::fputc('\r', output_);
  } else {
    std::fputs("\r\033[K", output_);
  }
  shownWidth_ = 0;
}

void Console::EraseTransient() {
  if (!transientShown_) return;
  EraseLine();
  transientShown_ = false;
}

void Console::DrawTransient() {
  if (!outputTerminal_ || transient_.empty()) return;
  EraseLine();
  std::fputs(transient_.c_str(), output_);
  shownWidth_ = transient_.size();
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
    char c = 0;
    const InputByte got = ReadInputByte(inputFd_, c);
    if (got == InputByte::Woken) continue;
    if (got == InputByte::End) {
      // A Ctrl-C may end the read itself (Windows): the count above then says so.
      if (InterruptCount() != interruptsSeen) continue;
      return line.empty() ? Read::End : Read::Line;
    }
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return Read::Line;
    }
    line += c;
  }
}

}  // namespace velmora
