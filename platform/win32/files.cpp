// Files on Windows (win32/api/file.cpp): the system's own copy and replace.
#include "platform/files.h"

#include "platform/win32/neutral.h"

namespace platform {

namespace {

BOOL Done(DWORD error) {
  if (error == ERROR_SUCCESS) return TRUE;
  SetLastError(error);
  return FALSE;
}

}  // namespace

bool GetFileStatus(const std::string& path, FileStatus& status) {
  win32::FileInfo info;
  const DWORD error = win32::GetFileInfo(path, info);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return false;
  }
  status.size = info.size;
  status.modifiedUs = info.modifiedUs;
  status.isDirectory = info.isDirectory;
  status.isRegular = !info.isDirectory;
  status.readOnly = info.readOnly;
  return true;
}

BOOL CopyFile(const char* src, const char* dst, BOOL failIfExists) {
  if (!src || !dst || !*src || !*dst) return Done(ERROR_INVALID_PARAMETER);
  win32::FileInfo info;
  if (win32::GetFileInfo(src, info) == ERROR_SUCCESS && info.isDirectory) {
    return Done(ERROR_ACCESS_DENIED);
  }
  if (failIfExists) return Done(win32::CopyFileTo(src, dst, true));
  // CopyFile writes in place; a copy beside the target that replaces it leaves the old
  // file whole when the copy fails half-way.
  const std::string temp = std::string(dst) + ".copying";
  DWORD error = win32::CopyFileTo(src, temp, false);
  if (error == ERROR_SUCCESS) error = win32::MoveReplacing(temp, dst);
  if (error != ERROR_SUCCESS) win32::RemoveFile(temp);
  return Done(error);
}

// The ANSI file functions take MAX_PATH (260) characters with the terminator.
std::size_t MaxPathLength() {
  return 259;
}

BOOL DeleteFile(const char* path) {
  if (!path || !*path) return Done(ERROR_INVALID_PARAMETER);
  win32::FileInfo info;
  if (win32::GetFileInfo(path, info) == ERROR_SUCCESS && info.isDirectory) {
    return Done(ERROR_ACCESS_DENIED);
  }
  return Done(win32::RemoveFile(path));
}

BOOL CreateDirectory(const char* path) {
  if (!path || !*path) return Done(ERROR_INVALID_PARAMETER);
  return Done(win32::MakeDirectory(path));
}

// Windows takes both separators, but a path is compared and shown in its own form: '\'.
const char* PathSeparator() {
  return "\\";
}

}  // namespace platform
