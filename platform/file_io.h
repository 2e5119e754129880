// Files by descriptor for the framework's file classes: open, read, write, seek, sync,
// close and remove, with the system's interruptions retried and every failure given as a
// Windows error number (0 on success). Share modes are the caller's business; this
// offers the shared and exclusive locks it builds them from.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/winbase.h"

namespace platform {

// The error of a seek before the start of a file.
constexpr DWORD kErrorNegativeSeek = 131;

enum class FileAccess { kRead, kWrite, kReadWrite };
enum class FileLockKind { kShared, kExclusive };
enum class FileOrigin { kBegin, kCurrent, kEnd };

struct FileKind {
  bool isDirectory = false;
  bool isRegular = false;
};

// Opens (and with `create` makes) a file; never empties it (FileTruncate does, once the
// caller knows it may). The descriptor is not handed to child processes. A name in a
// directory that does not exist is ERROR_PATH_NOT_FOUND, a missing file in an existing
// directory ERROR_FILE_NOT_FOUND.
// A FIFO or a socket is ERROR_ACCESS_DENIED at once: the open never waits for the
// other end.
// With `createNew` the file is made here or not at all: a name that exists (a link
// included) is ERROR_FILE_EXISTS, so a file that appeared since somebody looked is never
// taken for the new one.
DWORD FileOpen(const std::string& path, FileAccess access, bool create, int& fd,
               bool createNew = false);
DWORD FileKindOf(int fd, FileKind& kind);
// Takes the lock without waiting: ERROR_SHARING_VIOLATION when another opener holds a
// lock that excludes it. A file system without locks counts as success (sharing cannot
// be enforced there, which is better than refusing every file).
DWORD FileTryLock(int fd, FileLockKind kind);
DWORD FileTruncate(int fd);
// One read; `got` is 0 at the end of the file.
DWORD FileReadSome(int fd, void* buffer, std::size_t count, std::size_t& got);
// Writes everything; a device that takes no more is a full disk.
DWORD FileWriteAll(int fd, const void* buffer, std::size_t count);
// kErrorNegativeSeek for a position before the start or beyond what a file can hold.
DWORD FileSeek(int fd, std::int64_t offset, FileOrigin origin, std::uint64_t& position);
DWORD FileLength(int fd, std::uint64_t& length);
// Devices and pipes cannot be synchronised; that is not a failure of the data.
DWORD FileSync(int fd);
// Closes the descriptor, which is gone afterwards whatever the result.
DWORD FileClose(int fd);
// Removes a file: ERROR_ACCESS_DENIED for a directory, ERROR_SHARING_VIOLATION while an
// opener holds it (as Windows refuses to delete an open file); not-found errors as for
// FileOpen.
DWORD FileRemove(const std::string& path);

}  // namespace platform
