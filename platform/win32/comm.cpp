// Comm ports on the Windows serial API (win32/api/comm.cpp): names such as "\\.\COM5"
// or "COM5" go to the system unchanged; the driver keeps the time-outs, so the read
// rule of comm_port.h is the system's own.
#include <memory>
#include <string>

#include "platform/comm_port.h"
#include "platform/win32/neutral.h"

namespace platform {

namespace {

class Win32Port : public CommPort {
 public:
  explicit Win32Port(win32::Handle handle) : handle_(handle) {}
  ~Win32Port() override { win32::Close(handle_); }

  DWORD GetState(DCB& dcb) override {
    win32::CommSettings s;
    const DWORD error = win32::CommGetState(handle_, s);
    if (error != ERROR_SUCCESS) return error;
    dcb.BaudRate = s.baudRate;
    dcb.ByteSize = s.byteSize;
    dcb.Parity = s.parity;
    dcb.StopBits = s.stopBits;
    dcb.fParity = s.parityCheck;
    dcb.fOutxCtsFlow = s.outxCtsFlow;
    dcb.fOutxDsrFlow = s.outxDsrFlow;
    dcb.fDtrControl = s.dtrControl;
    dcb.fRtsControl = s.rtsControl;
    dcb.fOutX = s.outX;
    dcb.fInX = s.inX;
    dcb.XonChar = s.xonChar;
    dcb.XoffChar = s.xoffChar;
    dcb.XonLim = s.xonLim;
    dcb.XoffLim = s.xoffLim;
    return ERROR_SUCCESS;
  }

  DWORD SetState(const DCB& dcb) override {
    win32::CommSettings s;
    s.baudRate = dcb.BaudRate;
    s.byteSize = dcb.ByteSize;
    s.parity = dcb.Parity;
    s.stopBits = dcb.StopBits;
    s.parityCheck = dcb.fParity;
    s.outxCtsFlow = dcb.fOutxCtsFlow;
    s.outxDsrFlow = dcb.fOutxDsrFlow;
    s.dtrControl = dcb.fDtrControl;
    s.rtsControl = dcb.fRtsControl;
    s.outX = dcb.fOutX;
    s.inX = dcb.fInX;
    s.xonChar = dcb.XonChar;
    s.xoffChar = dcb.XoffChar;
    s.xonLim = dcb.XonLim;
    s.xoffLim = dcb.XoffLim;
    return win32::CommSetState(handle_, s);
  }

  DWORD SetTimeouts(const COMMTIMEOUTS& t) override {
    return win32::CommSetTimeouts(
        handle_, {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                  t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant});
  }

  DWORD Read(BYTE* buffer, DWORD count, DWORD& read) override {
    std::uint32_t got = 0;
    const DWORD error = win32::CommRead(handle_, buffer, count, got);
    read = got;
    return error;
  }

  DWORD Write(const BYTE* buffer, DWORD count, DWORD& written) override {
    std::uint32_t done = 0;
    const DWORD error = win32::CommWrite(handle_, buffer, count, done);
    written = done;
    return error;
  }

  DWORD Purge(DWORD flags) override { return win32::CommPurge(handle_, flags); }
  DWORD SetBreak() override { return win32::CommBreak(handle_, true); }
  DWORD ClearBreak() override { return win32::CommBreak(handle_, false); }

  DWORD ClearError(DWORD& errors) override {
    std::uint32_t flags = 0;
    const DWORD error = win32::CommClearError(handle_, flags);
    errors = flags;
    return error;
  }

 private:
  win32::Handle handle_;
};

DWORD OpenWin32Port(const std::string& name, std::unique_ptr<CommPort>& port) {
  // "COM12" and above open only through the device namespace; a short name gains it.
  const bool bare = name.find('\\') == std::string::npos && name.find('/') == std::string::npos;
  win32::Handle handle = nullptr;
  const DWORD error = win32::CommOpen(bare ? "\\\\.\\" + name : name, handle);
  // The plug-in's message gives only the number: the two a user meets get words.
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    ReportCommPortProblem(name, CommPortProblem{name + " does not exist", true}, true);
  } else if (error == ERROR_ACCESS_DENIED) {
    ReportCommPortProblem(name, CommPortProblem{name + " is in use by another program"}, true);
  }
  if (error != ERROR_SUCCESS) return error;
  port = std::make_unique<Win32Port>(handle);
  return ERROR_SUCCESS;
}

[[maybe_unused]] const bool gRegistered = [] {
  RegisterCommBackend("", OpenWin32Port);
  return true;
}();

}  // namespace

std::string SystemCommDevice(const std::string& name, unsigned) {
  return name;
}

}  // namespace platform
