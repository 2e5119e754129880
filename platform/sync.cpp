// Events: a mutex and a condition variable each, reached through a handle table so that
// a stale or forged handle is refused instead of dereferenced.
#include "platform/sync.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
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

// Handles closed so far: a lookup a thread kept holds while this is unchanged (handles
// are never reused).
std::atomic<std::uint64_t> gClosed{0};

// The serial class resets and sets its transfer event around every byte it reads: the
// last event a thread looked up is kept, with a reference of its own that keeps it alive,
// instead of the table's lock and search each time.
EventObject* LookupKept(HANDLE handle) {
  struct Kept {
    HANDLE handle = nullptr;
    std::shared_ptr<EventObject> event;
    std::uint64_t closed = 0;
  };
  // One thread-local object: each costs a call to find it, in a shared library.
  thread_local Kept kept;
  Kept& mine = kept;
  const std::uint64_t closed = gClosed.load(std::memory_order_acquire);
  if (handle != nullptr && handle == mine.handle && closed == mine.closed) return mine.event.get();
  auto event = Lookup(handle);
  if (!event) return nullptr;
  mine.handle = handle;
  mine.event = std::move(event);
  mine.closed = closed;
  return mine.event.get();
}

}  // namespace

HANDLE CreateEvent(bool manualReset, bool initialState) {
  return Table().Add(std::make_shared<EventObject>(manualReset, initialState));
}

BOOL SetEvent(HANDLE handle) {
  EventObject* event = LookupKept(handle);
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
  EventObject* event = LookupKept(handle);
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
  gClosed.fetch_add(1, std::memory_order_acq_rel);
  return TRUE;
}

}  // namespace platform
