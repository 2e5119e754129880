// Events: a mutex and a condition variable each, reached through a handle table so that
// a stale or forged handle is refused instead of dereferenced.
#include "platform/sync.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/handle_table.h"

namespace platform {

namespace {

struct EventObject {
  explicit EventObject(bool manual, bool initial) : manualReset(manual), signalled(initial) {}
  std::mutex mutex;
  std::condition_variable cv;
  const bool manualReset;
  bool signalled;
  int waiters = 0;  // threads in WaitForSingleObject
};

// Events take handles from 0x10004 on, four apart.
HandleTable<HANDLE, std::shared_ptr<EventObject>>& Table() {
  static HandleTable<HANDLE, std::shared_ptr<EventObject>> table(0x10000, 4);
  return table;
}

std::shared_ptr<EventObject> Lookup(HANDLE handle) {
  auto event = Table().Find(handle).value_or(nullptr);
  if (!event) SetLastError(ERROR_INVALID_HANDLE);
  return event;
}

}  // namespace

HANDLE CreateEvent(bool manualReset, bool initialState) {
  return Table().Add(std::make_shared<EventObject>(manualReset, initialState));
}

BOOL SetEvent(HANDLE handle) {
  auto event = Lookup(handle);
  if (!event) return FALSE;
  bool waited = false;
  {
    std::lock_guard lock(event->mutex);
    event->signalled = true;
    waited = event->waiters > 0;
  }
  // The serial class sets its transfer event after every byte it reads, which nobody
  // waits for: no wake-up to send then.
  if (!waited) return TRUE;
  // An auto-reset event releases one waiter; a manual-reset one releases them all.
  if (event->manualReset) {
    event->cv.notify_all();
  } else {
    event->cv.notify_one();
  }
  return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
  auto event = Lookup(handle);
  if (!event) return FALSE;
  std::lock_guard lock(event->mutex);
  event->signalled = false;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs) {
  auto event = Lookup(handle);
  if (!event) return WAIT_FAILED;
  std::unique_lock lock(event->mutex);
  auto isSignalled = [&] { return event->signalled; };
  ++event->waiters;
  bool signalled = true;
  if (timeoutMs == INFINITE) {
    event->cv.wait(lock, isSignalled);
  } else {
    signalled = event->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSignalled);
  }
  --event->waiters;
  if (!signalled) return WAIT_TIMEOUT;
  if (!event->manualReset) event->signalled = false;
  return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE handle) {
  // A thread still waiting keeps the object alive through its own reference.
  if (!Table().Remove(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // namespace platform
