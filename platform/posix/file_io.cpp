// Files by descriptor on POSIX. The share-mode locks are flock(2) locks: advisory, one
// per open file description, released when the descriptor closes.
#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform {

namespace {

// The directory part of a path ("." for a bare name).
std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string(".");
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD ErrorForPath(int err, const std::string& path) {
  if (err == ENOENT) {
    return IsDirectory(ParentOf(path)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  }
  return ErrorFromErrno(err);
}

}  // namespace

DWORD FileOpen(const std::string& path, FileAccess access, bool create, int& fd, bool createNew) {
  int flags = O_RDONLY;
  if (access == FileAccess::kWrite) flags = O_WRONLY;
  if (access == FileAccess::kReadWrite) flags = O_RDWR;
  // A FIFO or socket is no file: opening one would wait for the other end (for ever, in
  // an unattended run). The open does not wait either, so a FIFO that appears between
  // the look and the open is refused as well.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) &&
      !S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode)) {
    fd = -1;
    return ERROR_ACCESS_DENIED;
  }
  if (createNew) flags |= O_CREAT | O_EXCL;
  fd = ::open(path.c_str(), flags | (create ? O_CREAT : 0) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY,
              0666);
  if (fd < 0) return errno == ENXIO ? ERROR_ACCESS_DENIED : ErrorForPath(errno, path);
  if (::fstat(fd, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
    ::close(fd);
    fd = -1;
    return ERROR_ACCESS_DENIED;
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  return ERROR_SUCCESS;
}

DWORD FileKindOf(int fd, FileKind& kind) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return ErrorFromErrno(errno);
  kind.isDirectory = S_ISDIR(st.st_mode);
  kind.isRegular = S_ISREG(st.st_mode);
  return ERROR_SUCCESS;
}

DWORD FileTryLock(int fd, FileLockKind kind) {
  const int lock = kind == FileLockKind::kShared ? LOCK_SH : LOCK_EX;
  for (;;) {
    if (::flock(fd, lock | LOCK_NB) == 0) return ERROR_SUCCESS;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return ERROR_SHARING_VIOLATION;
    if (errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS) return ERROR_SUCCESS;
    return ErrorFromErrno(errno);
  }
}

DWORD FileTruncate(int fd) {
  return ::ftruncate(fd, 0) == 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
}

DWORD FileReadSome(int fd, void* buffer, std::size_t count, std::size_t& got) {
  got = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, count);
    if (n >= 0) {
      got = static_cast<std::size_t>(n);
      return ERROR_SUCCESS;
    }
    if (errno != EINTR) return ErrorFromErrno(errno);
  }
}

DWORD FileWriteAll(int fd, const void* buffer, std::size_t count) {
  auto p = static_cast<const char*>(buffer);
  while (count > 0) {
    const ssize_t n = ::write(fd, p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    if (n == 0) return ErrorFromErrno(ENOSPC);
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return ERROR_SUCCESS;
}

DWORD FileSeek(int fd, std::int64_t offset, FileOrigin origin, std::uint64_t& position) {
  int whence = SEEK_SET;
  if (origin == FileOrigin::kCurrent) whence = SEEK_CUR;
  if (origin == FileOrigin::kEnd) whence = SEEK_END;
  const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence);
  if (at < 0) return errno == EINVAL ? kErrorNegativeSeek : ErrorFromErrno(errno);
  position = static_cast<std::uint64_t>(at);
  return ERROR_SUCCESS;
}

DWORD FileLength(int fd, std::uint64_t& length) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return ErrorFromErrno(errno);
  length = static_cast<std::uint64_t>(st.st_size);
  return ERROR_SUCCESS;
}

DWORD FileSync(int fd) {
  if (::fsync(fd) == 0 || errno == EINVAL || errno == EROFS) return ERROR_SUCCESS;
  return ErrorFromErrno(errno);
}

DWORD FileClose(int fd) {
  // After EINTR the descriptor is gone on Linux; retrying could close someone else's.
  if (::close(fd) == 0 || errno == EINTR) return ERROR_SUCCESS;
  return ErrorFromErrno(errno);
}

DWORD FileRemove(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return ErrorForPath(errno, path);
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  // An opener's lock shows that somebody holds the file open.
  if (S_ISREG(st.st_mode)) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
      const bool inUse = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
      ::close(fd);
      if (inUse) return ERROR_SHARING_VIOLATION;
    }
  }
  if (::unlink(path.c_str()) != 0) return ErrorForPath(errno, path);
  return ERROR_SUCCESS;
}

}  // namespace platform
