// The catalogue lock: a file lock on a file beside the registry database.
#include "catalogue/catalogue_lock.h"

#include <string>

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
  lock_ = std::make_unique<platform::FileLock>(platform::RegistryPath() + ".catalogue-lock");
  if (!lock_->IsHeld()) {
    lock_.reset();
    return;
  }
  held_ = true;
  gDepth = 1;
}

CCatalogueLock::~CCatalogueLock() {
  if (!held_) return;
  --gDepth;
  lock_.reset();  // the outermost holder lets go of the file lock
}
