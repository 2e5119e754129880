// On Windows the wait for input is a plain blocking read, which a Ctrl-C ends with
// nothing; the caller's interrupt count tells that apart from the end of the input.
#include <io.h>

#include "host/terminal/console_input.h"

namespace velmora {

bool IsTerminal(int fd) {
  return ::_isatty(fd) == 1;
}

InputByte ReadInputByte(int fd, char& c) {
  return ::_read(fd, &c, 1) == 1 ? InputByte::Byte : InputByte::End;
}

}  // namespace velmora
