// Files beyond what the framework's file classes do: copying with replace, file status,
// deletion, and path pieces. Errors are Windows error numbers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "winbase.h"

namespace platform {

struct FileStatus {
  std::uint64_t size = 0;
  std::int64_t modifiedUs = 0;  // last modification, microseconds since the epoch
  bool isDirectory = false;
  bool isRegular = true;  // false for a directory, FIFO, device or socket
  bool readOnly = false;
};

// False when the path does not exist or cannot be examined (last error set).
bool GetFileStatus(const std::string& path, FileStatus& status);
// Copies src to dst; with failIfExists false an existing dst is replaced. The copy goes
// to a temporary file beside dst that is renamed over it, so a failed copy never leaves
// a half-written dst. Returns FALSE with the last error set.
BOOL CopyFile(const char* src, const char* dst, BOOL failIfExists);
BOOL DeleteFile(const char* path);
BOOL CreateDirectory(const char* path);  // one level; existing counts as success
// The longest path, in bytes, that the file functions take (without the terminator).
std::size_t MaxPathLength();

// Paths as the plug-in sees them: '\' and '/' both separate. ToNativePath turns '\'
// into '/' so that "C:"-free Windows-style paths built by the plug-in work here.
std::string ToNativePath(const std::string& path);
// The separator a path made here takes, so that what the user is shown has one kind:
// "/" on Linux, "\\" on Windows. Stored paths with either still work (ToNativePath).
const char* PathSeparator();
// Splits like _splitpath: directory (with trailing separator), file name, extension
// (with its dot).
void SplitPath(const std::string& path, std::string* dir, std::string* fname, std::string* ext);

}  // namespace platform
