// File status, copying with replace and deletion on POSIX; the separator is '/'.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

namespace platform {

std::size_t MaxPathLength() {
  return PATH_MAX - 1;
}

namespace {

BOOL Fail(int err) {
  SetLastError(ErrorFromErrno(err));
  return FALSE;
}

// An open descriptor, closed on every way out.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Close() {
    int result = 0;
    if (fd_ >= 0) result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

// The temporary copy beside the destination; removed unless the copy was completed.
class TempFile {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {}
  ~TempFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool GetFileStatus(const std::string& path, FileStatus& status) {
  struct stat st {};
  if (::stat(ToNativePath(path).c_str(), &st) != 0) {
    Fail(errno);
    return false;
  }
  status.size = static_cast<std::uint64_t>(st.st_size);
  status.modifiedUs =
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000 + st.st_mtim.tv_nsec / 1000;
  status.isDirectory = S_ISDIR(st.st_mode);
  status.isRegular = S_ISREG(st.st_mode);
  status.readOnly = ::access(ToNativePath(path).c_str(), W_OK) != 0;
  return true;
}

BOOL CopyFile(const char* src, const char* dst, BOOL failIfExists) {
  if (!src || !dst || !*src || !*dst) return Fail(EINVAL);
  const std::string from = ToNativePath(src);
  const std::string to = ToNativePath(dst);

  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return Fail(errno);
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) return Fail(errno);
  if (S_ISDIR(st.st_mode)) return Fail(EACCES);

  struct stat dstStat {};
  if (::stat(to.c_str(), &dstStat) == 0) {
    if (failIfExists) return Fail(EEXIST);
    if (S_ISDIR(dstStat.st_mode)) return Fail(EACCES);
    // Copying a file onto itself would end in an empty file on some paths; refuse it.
    if (dstStat.st_dev == st.st_dev && dstStat.st_ino == st.st_ino) return Fail(EACCES);
  }

  std::string dir, name, ext;
  SplitPath(to, &dir, &name, &ext);
  std::string pattern = dir + "." + name + ext + ".copyXXXXXX";
  std::vector<char> temp(pattern.begin(), pattern.end());
  temp.push_back('\0');
  Fd out(::mkstemp(temp.data()));
  if (out.get() < 0) {
    if (errno != ENOENT) return Fail(errno);
    SetLastError(ERROR_PATH_NOT_FOUND);  // the destination's directory is missing
    return FALSE;
  }
  TempFile guard(temp.data());

  std::vector<char> buffer(1 << 16);
  for (;;) {
    ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (n == 0) break;
    if (!WriteAll(out.get(), buffer.data(), static_cast<std::size_t>(n))) return Fail(errno);
  }
  ::fchmod(out.get(), st.st_mode & 07777);
  if (::fsync(out.get()) != 0) return Fail(errno);
  if (out.Close() != 0) return Fail(errno);

  if (failIfExists) {
    // link() refuses an existing name, so a destination created meanwhile is not lost.
    if (::link(guard.path().c_str(), to.c_str()) != 0) {
      int err = errno;
      // File systems without hard links: check and rename, which leaves only a narrow race.
      if (err == EEXIST || (err != EPERM && err != ENOTSUP && err != EXDEV)) return Fail(err);
      if (::stat(to.c_str(), &dstStat) == 0) return Fail(EEXIST);
      if (::rename(guard.path().c_str(), to.c_str()) != 0) return Fail(errno);
      guard.Keep();
    }
  } else if (::rename(guard.path().c_str(), to.c_str()) != 0) {
    return Fail(errno);
  } else {
    guard.Keep();
  }
  return TRUE;
}

BOOL DeleteFile(const char* path) {
  if (!path || !*path) return Fail(EINVAL);
  std::string native = ToNativePath(path);
  struct stat st {};
  if (::lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Fail(EACCES);
  if (::unlink(native.c_str()) != 0) return Fail(errno);
  return TRUE;
}

BOOL CreateDirectory(const char* path) {
  if (!path || !*path) return Fail(EINVAL);
  std::string native = ToNativePath(path);
  if (::mkdir(native.c_str(), 0777) == 0) return TRUE;
  int err = errno;
  struct stat st {};
  if (err == EEXIST && ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return TRUE;
  if (err == EEXIST) return Fail(EEXIST);
  if (err == ENOENT) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  return Fail(err);
}

const char* PathSeparator() {
  return "/";
}

}  // namespace platform
