// Inside the platform layer only: the writing half of output files, one backend per
// system (posix/output_file.cpp, win32/output_file.cpp). output_file.cpp decides which
// writer a name gets.
#pragma once
#include <string>

#include "platform/winbase.h"

namespace platform {

// A file, or a name not taken yet: the new content goes beside it and replaces it whole.
DWORD WriteReplacing(const std::string& path, const std::string& data);
// A character device: written in place, since nothing can be moved over it.
DWORD WriteInPlace(const std::string& path, const std::string& data);
// Just before the replacing move: kErrorNotAFile when the name has become something
// other than a file meanwhile.
DWORD CheckStillReplaceable(const std::string& path);

}  // namespace platform
