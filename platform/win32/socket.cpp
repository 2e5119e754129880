// TCP connections on Winsock (win32/api/socket.cpp).
#include "platform/socket.h"

#include "platform/win32/neutral.h"

namespace platform {

namespace {

class WinsockConnection final : public TcpConnection {
 public:
  explicit WinsockConnection(win32::Socket socket) : socket_(socket) {}
  ~WinsockConnection() override { win32::SocketClose(socket_); }

  DWORD Send(const BYTE* data, std::size_t count, std::size_t& sent) override {
    return win32::SocketSend(socket_, data, count, sent);
  }
  DWORD Receive(BYTE* buffer, std::size_t most, std::size_t& got) override {
    return win32::SocketReceive(socket_, buffer, most, got);
  }
  DWORD Wait(bool forSend, int timeoutMs, bool& ready) override {
    return win32::SocketWait(socket_, forSend, timeoutMs, ready);
  }

 private:
  win32::Socket socket_;
};

}  // namespace

DWORD ConnectTcp(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                 std::unique_ptr<TcpConnection>& connection, bool& unknownHost) {
  connection.reset();
  win32::Socket socket = 0;
  const DWORD error = win32::SocketConnect(host, port, timeoutMs, socket, unknownHost);
  if (error == ERROR_SUCCESS) connection = std::make_unique<WinsockConnection>(socket);
  return error;
}

}  // namespace platform
