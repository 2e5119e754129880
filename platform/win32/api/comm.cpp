// Serial ports on the Windows serial API, with overlapped transfers.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/win32/neutral.h"

namespace platform::win32 {

namespace {

std::uint32_t Result(BOOL ok) {
  return ok ? 0 : ::GetLastError();
}

// One overlapped transfer, waited for to its end (the port's time-outs bound it).
template <typename Start>
std::uint32_t Transfer(Handle port, std::uint32_t& done, Start start) {
  done = 0;
  OVERLAPPED overlapped{};
  overlapped.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!overlapped.hEvent) return ::GetLastError();
  DWORD count = 0;
  std::uint32_t error = 0;
  if (!start(&overlapped, &count)) {
    error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
      error = ::GetOverlappedResult(port, &overlapped, &count, TRUE) ? 0 : ::GetLastError();
    }
  }
  ::CloseHandle(overlapped.hEvent);
  done = count;
  return error;
}

}  // namespace

std::uint32_t CommOpen(const std::string& name, Handle& port) {
  port = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    port = nullptr;
    return ::GetLastError();
  }
  return 0;
}

std::uint32_t CommGetState(Handle port, CommSettings& settings) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(port, &dcb)) return ::GetLastError();
  settings.baudRate = dcb.BaudRate;
  settings.byteSize = dcb.ByteSize;
  settings.parity = dcb.Parity;
  settings.stopBits = dcb.StopBits;
  settings.parityCheck = dcb.fParity;
  settings.outxCtsFlow = dcb.fOutxCtsFlow;
  settings.outxDsrFlow = dcb.fOutxDsrFlow;
  settings.dtrControl = static_cast<std::uint8_t>(dcb.fDtrControl);
  settings.rtsControl = static_cast<std::uint8_t>(dcb.fRtsControl);
  settings.outX = dcb.fOutX;
  settings.inX = dcb.fInX;
  settings.xonChar = dcb.XonChar;
  settings.xoffChar = dcb.XoffChar;
  settings.xonLim = dcb.XonLim;
  settings.xoffLim = dcb.XoffLim;
  return 0;
}

std::uint32_t CommSetState(Handle port, const CommSettings& settings) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(port, &dcb)) return ::GetLastError();
  dcb.BaudRate = settings.baudRate;
  dcb.ByteSize = settings.byteSize;
  dcb.Parity = settings.parity;
  dcb.StopBits = settings.stopBits;
  dcb.fBinary = TRUE;
  dcb.fParity = settings.parityCheck;
  dcb.fOutxCtsFlow = settings.outxCtsFlow;
  dcb.fOutxDsrFlow = settings.outxDsrFlow;
  dcb.fDtrControl = settings.dtrControl;
  dcb.fRtsControl = settings.rtsControl;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = settings.outX;
  dcb.fInX = settings.inX;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.XonChar = settings.xonChar;
  dcb.XoffChar = settings.xoffChar;
  dcb.XonLim = settings.xonLim;
  dcb.XoffLim = settings.xoffLim;
  return Result(::SetCommState(port, &dcb));
}

std::uint32_t CommSetTimeouts(Handle port, const CommTimeouts& timeouts) {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = timeouts.readInterval;
  t.ReadTotalTimeoutMultiplier = timeouts.readMultiplier;
  t.ReadTotalTimeoutConstant = timeouts.readConstant;
  t.WriteTotalTimeoutMultiplier = timeouts.writeMultiplier;
  t.WriteTotalTimeoutConstant = timeouts.writeConstant;
  return Result(::SetCommTimeouts(port, &t));
}

std::uint32_t CommRead(Handle port, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& got) {
  return Transfer(port, got, [&](OVERLAPPED* overlapped, DWORD* n) {
    return ::ReadFile(port, buffer, count, n, overlapped);
  });
}

std::uint32_t CommWrite(Handle port, const std::uint8_t* buffer, std::uint32_t count,
                        std::uint32_t& written) {
  return Transfer(port, written, [&](OVERLAPPED* overlapped, DWORD* n) {
    return ::WriteFile(port, buffer, count, n, overlapped);
  });
}

std::uint32_t CommPurge(Handle port, std::uint32_t flags) {
  return Result(::PurgeComm(port, flags));
}

std::uint32_t CommBreak(Handle port, bool on) {
  return Result(on ? ::SetCommBreak(port) : ::ClearCommBreak(port));
}

std::uint32_t CommClearError(Handle port, std::uint32_t& errors) {
  DWORD flags = 0;
  COMSTAT status{};
  if (!::ClearCommError(port, &flags, &status)) return ::GetLastError();
  errors = flags;
  return 0;
}

std::uint32_t CommSetDtr(Handle port, bool on) {
  return Result(::EscapeCommFunction(port, on ? SETDTR : CLRDTR));
}

}  // namespace platform::win32
