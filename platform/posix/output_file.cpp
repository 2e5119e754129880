// Output files on POSIX: what a name is, and the two ways of writing one.
#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/file_io.h"
#include "platform/output_file_backend.h"

namespace platform {

namespace {

// The temporary file beside the destination; removed unless it was renamed over it.
class TempBeside {
 public:
  explicit TempBeside(const std::string& path) : name_(path + ".XXXXXX") {
    fd_ = ::mkostemp(name_.data(), O_CLOEXEC);
    if (fd_ < 0) name_.clear();
  }
  ~TempBeside() {
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty()) ::unlink(name_.c_str());
  }
  TempBeside(const TempBeside&) = delete;
  TempBeside& operator=(const TempBeside&) = delete;
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }
  // Hands the descriptor to the caller's close, whose result counts.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Keep() { name_.clear(); }

 private:
  std::string name_;
  int fd_ = -1;
};

}  // namespace

DWORD WriteReplacing(const std::string& path, const std::string& data) {
  TempBeside temp(path);
  if (temp.fd() < 0) {
    const int err = errno;
    return err == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(err);
  }
  if (const DWORD error = FileWriteAll(temp.fd(), data.data(), data.size())) return error;
  if (::fchmod(temp.fd(), 0644) != 0) return ErrorFromErrno(errno);
  if (::fsync(temp.fd()) != 0) return ErrorFromErrno(errno);
  if (::close(temp.Release()) != 0) return ErrorFromErrno(errno);
  if (const DWORD error = CheckStillReplaceable(path)) return error;
  if (::rename(temp.name().c_str(), path.c_str()) != 0) return ErrorFromErrno(errno);
  temp.Keep();
  return ERROR_SUCCESS;
}

DWORD WriteInPlace(const std::string& path, const std::string& data) {
  // O_NONBLOCK so that the open itself cannot wait; the writes then wait as they should.
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return ErrorFromErrno(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
    ::close(fd);
    return kErrorNotAFile;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  DWORD error = FileWriteAll(fd, data.data(), data.size());
  if (::close(fd) != 0 && error == ERROR_SUCCESS && errno != EINTR) error = ErrorFromErrno(errno);
  return error;
}

OutputKind KindOfOutput(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return errno == ENOENT ? OutputKind::kMissing : OutputKind::kOther;
  if (S_ISREG(st.st_mode)) return OutputKind::kRegular;
  if (S_ISCHR(st.st_mode)) return OutputKind::kCharDevice;
  if (S_ISDIR(st.st_mode)) return OutputKind::kDirectory;
  if (S_ISFIFO(st.st_mode)) return OutputKind::kFifo;
  return OutputKind::kOther;
}

bool IsPipeOrSocket(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

}  // namespace platform
