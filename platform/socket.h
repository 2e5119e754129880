// A TCP connection, the little a network port needs of it, one file per system
// (posix/socket.cpp, win32/socket.cpp). Nothing here waits unless asked to; every call
// returns a Windows error number.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/winbase.h"

namespace platform {

class TcpConnection {
 public:
  virtual ~TcpConnection() = default;  // closes
  // Sends what the system takes now (`sent` may be 0). ERROR_DEVICE_NOT_CONNECTED once
  // the peer has gone.
  virtual DWORD Send(const BYTE* data, std::size_t count, std::size_t& sent) = 0;
  // Receives what has arrived, at most `most` bytes (`got` 0 when nothing has).
  // ERROR_DEVICE_NOT_CONNECTED when the peer closed or reset the connection.
  virtual DWORD Receive(BYTE* buffer, std::size_t most, std::size_t& got) = 0;
  // Waits until something can be received (or sent, with `forSend`) or `timeoutMs`
  // passes (-1: no limit). `ready` false on time-out; a wait cut short by a signal is
  // a time-out too, so that callers wait again for the time left. Ready also when the
  // connection has ended: the call that follows says so.
  virtual DWORD Wait(bool forSend, int timeoutMs, bool& ready) = 0;
  // Acknowledges received data at once rather than after the system's delay, where the
  // system has that switch.
  virtual void AcknowledgeNow() {}
  // Wait ends only once this many bytes can be received (or at its time-out), where the
  // system has that switch; 1 is the usual rule.
  virtual void SetReceiveLowWater(std::size_t bytes) {}
};

// Resolves `host` (a name or an address) and connects to `port` within `timeoutMs`,
// trying each address in turn; the connection sends without delay (no Nagle). Errors:
// ERROR_FILE_NOT_FOUND when the host name is not known (`unknownHost`) or nobody serves
// the port (refused or unreachable), ERROR_TIMEOUT, ERROR_ACCESS_DENIED.
DWORD ConnectTcp(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                 std::unique_ptr<TcpConnection>& connection, bool& unknownHost);

}  // namespace platform
