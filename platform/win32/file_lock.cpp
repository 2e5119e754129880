// The lock file on Windows: an exclusive LockFileEx range, waited for.
#include "platform/file_lock.h"

#include <fcntl.h>
#include <io.h>

#include "platform/file_io.h"
#include "platform/win32/neutral.h"

namespace platform {

FileLock::FileLock(const std::string& path) {
  int fd = -1;
  if (FileOpen(path, FileAccess::kReadWrite, true, fd) != ERROR_SUCCESS) return;
  auto file = reinterpret_cast<win32::Handle>(::_get_osfhandle(fd));
  if (win32::LockShareRange(file, true, true) != ERROR_SUCCESS) {
    FileClose(fd);
    return;
  }
  fd_ = fd;
}

FileLock::~FileLock() {
  if (fd_ >= 0) FileClose(fd_);  // closing the handle releases the range
}

}  // namespace platform
