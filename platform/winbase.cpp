// Last error per thread and the errno -> Windows error number table.
#include "platform/winbase.h"

#include <cerrno>
#include <iterator>

namespace platform {

namespace {
thread_local DWORD tLastError = ERROR_SUCCESS;

// errno, Windows error number a user would see for it.
struct ErrnoRow {
  int err;
  DWORD win;
};
constexpr ErrnoRow kErrnoTable[] = {
    {0, ERROR_SUCCESS},
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENODEV, ERROR_FILE_NOT_FOUND},
    {ENXIO, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},  // too many levels of symbolic links
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EBUSY, ERROR_ACCESS_DENIED},  // a port held by another process reads as "in use"
    {EISDIR, ERROR_ACCESS_DENIED},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {ENOEXEC, ERROR_BAD_FORMAT},
    {EROFS, ERROR_WRITE_PROTECT},
    {EIO, ERROR_GEN_FAILURE},
    {EAGAIN, ERROR_BUSY},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {ENOLCK, ERROR_LOCK_VIOLATION},
    {ENOSYS, ERROR_NOT_SUPPORTED},
    {ENOTSUP, ERROR_NOT_SUPPORTED},
    {ENOTTY, ERROR_NOT_SUPPORTED},
    {EEXIST, ERROR_FILE_EXISTS},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {EPIPE, ERROR_BROKEN_PIPE},
    {ENOSPC, ERROR_DISK_FULL},
#ifdef EDQUOT  // not every C library has it
    {EDQUOT, ERROR_DISK_FULL},
#endif
    {EFBIG, ERROR_DISK_FULL},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {ECANCELED, ERROR_OPERATION_ABORTED},
    {EINTR, ERROR_OPERATION_ABORTED},
    {EFAULT, ERROR_NOACCESS},
    {ETIMEDOUT, ERROR_TIMEOUT},
#ifdef EHOSTDOWN  // not every C library has it
    {EHOSTDOWN, ERROR_DEVICE_NOT_CONNECTED},
#endif
#ifdef ENOMEDIUM  // not every C library has it
    {ENOMEDIUM, ERROR_NOT_READY},
#endif
};
}  // namespace

DWORD GetLastError() {
  return tLastError;
}
void SetLastError(DWORD error) {
  tLastError = error;
}

DWORD ErrorFromErrno(int err) {
  for (const auto& row : kErrnoTable) {
    if (row.err == err) return row.win;
  }
  return ERROR_GEN_FAILURE;
}

}  // namespace platform
