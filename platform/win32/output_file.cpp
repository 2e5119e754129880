// Output files on Windows (win32/api/file.cpp): a file is written beside itself and moved
// over the old one; a DOS device name (COM1, LPT1, NUL) is written in place, because there
// is nothing to move over.
#include "platform/output_file.h"

#include "platform/file_io.h"
#include "platform/output_file_backend.h"
#include "platform/win32/neutral.h"

namespace platform {

DWORD WriteReplacing(const std::string& path, const std::string& data) {
  const std::string temp = path + ".writing";
  int fd = -1;
  DWORD error = FileOpen(temp, FileAccess::kWrite, true, fd);
  if (error != ERROR_SUCCESS) return error;
  error = FileTruncate(fd);
  if (error == ERROR_SUCCESS) error = FileWriteAll(fd, data.data(), data.size());
  if (error == ERROR_SUCCESS) error = FileSync(fd);
  const DWORD closed = FileClose(fd);
  if (error == ERROR_SUCCESS) error = closed;
  if (error == ERROR_SUCCESS) error = CheckStillReplaceable(path);
  if (error == ERROR_SUCCESS) error = win32::MoveReplacing(temp, path);
  if (error != ERROR_SUCCESS) win32::RemoveFile(temp);
  return error;
}

DWORD WriteInPlace(const std::string& path, const std::string& data) {
  int fd = -1;
  DWORD error = FileOpen(path, FileAccess::kWrite, false, fd);
  if (error != ERROR_SUCCESS) return error;
  error = FileWriteAll(fd, data.data(), data.size());
  const DWORD closed = FileClose(fd);
  return error != ERROR_SUCCESS ? error : closed;
}

OutputKind KindOfOutput(const std::string& path) {
  win32::FileInfo info;
  const DWORD error = win32::GetFileInfo(path, info);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return OutputKind::kMissing;
  if (error != ERROR_SUCCESS) return OutputKind::kOther;
  if (info.isDevice) return OutputKind::kCharDevice;
  if (info.isDirectory) return OutputKind::kDirectory;
  return OutputKind::kRegular;
}

// Named pipes have their own namespace (\\.\pipe\...), which no output name reaches
// by accident.
bool IsPipeOrSocket(const std::string& path) {
  return false;
}

}  // namespace platform
