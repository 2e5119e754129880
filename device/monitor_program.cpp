#include "device/monitor_program.h"

#include "platform/environment.h"
#include "platform/file_io.h"
#include "platform/files.h"
#include "reporting/failures.h"
#include "resources/monitor_image.h"

namespace {

[[noreturn]] void Refuse(CMonitorProgramException::Problem problem, const std::string& path,
                         unsigned long long detail = 0) {
  throw new CMonitorProgramException(problem, CString(path.c_str()), detail);
}

// Closes the descriptor on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { platform::FileClose(fd_); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

CMonitorProgram::CMonitorProgram()
    : m_embedded(kFlashMonitorImage), m_origin(kFlashMonitorImageOrigin) {}

CMonitorProgram CMonitorProgram::ForRun() {
  if (const auto path = platform::GetEnvironmentValue(kMonitorProgramVariable)) {
    return FromFile(*path);
  }
  return CMonitorProgram();
}

CMonitorProgram CMonitorProgram::FromFile(const std::string& path) {
  using Problem = CMonitorProgramException::Problem;
  // The size is judged before the file is opened, so that a FIFO or a device named by
  // mistake (which report no size) is refused without blocking on it.
  platform::FileStatus status;
  if (!platform::GetFileStatus(path, status)) {
    const DWORD error = platform::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      Refuse(Problem::kMissing, path);
    if (error == ERROR_CANT_RESOLVE_FILENAME) Refuse(Problem::kLinkLoop, path);
    Refuse(Problem::kUnreadable, path, error);
  }
  if (status.isDirectory) Refuse(Problem::kDirectory, path);
  if (!status.isRegular) Refuse(Problem::kNotRegular, path);
  if (status.size != kFlashMonitorImageSize) Refuse(Problem::kWrongSize, path, status.size);

  int fd = -1;
  if (const DWORD error = platform::FileOpen(platform::ToNativePath(path),
                                             platform::FileAccess::kRead, false, fd)) {
    Refuse(Problem::kUnreadable, path, error);
  }
  Descriptor file(fd);
  // One byte more than the image, so that a file that grew since it was looked at is
  // still refused for its size.
  std::vector<BYTE> bytes(kFlashMonitorImageSize + 1);
  std::size_t total = 0;
  while (total < bytes.size()) {
    std::size_t got = 0;
    if (const DWORD error =
            platform::FileReadSome(file.Get(), bytes.data() + total, bytes.size() - total, got)) {
      Refuse(Problem::kUnreadable, path, error);
    }
    if (got == 0) break;
    total += got;
  }
  if (total != kFlashMonitorImageSize) Refuse(Problem::kWrongSize, path, total);
  bytes.resize(total);

  CMonitorProgram program;
  program.m_file = std::move(bytes);
  program.m_origin = "file " + path;
  return program;
}
