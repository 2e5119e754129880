// CFile over a POSIX descriptor. Share modes are emulated with flock(2): every opener
// takes a lock that other openers' share modes would refuse, without waiting, so a
// refused open reports a sharing violation at once.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "framework/fd_io.h"
#include "platform/files.h"

IMPLEMENT_DYNAMIC(CFile, CObject)

namespace {

constexpr UINT kAccessMask = 0x0003;
constexpr UINT kShareMask = 0x0070;

std::string NativePath(const char* fileName) {
  std::string path(fileName);
  return path.find('\\') == std::string::npos ? path : platform::ToNativePath(path);
}

// The directory part of a path ("." for a bare name).
std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string(".");
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Windows error number for a failed open or removal: a name in a directory that does
// not exist is a bad path, a missing file in an existing directory is "not found".
DWORD ErrorForPath(int err, const std::string& path) {
  if (err == ENOENT) {
    return IsDirectory(ParentOf(path)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  }
  return platform::ErrorFromErrno(err);
}

// The flock lock that stands for the share mode. Windows refuses a second opener when
// either side's share mode denies the other's access; one advisory lock per opener gets
// the cases that matter: exclusive openers (and writers that deny writing) exclude
// everybody, deny-write readers and deny-none openers share with each other.
// shareCompat is exclusive, as the framework treats it; deny-read alone cannot be
// expressed with flock and is exclusive too.
int LockFor(UINT flags) {
  const bool writes = (flags & kAccessMask) != CFile::modeRead;
  switch (flags & kShareMask) {
    case CFile::shareDenyNone:
      return LOCK_SH;
    case CFile::shareDenyWrite:
      return writes ? LOCK_EX : LOCK_SH;
    default:
      return LOCK_EX;
  }
}

// 0 when the lock was taken or the file system offers no locks (then sharing cannot be
// enforced, which is better than refusing every file); else the Windows error.
DWORD TakeLock(int fd, int lock) {
  for (;;) {
    if (::flock(fd, lock | LOCK_NB) == 0) return 0;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return ERROR_SHARING_VIOLATION;
    if (errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS) return 0;
    return platform::ErrorFromErrno(errno);
  }
}

void Fill(CFileException* error, DWORD osError, LPCTSTR fileName) {
  if (!error) return;
  error->m_lOsError = static_cast<LONG>(osError);
  error->m_cause = CFileException::OsErrorToException(error->m_lOsError);
  error->m_strFileName = fileName;
}

void CheckOpen(const CFile& file) {
  if (!file.IsOpen()) {
    AfxThrowFileException(CFileException::invalidFile, static_cast<LONG>(ERROR_INVALID_HANDLE),
                          file.GetFilePath());
  }
}

}  // namespace

CFile::CFile() : m_hFile(-1) {}

CFile::CFile(LPCTSTR fileName, UINT openFlags) : m_hFile(-1) {
  CFileException error;
  if (!Open(fileName, openFlags, &error)) {
    AfxThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
  }
}

CFile::~CFile() {
  if (IsOpen()) CFile::Abort();
}

BOOL CFile::Open(LPCTSTR fileName, UINT openFlags, CFileException* error) {
  // Reopening closes the previous file first rather than leaking its descriptor.
  if (IsOpen()) Abort();
  if (!fileName || !*fileName) {
    Fill(error, ERROR_INVALID_NAME, fileName);
    return FALSE;
  }
  const std::string path = NativePath(fileName);
  const bool create = (openFlags & modeCreate) != 0;
  const bool truncate = create && (openFlags & modeNoTruncate) == 0;

  int access;
  switch (openFlags & kAccessMask) {
    case modeWrite: access = O_WRONLY; break;
    case modeReadWrite: access = O_RDWR; break;
    default: access = O_RDONLY; break;
  }
  // Creating a file afresh empties it, which needs write access even for a reader.
  if (truncate && access == O_RDONLY) access = O_RDWR;

  // Never O_TRUNC here: the file is emptied only once the lock shows that nobody else
  // holds it, so a refused open leaves another opener's file intact. Descriptors are
  // not handed to child processes.
  const int fd = ::open(path.c_str(), access | (create ? O_CREAT : 0) | O_CLOEXEC, 0666);
  if (fd < 0) {
    Fill(error, ErrorForPath(errno, path), fileName);
    return FALSE;
  }
  auto fail = [&](DWORD osError) {
    ::close(fd);
    Fill(error, osError, fileName);
    return FALSE;
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(platform::ErrorFromErrno(errno));
  if (S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
  if (const DWORD lockError = TakeLock(fd, LockFor(openFlags))) return fail(lockError);
  if (truncate && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
    return fail(platform::ErrorFromErrno(errno));
  }
  m_hFile = fd;
  m_strFileName = fileName;
  return TRUE;
}

UINT CFile::Read(void* buffer, UINT count) {
  CheckOpen(*this);
  auto p = static_cast<char*>(buffer);
  UINT done = 0;
  while (done < count) {
    const size_t n = afx_detail::ReadSome(m_hFile, p + done, count - done, m_strFileName);
    if (n == 0) break;
    done += static_cast<UINT>(n);
  }
  return done;
}

void CFile::Write(const void* buffer, UINT count) {
  CheckOpen(*this);
  afx_detail::WriteAll(m_hFile, buffer, count, m_strFileName);
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from) {
  CheckOpen(*this);
  int whence;
  switch (from) {
    case begin: whence = SEEK_SET; break;
    case current: whence = SEEK_CUR; break;
    case end: whence = SEEK_END; break;
    default:
      AfxThrowFileException(CFileException::badSeek, afx_detail::kErrorNegativeSeek, m_strFileName);
  }
  const off_t position = ::lseek(m_hFile, static_cast<off_t>(offset), whence);
  if (position < 0) {
    if (errno == EINVAL) {
      AfxThrowFileException(CFileException::badSeek, afx_detail::kErrorNegativeSeek, m_strFileName);
    }
    afx_detail::ThrowErrno(errno, m_strFileName);
  }
  return static_cast<ULONGLONG>(position);
}

ULONGLONG CFile::GetPosition() const {
  CheckOpen(*this);
  const off_t position = ::lseek(m_hFile, 0, SEEK_CUR);
  if (position < 0) afx_detail::ThrowErrno(errno, m_strFileName);
  return static_cast<ULONGLONG>(position);
}

ULONGLONG CFile::GetLength() const {
  CheckOpen(*this);
  return afx_detail::LengthOf(m_hFile, m_strFileName);
}

void CFile::Flush() {
  if (!IsOpen()) return;
  // Devices and pipes cannot be synchronised; that is not a failure of the data.
  if (::fsync(m_hFile) != 0 && errno != EINVAL && errno != EROFS) {
    afx_detail::ThrowErrno(errno, m_strFileName);
  }
}

void CFile::Close() {
  if (!IsOpen()) return;
  const int fd = m_hFile;
  m_hFile = -1;
  // After EINTR the descriptor is gone on Linux; retrying could close someone else's.
  if (::close(fd) != 0 && errno != EINTR) afx_detail::ThrowErrno(errno, m_strFileName);
}

void CFile::Abort() {
  if (!IsOpen()) return;
  ::close(m_hFile);
  m_hFile = -1;
}

void CFile::Remove(LPCTSTR fileName) {
  if (!fileName || !*fileName) {
    AfxThrowFileException(CFileException::badPath, static_cast<LONG>(ERROR_INVALID_NAME), fileName);
  }
  const std::string path = NativePath(fileName);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    const auto osError = static_cast<LONG>(ErrorForPath(errno, path));
    AfxThrowFileException(CFileException::OsErrorToException(osError), osError, fileName);
  }
  if (S_ISDIR(st.st_mode)) {
    AfxThrowFileException(CFileException::accessDenied, static_cast<LONG>(ERROR_ACCESS_DENIED), fileName);
  }
  // A file that somebody holds open cannot be deleted on Windows; an opener's lock
  // shows it here.
  if (S_ISREG(st.st_mode)) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
      const bool inUse = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
      ::close(fd);
      if (inUse) {
        AfxThrowFileException(CFileException::sharingViolation,
                              static_cast<LONG>(ERROR_SHARING_VIOLATION), fileName);
      }
    }
  }
  if (::unlink(path.c_str()) != 0) {
    const auto osError = static_cast<LONG>(ErrorForPath(errno, path));
    AfxThrowFileException(CFileException::OsErrorToException(osError), osError, fileName);
  }
}
