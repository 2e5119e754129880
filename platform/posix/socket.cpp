// TCP connections on POSIX sockets, non-blocking throughout.
#include "platform/socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

namespace platform {

namespace {

DWORD ConnectError(int err) {
  switch (err) {
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
      return ERROR_FILE_NOT_FOUND;  // nobody serves that port
    case ETIMEDOUT:
      return ERROR_TIMEOUT;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    default:
      return ErrorFromErrno(err);
  }
}

bool IsLoss(int err) {
  return err == ECONNRESET || err == EPIPE || err == ETIMEDOUT;
}

// One poll; a signal counts as a time-out (the caller waits again for the time left).
DWORD PollOnce(int fd, short events, int timeoutMs, bool& ready) {
  ready = false;
  pollfd p{fd, events, 0};
  const int r = ::poll(&p, 1, timeoutMs);
  if (r < 0) return errno == EINTR ? ERROR_SUCCESS : ErrorFromErrno(errno);
  if (r == 0) return ERROR_SUCCESS;
  if (p.revents & POLLNVAL) return ERROR_INVALID_HANDLE;
  ready = true;  // POLLHUP and POLLERR too: the call that follows says what happened
  return ERROR_SUCCESS;
}

class PosixConnection final : public TcpConnection {
 public:
  explicit PosixConnection(int fd) : fd_(fd) {}
  ~PosixConnection() override { ::close(fd_); }

  DWORD Send(const BYTE* data, std::size_t count, std::size_t& sent) override {
    sent = 0;
    for (;;) {
      const ssize_t n = ::send(fd_, data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n >= 0) {
        sent = static_cast<std::size_t>(n);
        return ERROR_SUCCESS;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return ERROR_SUCCESS;
      return IsLoss(errno) ? ERROR_DEVICE_NOT_CONNECTED : ErrorFromErrno(errno);
    }
  }

  DWORD Receive(BYTE* buffer, std::size_t most, std::size_t& got) override {
    got = 0;
    ssize_t n;
    do {
      n = ::recv(fd_, buffer, most, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      if (errno == EAGAIN) return ERROR_SUCCESS;
      return IsLoss(errno) ? ERROR_DEVICE_NOT_CONNECTED : ErrorFromErrno(errno);
    }
    if (n == 0) return ERROR_DEVICE_NOT_CONNECTED;  // the peer closed the connection
    got = static_cast<std::size_t>(n);
    return ERROR_SUCCESS;
  }

  DWORD Wait(bool forSend, int timeoutMs, bool& ready) override {
    return PollOnce(fd_, forSend ? POLLOUT : POLLIN, timeoutMs, ready);
  }

  void AcknowledgeNow() override {
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
  }

  // poll(2) on a TCP socket honours it: one wake-up for a whole reply, not one a segment.
  void SetReceiveLowWater(std::size_t bytes) override {
    const int value = static_cast<int>(std::max<std::size_t>(bytes, 1));
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVLOWAT, &value, sizeof value);
  }

 private:
  int fd_;
};

// Connects one socket to one address within the time left; the socket is closed unless
// handed back in `fd`.
DWORD ConnectOne(const addrinfo& a, std::chrono::steady_clock::time_point deadline, int& fd) {
  const int s = ::socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.ai_protocol);
  if (s < 0) return ErrorFromErrno(errno);
  DWORD error = ERROR_SUCCESS;
  if (::connect(s, a.ai_addr, a.ai_addrlen) != 0) {
    error = errno == EINPROGRESS ? ERROR_TIMEOUT : ConnectError(errno);
    while (error == ERROR_TIMEOUT) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      bool ready = false;
      error =
          PollOnce(s, POLLOUT, static_cast<int>(std::min<long long>(left.count(), INT_MAX)), ready);
      if (error != ERROR_SUCCESS) break;
      if (!ready) {
        error = ERROR_TIMEOUT;
        continue;
      }
      int soError = 0;
      socklen_t length = sizeof soError;
      ::getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &length);
      error = soError == 0 ? ERROR_SUCCESS : ConnectError(soError);
    }
  }
  if (error != ERROR_SUCCESS) {
    ::close(s);
    return error;
  }
  // The protocols on the line are byte-wise request and reply: no coalescing delay.
  int one = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  fd = s;
  return ERROR_SUCCESS;
}

}  // namespace

DWORD ConnectTcp(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                 std::unique_ptr<TcpConnection>& connection, bool& unknownHost) {
  connection.reset();
  unknownHost = false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
    unknownHost = true;
    return ERROR_FILE_NOT_FOUND;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  DWORD error = ERROR_FILE_NOT_FOUND;
  for (addrinfo* a = found; a; a = a->ai_next) {
    int fd = -1;
    error = ConnectOne(*a, deadline, fd);
    if (error == ERROR_SUCCESS) {
      connection = std::make_unique<PosixConnection>(fd);
      break;
    }
  }
  ::freeaddrinfo(found);
  return error;
}

}  // namespace platform
