// Files on <windows.h>: share modes, byte-range locks, copy and replace.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/win32/neutral.h"

namespace platform::win32 {

namespace {

// The share-mode lock sits at the top of the 64-bit range, where no file's data is.
constexpr DWORD kLockOffsetHigh = 0xFFFFFFFEu;
constexpr DWORD kLockLength = 1;

std::uint32_t Result(BOOL ok) {
  return ok ? 0 : ::GetLastError();
}

std::int64_t UnixMicroseconds(const FILETIME& time) {
  ULARGE_INTEGER ticks;
  ticks.LowPart = time.dwLowDateTime;
  ticks.HighPart = time.dwHighDateTime;
  // 100 ns ticks since 1601 to microseconds since 1970.
  return static_cast<std::int64_t>(ticks.QuadPart / 10) - 11644473600000000LL;
}

}  // namespace

std::uint32_t OpenFile(const std::string& path, bool read, bool write, bool create, Handle& file,
                       bool createNew) {
  DWORD access = (read ? GENERIC_READ : 0) | (write ? GENERIC_WRITE : 0);
  file = ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       createNew ? CREATE_NEW
                       : create  ? OPEN_ALWAYS
                                 : OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    file = nullptr;
    return ::GetLastError();
  }
  return 0;
}

std::uint32_t ReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t& got) {
  DWORD n = 0;
  const BOOL ok = ::ReadFile(file, buffer, count, &n, nullptr);
  got = n;
  if (!ok && ::GetLastError() == ERROR_BROKEN_PIPE) return 0;  // a pipe's end is its end
  return Result(ok);
}

std::uint32_t WriteFile(Handle file, const void* buffer, std::uint32_t count,
                        std::uint32_t& written) {
  DWORD n = 0;
  const BOOL ok = ::WriteFile(file, buffer, count, &n, nullptr);
  written = n;
  return Result(ok);
}

std::uint32_t Seek(Handle file, std::int64_t offset, int origin, std::uint64_t& position) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER now;
  const DWORD method = origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT : FILE_END;
  if (!::SetFilePointerEx(file, distance, &now, method)) return ::GetLastError();
  position = static_cast<std::uint64_t>(now.QuadPart);
  return 0;
}

std::uint32_t Length(Handle file, std::uint64_t& length) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file, &size)) return ::GetLastError();
  length = static_cast<std::uint64_t>(size.QuadPart);
  return 0;
}

std::uint32_t TruncateHere(Handle file) {
  return Result(::SetEndOfFile(file));
}

std::uint32_t Flush(Handle file) {
  if (::FlushFileBuffers(file)) return 0;
  const DWORD error = ::GetLastError();
  // Consoles and pipes cannot be flushed; that is not a failure of the data.
  return error == ERROR_INVALID_HANDLE || error == ERROR_INVALID_FUNCTION ? 0 : error;
}

std::uint32_t LockShareRange(Handle file, bool exclusive, bool wait) {
  OVERLAPPED at{};
  at.Offset = 0;
  at.OffsetHigh = kLockOffsetHigh;
  DWORD flags = (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  if (::LockFileEx(file, flags, 0, kLockLength, 0, &at)) return 0;
  const DWORD error = ::GetLastError();
  return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? ERROR_SHARING_VIOLATION
                                                                    : error;
}

std::uint32_t UnlockShareRange(Handle file) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  return Result(::UnlockFileEx(file, 0, kLockLength, 0, &at));
}

std::uint32_t KindOf(Handle file, bool& isDirectory, bool& isRegular) {
  isDirectory = isRegular = false;
  if (::GetFileType(file) != FILE_TYPE_DISK) return 0;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file, &info)) return ::GetLastError();
  isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  isRegular = !isDirectory;
  return 0;
}

std::uint32_t GetFileInfo(const std::string& path, FileInfo& info) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    info.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.modifiedUs = UnixMicroseconds(data.ftLastWriteTime);
    info.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    info.isDevice = false;
    return 0;
  }
  const DWORD error = ::GetLastError();
  // A DOS device (COM5, or \\.\COM5) has no attributes; asking for no access opens it
  // without claiming it.
  const bool bare = path.find_first_of("\\/:.") == std::string::npos;
  if (bare || path.rfind("\\\\.\\", 0) == 0) {
    HANDLE device =
        ::CreateFileA((bare ? "\\\\.\\" + path : path).c_str(), 0,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device != INVALID_HANDLE_VALUE) {
      ::CloseHandle(device);
      info = FileInfo{};
      info.isDevice = true;
      return 0;
    }
  }
  return error;
}

std::uint32_t CopyFileTo(const std::string& src, const std::string& dst, bool failIfExists) {
  return Result(::CopyFileA(src.c_str(), dst.c_str(), failIfExists ? TRUE : FALSE));
}

std::uint32_t MoveReplacing(const std::string& src, const std::string& dst) {
  return Result(
      ::MoveFileExA(src.c_str(), dst.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

std::uint32_t RemoveFile(const std::string& path) {
  return Result(::DeleteFileA(path.c_str()));
}

std::uint32_t MakeDirectory(const std::string& path) {
  if (::CreateDirectoryA(path.c_str(), nullptr)) return 0;
  const DWORD error = ::GetLastError();
  if (error == ERROR_ALREADY_EXISTS) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  }
  return error;
}

}  // namespace platform::win32
