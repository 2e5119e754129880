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
    m_held = true;
    return;
  }
  m_lock = std::make_unique<platform::FileLock>(platform::RegistryPath() + ".catalogue-lock");
  if (!m_lock->IsHeld()) {
    m_lock.reset();
    return;
  }
  m_held = true;
  gDepth = 1;
}

CCatalogueLock::~CCatalogueLock() {
  if (!m_held) return;
  --gDepth;
  m_lock.reset();  // the outermost holder lets go of the file lock
}
