// Manual- and auto-reset events with Windows semantics, waited on with a zero or an
// infinite time-out (the only waits the plug-in makes on events).
#pragma once
#include "winbase.h"

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

namespace platform {

// Returns null on failure (last error set).
HANDLE CreateEvent(bool manualReset, bool initialState);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// timeoutMs: 0 tests without waiting; INFINITE waits for the signal; other values wait
// up to that long in real time. An invalid handle gives WAIT_FAILED.
DWORD WaitForSingleObject(HANDLE event, DWORD timeoutMs);
BOOL CloseHandle(HANDLE event);

// RAII owner of an event handle.
class Event {
 public:
  explicit Event(bool manualReset = true, bool initialState = false)
      : handle_(CreateEvent(manualReset, initialState)) {}
  ~Event() {
    if (handle_) CloseHandle(handle_);
  }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  HANDLE get() const { return handle_; }
  void Set() { SetEvent(handle_); }
  void Reset() { ResetEvent(handle_); }
  bool IsSet() const { return WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0; }

 private:
  HANDLE handle_;
};

}  // namespace platform
