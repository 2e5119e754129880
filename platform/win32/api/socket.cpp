// TCP connections on Winsock, non-blocking, waited for with select().
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <mutex>

#include "platform/win32/neutral.h"

namespace platform::win32 {

namespace {

// Winsock works only after WSAStartup, once per process; it stays up until the end.
std::uint32_t StartWinsock() {
  static std::once_flag once;
  static int result = 0;
  std::call_once(once, [] {
    WSADATA data{};
    result = ::WSAStartup(MAKEWORD(2, 2), &data);
  });
  return static_cast<std::uint32_t>(result);
}

std::uint32_t ConnectError(int err) {
  switch (err) {
    case WSAECONNREFUSED:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
      return ERROR_FILE_NOT_FOUND;  // nobody serves that port
    case WSAETIMEDOUT:
      return ERROR_TIMEOUT;
    case WSAEACCES:
      return ERROR_ACCESS_DENIED;
    default:
      return static_cast<std::uint32_t>(err);
  }
}

std::uint32_t TransferError(int err) {
  switch (err) {
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
    case WSAENOTCONN:
    case WSAENETRESET:
    case WSAETIMEDOUT:
      return ERROR_DEVICE_NOT_CONNECTED;
    default:
      return static_cast<std::uint32_t>(err);
  }
}

// One select() on one socket; a failed connect shows among the exceptions.
std::uint32_t SelectOne(SOCKET s, bool forSend, int timeoutMs, bool& ready) {
  ready = false;
  fd_set readable;
  fd_set writable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, forSend ? &writable : &readable);
  FD_SET(s, &failed);
  timeval limit{};
  if (timeoutMs >= 0) {
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = (timeoutMs % 1000) * 1000;
  }
  const int r = ::select(0, &readable, &writable, &failed, timeoutMs >= 0 ? &limit : nullptr);
  if (r == SOCKET_ERROR) return static_cast<std::uint32_t>(::WSAGetLastError());
  ready = r > 0;
  return 0;
}

std::uint32_t ConnectOne(const addrinfo& a, std::chrono::steady_clock::time_point deadline,
                         SOCKET& out) {
  SOCKET s = ::socket(a.ai_family, a.ai_socktype, a.ai_protocol);
  if (s == INVALID_SOCKET) return static_cast<std::uint32_t>(::WSAGetLastError());
  u_long nonBlocking = 1;
  std::uint32_t error = 0;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    error = static_cast<std::uint32_t>(::WSAGetLastError());
  } else if (::connect(s, a.ai_addr, static_cast<int>(a.ai_addrlen)) != 0) {
    const int err = ::WSAGetLastError();
    error = err == WSAEWOULDBLOCK ? ERROR_TIMEOUT : ConnectError(err);
    while (error == ERROR_TIMEOUT) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      bool ready = false;
      error =
          SelectOne(s, true, static_cast<int>(std::min<long long>(left.count(), INT_MAX)), ready);
      if (error != 0) break;
      if (!ready) {
        error = ERROR_TIMEOUT;
        continue;
      }
      int soError = 0;
      int length = sizeof soError;
      ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length);
      error = soError == 0 ? 0 : ConnectError(soError);
    }
  }
  if (error != 0) {
    ::closesocket(s);
    return error;
  }
  // The protocols on the line are byte-wise request and reply: no coalescing delay.
  BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  out = s;
  return 0;
}

}  // namespace

std::uint32_t SocketConnect(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                            Socket& socket, bool& unknownHost) {
  socket = 0;
  unknownHost = false;
  if (const std::uint32_t error = StartWinsock(); error != 0) return error;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
    unknownHost = true;
    return ERROR_FILE_NOT_FOUND;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::uint32_t error = ERROR_FILE_NOT_FOUND;
  for (addrinfo* a = found; a; a = a->ai_next) {
    SOCKET s = INVALID_SOCKET;
    error = ConnectOne(*a, deadline, s);
    if (error == 0) {
      socket = static_cast<Socket>(s);
      break;
    }
  }
  ::freeaddrinfo(found);
  return error;
}

std::uint32_t SocketSend(Socket socket, const std::uint8_t* data, std::size_t count,
                         std::size_t& sent) {
  sent = 0;
  const int n = ::send(static_cast<SOCKET>(socket), reinterpret_cast<const char*>(data),
                       static_cast<int>(std::min<std::size_t>(count, INT_MAX)), 0);
  if (n == SOCKET_ERROR) {
    const int err = ::WSAGetLastError();
    return err == WSAEWOULDBLOCK ? 0 : TransferError(err);
  }
  sent = static_cast<std::size_t>(n);
  return 0;
}

std::uint32_t SocketReceive(Socket socket, std::uint8_t* buffer, std::size_t most,
                            std::size_t& got) {
  got = 0;
  const int n = ::recv(static_cast<SOCKET>(socket), reinterpret_cast<char*>(buffer),
                       static_cast<int>(std::min<std::size_t>(most, INT_MAX)), 0);
  if (n == SOCKET_ERROR) {
    const int err = ::WSAGetLastError();
    return err == WSAEWOULDBLOCK ? 0 : TransferError(err);
  }
  if (n == 0) return ERROR_DEVICE_NOT_CONNECTED;  // the peer closed the connection
  got = static_cast<std::size_t>(n);
  return 0;
}

std::uint32_t SocketWait(Socket socket, bool forSend, int timeoutMs, bool& ready) {
  return SelectOne(static_cast<SOCKET>(socket), forSend, timeoutMs, ready);
}

void SocketClose(Socket socket) {
  ::closesocket(static_cast<SOCKET>(socket));
}

}  // namespace platform::win32
