// Events: a mutex and a condition variable each, reached through a handle table so that
// a stale or forged handle is refused instead of dereferenced.
#include "platform/sync.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform {

namespace {

struct EventObject {
  explicit EventObject(bool manual, bool initial) : manualReset(manual), signalled(initial) {}
  std::mutex mutex;
  std::condition_variable cv;
  const bool manualReset;
  bool signalled;
};

// Handles are numbers that are never reused, so that a handle closed and then used
// again fails instead of reaching a newer event that happens to share an address.
class EventTable {
 public:
  HANDLE Add(std::shared_ptr<EventObject> event) {
    std::lock_guard lock(mutex_);
    next_ += 4;
    auto handle = reinterpret_cast<HANDLE>(next_);
    events_.emplace(handle, std::move(event));
    return handle;
  }
  std::shared_ptr<EventObject> Find(HANDLE handle) {
    std::lock_guard lock(mutex_);
    auto it = events_.find(handle);
    return it == events_.end() ? nullptr : it->second;
  }
  bool Remove(HANDLE handle) {
    std::lock_guard lock(mutex_);
    return events_.erase(handle) != 0;
  }

 private:
  std::mutex mutex_;
  std::uintptr_t next_ = 0x10000;
  std::unordered_map<HANDLE, std::shared_ptr<EventObject>> events_;
};

EventTable& Table() {
  static EventTable table;
  return table;
}

std::shared_ptr<EventObject> Lookup(HANDLE handle) {
  auto event = handle ? Table().Find(handle) : nullptr;
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
  {
    std::lock_guard lock(event->mutex);
    event->signalled = true;
  }
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
  if (timeoutMs == INFINITE) {
    event->cv.wait(lock, isSignalled);
  } else if (!event->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSignalled)) {
    return WAIT_TIMEOUT;
  }
  if (!event->manualReset) event->signalled = false;
  return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE handle) {
  // A thread still waiting keeps the object alive through its own reference.
  if (!handle || !Table().Remove(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // namespace platform
