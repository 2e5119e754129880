// Handles and the console's Ctrl-C, on <windows.h>.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <utility>
#include <vector>

#include "platform/win32/neutral.h"

namespace platform::win32 {

namespace {

void (*gOnInterrupt)() = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (gOnInterrupt) gOnInterrupt();
  return TRUE;
}

using ExitCalls = std::vector<std::pair<void (*)(void*), void*>>;

void WINAPI RunExitCalls(void* data) {
  auto* calls = static_cast<ExitCalls*>(data);
  if (!calls) return;
  // One at a time from the back: a cleanup may register another.
  while (!calls->empty()) {
    const auto call = calls->back();
    calls->pop_back();
    call.first(call.second);
  }
  delete calls;
}

DWORD ExitSlot() {
  static const DWORD slot = ::FlsAlloc(RunExitCalls);
  return slot;
}

}  // namespace

void CallAtThreadExit(void (*cleanup)(void*), void* data) {
  auto* calls = static_cast<ExitCalls*>(::FlsGetValue(ExitSlot()));
  if (!calls) {
    calls = new ExitCalls;
    ::FlsSetValue(ExitSlot(), calls);
  }
  calls->emplace_back(cleanup, data);
}

bool IsValid(Handle handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

void Close(Handle handle) {
  if (IsValid(handle)) ::CloseHandle(handle);
}

bool InstallInterruptHandler(void (*onInterrupt)()) {
  gOnInterrupt = onInterrupt;
  return ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

}  // namespace platform::win32
