// Files by descriptor on Windows: the descriptor is the C runtime's number for a handle
// opened with CreateFile (win32/api/file.cpp). The share-mode locks are LockFileEx
// ranges past the data, released when the handle closes.
#include "platform/file_io.h"

#include <fcntl.h>
#include <io.h>

#include "platform/win32/neutral.h"

namespace platform {

namespace {

win32::Handle HandleOf(int fd) {
  return reinterpret_cast<win32::Handle>(::_get_osfhandle(fd));
}

}  // namespace

DWORD FileOpen(const std::string& path, FileAccess access, bool create, int& fd, bool createNew) {
  fd = -1;
  win32::Handle file = nullptr;
  const DWORD error = win32::OpenFile(path, access != FileAccess::kWrite,
                                      access != FileAccess::kRead, create, file, createNew);
  if (error != ERROR_SUCCESS) return error;
  const int flags = _O_BINARY | _O_NOINHERIT |
                    (access == FileAccess::kRead    ? _O_RDONLY
                     : access == FileAccess::kWrite ? _O_WRONLY
                                                    : _O_RDWR);
  fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(file), flags);
  if (fd < 0) {
    win32::Close(file);
    return ERROR_TOO_MANY_OPEN_FILES;
  }
  return ERROR_SUCCESS;
}

DWORD FileKindOf(int fd, FileKind& kind) {
  return win32::KindOf(HandleOf(fd), kind.isDirectory, kind.isRegular);
}

DWORD FileTryLock(int fd, FileLockKind kind) {
  const DWORD error = win32::LockShareRange(HandleOf(fd), kind == FileLockKind::kExclusive, false);
  return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ? ERROR_SUCCESS : error;
}

DWORD FileTruncate(int fd) {
  std::uint64_t position = 0;
  DWORD error = win32::Seek(HandleOf(fd), 0, 0, position);
  return error != ERROR_SUCCESS ? error : win32::TruncateHere(HandleOf(fd));
}

DWORD FileReadSome(int fd, void* buffer, std::size_t count, std::size_t& got) {
  std::uint32_t n = 0;
  const std::uint32_t chunk = count > 0x40000000u ? 0x40000000u : static_cast<std::uint32_t>(count);
  const DWORD error = win32::ReadFile(HandleOf(fd), buffer, chunk, n);
  got = n;
  return error;
}

DWORD FileWriteAll(int fd, const void* buffer, std::size_t count) {
  auto bytes = static_cast<const char*>(buffer);
  while (count > 0) {
    const std::uint32_t chunk =
        count > 0x40000000u ? 0x40000000u : static_cast<std::uint32_t>(count);
    std::uint32_t n = 0;
    const DWORD error = win32::WriteFile(HandleOf(fd), bytes, chunk, n);
    if (error != ERROR_SUCCESS) return error;
    if (n == 0) return ERROR_DISK_FULL;
    bytes += n;
    count -= n;
  }
  return ERROR_SUCCESS;
}

DWORD FileSeek(int fd, std::int64_t offset, FileOrigin origin, std::uint64_t& position) {
  const int from = origin == FileOrigin::kBegin ? 0 : origin == FileOrigin::kCurrent ? 1 : 2;
  const DWORD error = win32::Seek(HandleOf(fd), offset, from, position);
  return error == ERROR_INVALID_PARAMETER || error == kErrorNegativeSeek ? kErrorNegativeSeek
                                                                         : error;
}

DWORD FileLength(int fd, std::uint64_t& length) {
  return win32::Length(HandleOf(fd), length);
}

DWORD FileSync(int fd) {
  return win32::Flush(HandleOf(fd));
}

DWORD FileClose(int fd) {
  return ::_close(fd) == 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

DWORD FileRemove(const std::string& path) {
  win32::FileInfo info;
  if (win32::GetFileInfo(path, info) == ERROR_SUCCESS && info.isDirectory)
    return ERROR_ACCESS_DENIED;
  return win32::RemoveFile(path);
}

}  // namespace platform
