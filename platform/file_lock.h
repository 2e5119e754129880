// An exclusive lock between processes on a lock file beside the data it guards.
#pragma once
#include <string>

namespace platform {

// Takes the lock at construction, waiting for another holder to let go, and releases it
// at destruction (the system releases it too if the process ends). The file is created
// when missing and never removed: removing it would let two processes lock two different
// files of one name. Where the lock cannot be had (no writable directory, no locks on
// the file system) IsHeld() is false and the caller decides whether to go on.
class FileLock {
 public:
  explicit FileLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool IsHeld() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace platform
