// CFile over a platform file descriptor. Share modes are emulated with the platform's
// file locks: every opener takes a lock that other openers' share modes would refuse,
// without waiting, so a refused open reports a sharing violation at once.
#include <cstdint>
#include <string>

#include "framework/fd_io.h"
#include "platform/file_io.h"
#include "platform/files.h"

IMPLEMENT_DYNAMIC(CFile, CObject)

namespace {

constexpr UINT kAccessMask = 0x0003;
constexpr UINT kShareMask = 0x0070;

std::string NativePath(const char* fileName) {
  std::string path(fileName);
  return path.find('\\') == std::string::npos ? path : platform::ToNativePath(path);
}

// The lock that stands for the share mode. Windows refuses a second opener when either
// side's share mode denies the other's access; one advisory lock per opener gets the
// cases that matter: exclusive openers (and writers that deny writing) exclude
// everybody, deny-write readers and deny-none openers share with each other.
// shareCompat is exclusive, as the framework treats it; deny-read alone cannot be
// expressed with a shared-or-exclusive lock and is exclusive too.
platform::FileLockKind LockFor(UINT flags) {
  const bool writes = (flags & kAccessMask) != CFile::modeRead;
  switch (flags & kShareMask) {
    case CFile::shareDenyNone:
      return platform::FileLockKind::kShared;
    case CFile::shareDenyWrite:
      return writes ? platform::FileLockKind::kExclusive : platform::FileLockKind::kShared;
    default:
      return platform::FileLockKind::kExclusive;
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
  const bool createNew = (openFlags & modeCreateNew) != 0;
  const bool create = (openFlags & modeCreate) != 0 || createNew;
  const bool truncate = create && !createNew && (openFlags & modeNoTruncate) == 0;

  platform::FileAccess access;
  switch (openFlags & kAccessMask) {
    case modeWrite:
      access = platform::FileAccess::kWrite;
      break;
    case modeReadWrite:
      access = platform::FileAccess::kReadWrite;
      break;
    default:
      access = platform::FileAccess::kRead;
      break;
  }
  // Creating a file afresh empties it, which needs write access even for a reader.
  if (truncate && access == platform::FileAccess::kRead) access = platform::FileAccess::kReadWrite;

  // The open never empties the file: it is emptied only once the lock shows that nobody
  // else holds it, so a refused open leaves another opener's file intact.
  int fd = -1;
  if (const DWORD openError = platform::FileOpen(path, access, create, fd, createNew)) {
    Fill(error, openError, fileName);
    return FALSE;
  }
  auto fail = [&](DWORD osError) {
    platform::FileClose(fd);
    Fill(error, osError, fileName);
    return FALSE;
  };
  platform::FileKind kind;
  if (const DWORD kindError = platform::FileKindOf(fd, kind)) return fail(kindError);
  if (kind.isDirectory) return fail(ERROR_ACCESS_DENIED);
  if (const DWORD lockError = platform::FileTryLock(fd, LockFor(openFlags))) return fail(lockError);
  if (truncate && kind.isRegular) {
    if (const DWORD truncateError = platform::FileTruncate(fd)) return fail(truncateError);
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
  platform::FileOrigin origin;
  switch (from) {
    case begin:
      origin = platform::FileOrigin::kBegin;
      break;
    case current:
      origin = platform::FileOrigin::kCurrent;
      break;
    case end:
      origin = platform::FileOrigin::kEnd;
      break;
    default:
      AfxThrowFileException(CFileException::badSeek, afx_detail::kErrorNegativeSeek, m_strFileName);
  }
  std::uint64_t position = 0;
  if (const DWORD error = platform::FileSeek(m_hFile, offset, origin, position)) {
    if (error == platform::kErrorNegativeSeek) {
      AfxThrowFileException(CFileException::badSeek, afx_detail::kErrorNegativeSeek, m_strFileName);
    }
    afx_detail::ThrowOsError(error, m_strFileName);
  }
  return static_cast<ULONGLONG>(position);
}

ULONGLONG CFile::GetPosition() const {
  CheckOpen(*this);
  std::uint64_t position = 0;
  if (const DWORD error =
          platform::FileSeek(m_hFile, 0, platform::FileOrigin::kCurrent, position)) {
    afx_detail::ThrowOsError(error, m_strFileName);
  }
  return static_cast<ULONGLONG>(position);
}

ULONGLONG CFile::GetLength() const {
  CheckOpen(*this);
  return afx_detail::LengthOf(m_hFile, m_strFileName);
}

void CFile::Flush() {
  if (!IsOpen()) return;
  if (const DWORD error = platform::FileSync(m_hFile))
    afx_detail::ThrowOsError(error, m_strFileName);
}

void CFile::Close() {
  if (!IsOpen()) return;
  const int fd = m_hFile;
  m_hFile = -1;
  if (const DWORD error = platform::FileClose(fd)) afx_detail::ThrowOsError(error, m_strFileName);
}

void CFile::Abort() {
  if (!IsOpen()) return;
  platform::FileClose(m_hFile);
  m_hFile = -1;
}

void CFile::Remove(LPCTSTR fileName) {
  if (!fileName || !*fileName) {
    AfxThrowFileException(CFileException::badPath, static_cast<LONG>(ERROR_INVALID_NAME), fileName);
  }
  // A file that somebody holds open cannot be deleted on Windows; the platform sees it
  // by the opener's lock.
  if (const DWORD error = platform::FileRemove(NativePath(fileName))) {
    CFileException::ThrowOsError(static_cast<LONG>(error), fileName);
  }
}
