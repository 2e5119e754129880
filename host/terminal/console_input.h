// What the console needs from the system: whether a descriptor is a terminal, and one
// byte of input at a time, woken by a Ctrl-C. One file per system.
#pragma once

namespace velmora {

bool IsTerminal(int fd);

enum class InputByte { Byte, Woken, End };

// Waits for one byte of `fd`. Woken: the wait ended without a byte (a Ctrl-C or a
// signal), and the caller looks at the interrupt count. End: the input is over.
InputByte ReadInputByte(int fd, char& c);

}  // namespace velmora
