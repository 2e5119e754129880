#include "platform/winbase.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace platform {
namespace {

TEST(LastError, IsKeptPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenByOther = 12345;
  std::thread other([&] {
    seenByOther = GetLastError();
    SetLastError(ERROR_FILE_NOT_FOUND);
  });
  other.join();
  EXPECT_EQ(seenByOther, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(ErrorFromErrno, MapsWhatUsersSee) {
  struct Row {
    int err;
    DWORD expected;
  };
  const Row rows[] = {
      {0, ERROR_SUCCESS},
      {ENOENT, ERROR_FILE_NOT_FOUND},
      {ENODEV, ERROR_FILE_NOT_FOUND},
      {ENXIO, ERROR_FILE_NOT_FOUND},
      {EACCES, ERROR_ACCESS_DENIED},
      {EPERM, ERROR_ACCESS_DENIED},
      {EBUSY, ERROR_ACCESS_DENIED},
      {EEXIST, ERROR_FILE_EXISTS},
      {ENOSPC, ERROR_DISK_FULL},
      {EROFS, ERROR_WRITE_PROTECT},
      {EIO, ERROR_GEN_FAILURE},
      {ENOTDIR, ERROR_PATH_NOT_FOUND},
      {EINVAL, ERROR_INVALID_PARAMETER},
      {EBADF, ERROR_INVALID_HANDLE},
      {ETIMEDOUT, ERROR_TIMEOUT},
      {99999, ERROR_GEN_FAILURE},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ErrorFromErrno(row.err), row.expected) << "errno " << row.err;
  }
}

}  // namespace
}  // namespace platform
