// Descriptor I/O with the framework's failure reporting.
#include "framework/fd_io.h"

#include <cstdint>

#include "platform/file_io.h"

namespace afx_detail {

void ThrowOsError(DWORD error, const CString& fileName) {
  const auto osError = static_cast<LONG>(error);
  AfxThrowFileException(CFileException::OsErrorToException(osError), osError, fileName);
}

std::size_t ReadSome(int fd, void* buffer, std::size_t count, const CString& fileName) {
  std::size_t got = 0;
  if (const DWORD error = platform::FileReadSome(fd, buffer, count, got))
    ThrowOsError(error, fileName);
  return got;
}

void WriteAll(int fd, const void* buffer, std::size_t count, const CString& fileName) {
  if (const DWORD error = platform::FileWriteAll(fd, buffer, count)) ThrowOsError(error, fileName);
}

void SeekTo(int fd, ULONGLONG position, const CString& fileName) {
  std::uint64_t at = 0;
  if (position > static_cast<ULONGLONG>(INT64_MAX) ||
      platform::FileSeek(fd, static_cast<std::int64_t>(position), platform::FileOrigin::kBegin,
                         at) != ERROR_SUCCESS) {
    AfxThrowFileException(CFileException::badSeek, kErrorNegativeSeek, fileName);
  }
}

ULONGLONG LengthOf(int fd, const CString& fileName) {
  std::uint64_t length = 0;
  if (const DWORD error = platform::FileLength(fd, length)) ThrowOsError(error, fileName);
  return static_cast<ULONGLONG>(length);
}

}  // namespace afx_detail
