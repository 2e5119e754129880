// Handles and the console's Ctrl-C, on <windows.h>.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/win32/neutral.h"

namespace platform::win32 {

namespace {

void (*gOnInterrupt)() = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (gOnInterrupt) gOnInterrupt();
  return TRUE;
}

}  // namespace

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
