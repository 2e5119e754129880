// Writing a whole output file (an export, a copy of text) without harming what the name
// already stands for. A regular file, or a name that does not exist yet, is written
// beside itself and renamed over, so a failed write leaves the earlier file whole. A
// character device (a terminal, /dev/null, a printer port) is written in place: renaming
// over it would replace the device node with a plain file. Anything else (a directory,
// a FIFO, a socket) is refused, so nobody waits forever for a reader that never comes.
#pragma once
#include <string>

#include "platform/winbase.h"

namespace platform {

enum class OutputKind { kMissing, kRegular, kCharDevice, kDirectory, kFifo, kOther };

// What the name stands for now (symbolic links followed).
OutputKind KindOfOutput(const std::string& path);
// "a directory", "a FIFO (named pipe)", ...; for messages.
const char* OutputKindText(OutputKind kind);

// Refusals of WriteOutputFile for names that are neither files nor character devices.
constexpr DWORD kErrorNotAFile = ERROR_ACCESS_DENIED;

// Writes `data` as the whole content of `path`, the way its kind allows (above). Every
// write, the flush to the disk and the close are checked; a Windows error number, 0 on
// success.
DWORD WriteOutputFile(const std::string& path, const std::string& data);

// Opening a name for writing must never wait: true when the name is a FIFO or a socket,
// which an output must not be.
bool IsPipeOrSocket(const std::string& path);

}  // namespace platform
