// The catalogue lock on POSIX: flock on a file beside the registry database.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "catalogue/catalogue_lock.h"
#include "platform/registry.h"

namespace {

// A thread that already holds the lock takes it again without waiting for itself.
thread_local int gDepth = 0;

}  // namespace

CCatalogueLock::CCatalogueLock() {
  if (gDepth > 0) {
    ++gDepth;
    held_ = true;
    return;
  }
  const std::string path = platform::RegistryPath() + ".catalogue-lock";
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) return;
  int result;
  do {
    result = ::flock(fd_, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  held_ = true;
  outermost_ = true;
  gDepth = 1;
}

CCatalogueLock::~CCatalogueLock() {
  if (!held_) return;
  --gDepth;
  if (outermost_ && fd_ >= 0) ::close(fd_);  // closing releases the lock
}
