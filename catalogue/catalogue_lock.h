// Keeps the plug-in's catalogue writers and cleaners in separate processes apart.
//
// Every registry call is its own transaction, so an entry is written in five steps, and
// an enumeration in another process that meets it half written would delete it as
// invalid. Both take this lock: an addition is then whole before an enumeration looks at
// it. It is held only for the length of one addition or one enumeration. Where the lock
// cannot be had (no writable directory beside the store) the work goes on without it.
#pragma once
#include <memory>

#include "platform/file_lock.h"

class CCatalogueLock {
 public:
  CCatalogueLock();   // waits for the lock
  ~CCatalogueLock();  // releases it
  CCatalogueLock(const CCatalogueLock&) = delete;
  CCatalogueLock& operator=(const CCatalogueLock&) = delete;

  bool IsHeld() const { return m_held; }

 private:
  std::unique_ptr<platform::FileLock> m_lock;  // held by the outermost holder only
  bool m_held = false;
};
