// Output files on Windows (win32/api/file.cpp): a file is written beside itself and moved
// over the old one; a DOS device name (COM1, LPT1, NUL) is written in place, because there
// is nothing to move over.
#include "platform/file_io.h"
#include "platform/output_file.h"
#include "platform/win32/neutral.h"

namespace platform {

namespace {

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
  // The name may have become something else meanwhile; only a file is replaced.
  if (error == ERROR_SUCCESS) {
    const OutputKind now = KindOfOutput(path);
    if (now != OutputKind::kMissing && now != OutputKind::kRegular) error = kErrorNotAFile;
  }
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

}  // namespace

OutputKind KindOfOutput(const std::string& path) {
  win32::FileInfo info;
  const DWORD error = win32::GetFileInfo(path, info);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return OutputKind::kMissing;
  if (error != ERROR_SUCCESS) return OutputKind::kOther;
  if (info.isDevice) return OutputKind::kCharDevice;
  if (info.isDirectory) return OutputKind::kDirectory;
  return OutputKind::kRegular;
}

const char* OutputKindText(OutputKind kind) {
  switch (kind) {
    case OutputKind::kMissing:
      return "a new file";
    case OutputKind::kRegular:
      return "a file";
    case OutputKind::kCharDevice:
      return "a device";
    case OutputKind::kDirectory:
      return "a directory";
    case OutputKind::kFifo:
      return "a named pipe";
    case OutputKind::kOther:
      return "neither a file nor a device";
  }
  return "?";
}

DWORD WriteOutputFile(const std::string& path, const std::string& data) {
  switch (KindOfOutput(path)) {
    case OutputKind::kMissing:
    case OutputKind::kRegular:
      return WriteReplacing(path, data);
    case OutputKind::kCharDevice:
      return WriteInPlace(path, data);
    default:
      return kErrorNotAFile;
  }
}

// Named pipes have their own namespace (\\.\pipe\...), which no output name reaches
// by accident.
bool IsPipeOrSocket(const std::string& path) {
  return false;
}

}  // namespace platform
