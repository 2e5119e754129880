// Descriptor I/O with the framework's failure reporting.
#include "framework/fd_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace afx_detail {

void ThrowErrno(int err, const CString& fileName) {
  const auto osError = static_cast<LONG>(platform::ErrorFromErrno(err));
  AfxThrowFileException(CFileException::OsErrorToException(osError), osError, fileName);
}

std::size_t ReadSome(int fd, void* buffer, std::size_t count, const CString& fileName) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, count);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) ThrowErrno(errno, fileName);
  }
}

void WriteAll(int fd, const void* buffer, std::size_t count, const CString& fileName) {
  auto p = static_cast<const char*>(buffer);
  while (count > 0) {
    const ssize_t n = ::write(fd, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno, fileName);
    }
    if (n == 0) ThrowErrno(ENOSPC, fileName);
    p += n;
    count -= static_cast<std::size_t>(n);
  }
}

void SeekTo(int fd, ULONGLONG position, const CString& fileName) {
  if (position > static_cast<ULONGLONG>(INT64_MAX) ||
      ::lseek(fd, static_cast<off_t>(position), SEEK_SET) < 0) {
    AfxThrowFileException(CFileException::badSeek, kErrorNegativeSeek, fileName);
  }
}

ULONGLONG LengthOf(int fd, const CString& fileName) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) ThrowErrno(errno, fileName);
  return static_cast<ULONGLONG>(st.st_size);
}

}  // namespace afx_detail
