// Linux only (sockets, poll): the comm-port backend for a serial port served over the
// network with RFC 2217. The telnet decoding is the byte-fed TelnetReader; this file
// owns the socket, the option agreement, settings, purges, breaks and time-outs.
#include "platform/comm_rfc2217.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/telnet_reader.h"

namespace platform {

namespace {

std::atomic<std::uint32_t> gAnswerTimeoutMs{3000};

constexpr std::uint64_t kNoDeadline = UINT64_MAX;
// One receive takes what the socket holds up to this.
constexpr std::size_t kChunk = 4096;
// Decoded input kept for the next reads (see the header). A runaway server could
// otherwise fill memory for the whole of a 3 s wait: 64 KiB is over 5 s of a 115200 bit/s
// line. Beyond it the newest bytes are dropped, as a full driver buffer drops what
// arrives, rather than failing the wait: the plug-in looks only for breaks among the line
// errors and recovers lost bytes through its exchanges' checks and retries, whereas a
// failed SetCommState or PurgeComm ends the operation with a COM failure.
constexpr std::size_t kMaxPending = kRfc2217MaxHeld;
// Line errors the client asks the server to report.
constexpr BYTE kLineStateMask =
    comport::kLineBreak | comport::kLineFraming | comport::kLineParity | comport::kLineOverrun;
// A server that rounds a speed by more than this is refused, as the termios backend does.
constexpr DWORD kSpeedTolerancePercent = 2;

// A network port is a real line: deadlines follow real time even when a virtual clock is
// installed for an in-process simulator.
Clock& DeadlineClock() {
  Clock& clock = GetClock();
  if (!clock.IsVirtual()) return clock;
  static SystemClock system;
  return system;
}
std::uint64_t NowMs() {
  return DeadlineClock().NowMs();
}
std::uint64_t DeadlineAfter(std::uint64_t ms) {
  return NowMs() + ms;
}

// How much of a server's text before the option agreement is kept to quote.
constexpr std::size_t kGreetingKept = 160;

// A server's text as one quotable line: control characters become blanks, runs of
// blanks one, and the ends are trimmed.
std::string Printable(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    const char shown = u < 0x20 || u == 0x7F ? ' ' : c;
    if (shown == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += shown;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string AnswerTime() {
  return std::to_string(gAnswerTimeoutMs.load()) + " ms";
}

// Parity code, RFC 2217 value.
constexpr BYTE kParityValues[] = {1, 2, 3, 4, 5};  // NOPARITY .. SPACEPARITY
// Stop-bit code, RFC 2217 value.
constexpr BYTE kStopValues[] = {1, 3, 2};  // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS

class Socket {
 public:
  explicit Socket(int fd = -1) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

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

// Waits for `events` on fd until the deadline; `ready` false on time-out.
DWORD WaitFd(int fd, short events, std::uint64_t deadline, bool& ready) {
  ready = false;
  for (;;) {
    int timeout = -1;
    if (deadline != kNoDeadline) {
      const std::uint64_t now = NowMs();
      if (now >= deadline) return ERROR_SUCCESS;
      timeout = static_cast<int>(std::min<std::uint64_t>(deadline - now, INT_MAX));
    }
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    if (r == 0) continue;  // the deadline check decides
    if (p.revents & POLLNVAL) return ERROR_INVALID_HANDLE;
    ready = true;  // POLLHUP and POLLERR too: the call that follows says what happened
    return ERROR_SUCCESS;
  }
}

// The words for a connection that failed with `error`.
std::string ConnectFailure(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return "nobody serves that port (the connection was refused or the host is unreachable)";
    case ERROR_TIMEOUT:
      return "no connection within " + AnswerTime();
    case ERROR_ACCESS_DENIED:
      return "the connection was not allowed";
    default:
      return "the connection failed (error " + std::to_string(error) + ")";
  }
}

DWORD Connect(const std::string& host, std::uint16_t port, Socket& out, std::string& why) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
    why = "the host name " + host + " is not known";
    return ERROR_FILE_NOT_FOUND;
  }
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(found, ::freeaddrinfo);
  DWORD error = ERROR_FILE_NOT_FOUND;
  const std::uint64_t deadline = DeadlineAfter(gAnswerTimeoutMs.load());
  for (addrinfo* a = found; a; a = a->ai_next) {
    Socket s(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (s.get() < 0) {
      error = ErrorFromErrno(errno);
      continue;
    }
    if (::connect(s.get(), a->ai_addr, a->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        error = ConnectError(errno);
        continue;
      }
      bool ready = false;
      error = WaitFd(s.get(), POLLOUT, deadline, ready);
      if (error != ERROR_SUCCESS) continue;
      if (!ready) {
        error = ERROR_TIMEOUT;
        continue;
      }
      int soError = 0;
      socklen_t length = sizeof soError;
      ::getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &soError, &length);
      if (soError != 0) {
        error = ConnectError(soError);
        continue;
      }
    }
    // The protocols on the line are byte-wise request and reply: no coalescing delay.
    int one = 1;
    ::setsockopt(s.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    out.reset(s.release());
    return ERROR_SUCCESS;
  }
  why = ConnectFailure(error);
  return error;
}

class Rfc2217Port final : public CommPort {
 public:
  static DWORD Open(const std::string& address, std::unique_ptr<CommPort>& port);

  DWORD GetState(DCB& dcb) override {
    dcb = dcb_;
    return ERROR_SUCCESS;
  }
  DWORD SetState(const DCB& dcb) override;
  DWORD SetTimeouts(const COMMTIMEOUTS& timeouts) override {
    timeouts_ = timeouts;
    return ERROR_SUCCESS;
  }
  DWORD Read(BYTE* buffer, DWORD count, DWORD& read) override;
  DWORD Write(const BYTE* buffer, DWORD count, DWORD& written) override;
  DWORD Purge(DWORD flags) override;
  DWORD SetBreak() override { return Control(comport::kControlBreakOn); }
  DWORD ClearBreak() override { return Control(comport::kControlBreakOff); }
  DWORD ClearError(DWORD& errors) override;

 private:
  Rfc2217Port() = default;

  // `why` says what failed, in words for the user.
  DWORD Negotiate(std::string& why);
  DWORD Apply(const DCB& dcb, bool force);
  DWORD Control(BYTE value) { return SendCommand(comport::kSetControl, &value, 1); }
  DWORD SendCommand(BYTE command, const BYTE* value, std::size_t length) {
    const std::vector<BYTE> bytes = EncodeComPort(command, value, length);
    return SendAll(bytes.data(), bytes.size(), DeadlineAfter(gAnswerTimeoutMs.load()));
  }
  DWORD SendOption(BYTE verb, BYTE option) {
    const BYTE bytes[] = {telnet::kIac, verb, option};
    return SendAll(bytes, sizeof bytes, DeadlineAfter(gAnswerTimeoutMs.load()));
  }
  // Sends every byte or fails; the connection is useless after a half-sent command.
  DWORD SendAll(const BYTE* data, std::size_t count, std::uint64_t deadline);
  // Sends what the socket takes before the deadline; `sent` says how much.
  DWORD SendSome(const BYTE* data, std::size_t count, std::uint64_t deadline, std::size_t& sent);
  // One receive of at most `most` bytes (1..kChunk) without waiting; `raw` is 0 when
  // nothing was there.
  DWORD FillOnce(std::size_t& raw, std::size_t most = kChunk);
  // Receives until `done` holds or the deadline passes.
  template <typename Done>
  DWORD PumpUntil(Done done, std::uint64_t deadline, bool& met);
  void OnEvent(const TelnetEvent& event);
  void OnComPort(const ComPortMessage& message);
  // Why a server closed the connection during the open, quoting what it said.
  std::string TurnedAway();
  DWORD Lost() {
    // Once open, the loss is the run's to explain: the plug-in's message names only an
    // error number. During the open the open's own reason says it.
    if (!lost_ && open_) {
      ReportCommPortProblem(kRfc2217Prefix + address_,
                            {kRfc2217Prefix + address_ + ": the server closed the connection"},
                            false);
    }
    lost_ = true;
    return ERROR_DEVICE_NOT_CONNECTED;
  }
  DWORD Take(BYTE* buffer, DWORD count);

  Socket socket_;
  std::string address_;
  bool open_ = false;  // the open succeeded: a loss from now on is reported
  bool lost_ = false;
  // The first of what the server sent before agreeing to the option: a busy server says
  // why in text ("Port already in use").
  std::string greeting_;
  // The last receive emptied the socket: until poll says otherwise there is nothing to
  // take, so a read that needs more waits at once instead of asking again.
  bool drained_ = false;
  TelnetReader reader_;
  std::vector<BYTE> decoded_;        // scratch for one feed
  std::vector<TelnetEvent> events_;  // scratch for one feed
  std::vector<BYTE> pending_;        // data not yet handed out: pending_[head_..]
  std::size_t head_ = 0;
  std::vector<BYTE> owed_;  // the second FF of a pair a timed-out write split

  DCB dcb_;
  bool applied_ = false;  // the server has the line settings of dcb_
  COMMTIMEOUTS timeouts_{};

  // Telnet options: what the server agreed to or refused, what we answered.
  bool comPortAgreed_ = false;
  bool comPortRefused_ = false;
  std::array<bool, 256> saidWill_{};
  std::array<bool, 256> saidDo_{};

  // Answers by client command code: how many came, the last value.
  struct Answer {
    std::uint64_t count = 0;
    std::uint32_t value = 0;
  };
  std::array<Answer, comport::kPurgeData + 1> answers_{};
  // Data that arrives while a receive purge waits for its answer was on its way before
  // the purge, and data before the option agreement is no line's: it is dropped.
  bool discarding_ = false;
  // Data was dropped for want of room (CE_RXOVER at the next ClearError).
  bool overrun_ = false;

  std::uint64_t breaks_ = 0;
  std::uint64_t breaksReported_ = 0;
  DWORD lineErrors_ = 0;
};

DWORD Rfc2217Port::Open(const std::string& address, std::unique_ptr<CommPort>& port) {
  // The plug-in's message for a failed open gives only the error number: the reason goes
  // to the wire trace and stays for the host to show.
  auto fail = [&address](DWORD error, const std::string& why) {
    ReportCommPortProblem(kRfc2217Prefix + address, {kRfc2217Prefix + address + ": " + why}, true);
    return error;
  };
  std::string host;
  std::uint16_t number = 0;
  if (!ParseRfc2217Address(address, host, number)) {
    return fail(ERROR_INVALID_NAME, Rfc2217AddressProblem(address));
  }
  std::unique_ptr<Rfc2217Port> opened(new Rfc2217Port());
  opened->address_ = address;
  std::string why;
  DWORD error = Connect(host, number, opened->socket_, why);
  if (error != ERROR_SUCCESS) return fail(error, why);
  error = opened->Negotiate(why);
  if (error != ERROR_SUCCESS) return fail(error, why);
  opened->dcb_.BaudRate = 9600;
  error = opened->Apply(opened->dcb_, true);
  if (error == ERROR_TIMEOUT) {
    return fail(error, "the server did not confirm the line settings within " + AnswerTime());
  }
  if (error == ERROR_INVALID_PARAMETER) {
    return fail(error, "the server refused the line settings 9600 8N1");
  }
  if (error == ERROR_DEVICE_NOT_CONNECTED) {
    return fail(error, opened->TurnedAway());
  }
  if (error != ERROR_SUCCESS) {
    return fail(error, "setting the line failed (error " + std::to_string(error) + ")");
  }
  opened->open_ = true;
  port = std::move(opened);
  return ERROR_SUCCESS;
}

DWORD Rfc2217Port::Negotiate(std::string& why) {
  // Binary both ways, and the COM-PORT-OPTION from our side.
  const BYTE hello[] = {telnet::kIac, telnet::kWill, telnet::kOptBinary,
                        telnet::kIac, telnet::kDo,   telnet::kOptBinary,
                        telnet::kIac, telnet::kWill, telnet::kOptComPort};
  saidWill_[telnet::kOptBinary] = saidDo_[telnet::kOptBinary] = true;
  saidWill_[telnet::kOptComPort] = true;
  DWORD error = SendAll(hello, sizeof hello, DeadlineAfter(gAnswerTimeoutMs.load()));
  if (error != ERROR_SUCCESS) {
    why = "the server did not take the telnet option requests";
    return error;
  }
  // Anything before the agreement is not line data.
  discarding_ = true;
  bool met = false;
  error = PumpUntil([this] { return comPortAgreed_ || comPortRefused_; },
                    DeadlineAfter(gAnswerTimeoutMs.load()), met);
  discarding_ = false;
  pending_.clear();
  head_ = 0;
  overrun_ = false;
  const std::string said = Printable(greeting_);
  if (error == ERROR_DEVICE_NOT_CONNECTED) {
    why = TurnedAway();
    return error;
  }
  if (error != ERROR_SUCCESS) {
    why = "the option agreement failed (error " + std::to_string(error) + ")";
    return error;
  }
  // A server that refuses the option, or a plain TCP port that never answers, serves no
  // COM port.
  if (comPortRefused_ && !comPortAgreed_) {
    why = "the server does not speak RFC 2217: it refused the COM-PORT-OPTION";
    return ERROR_NOT_SUPPORTED;
  }
  if (!comPortAgreed_) {
    why = said.empty() ? "the server does not speak RFC 2217: no telnet COM-PORT-OPTION agreement "
                         "within " +
                             AnswerTime() + " (a plain TCP port?)"
                       : "the server does not speak RFC 2217: it answered \"" + said + "\"";
    return ERROR_NOT_SUPPORTED;
  }
  const BYTE mask = kLineStateMask;
  error = SendCommand(comport::kSetLineStateMask, &mask, 1);
  const BYTE none = 0;
  if (error == ERROR_SUCCESS) error = SendCommand(comport::kSetModemStateMask, &none, 1);
  if (error == ERROR_DEVICE_NOT_CONNECTED) {
    why = TurnedAway();
  } else if (error != ERROR_SUCCESS) {
    why = "the server did not take the line-state masks (error " + std::to_string(error) + ")";
  }
  return error;
}

std::string Rfc2217Port::TurnedAway() {
  // ser2net and its kind agree to the option, then turn a second client away with a line
  // of text ("Port already in use") or hang up at once; either way the port is someone
  // else's for now. The text arrives before or after the agreement.
  std::string text = greeting_;
  text.append(pending_.begin() + static_cast<std::ptrdiff_t>(head_), pending_.end());
  const std::string said = Printable(text.substr(0, kGreetingKept));
  return said.empty() ? "the server closed the connection at once: it is busy with another "
                        "client (or serves no port here)"
                      : "the server is busy with another client: it said \"" + said + "\"";
}

DWORD Rfc2217Port::SendSome(const BYTE* data, std::size_t count, std::uint64_t deadline,
                            std::size_t& sent) {
  sent = 0;
  if (lost_) return ERROR_DEVICE_NOT_CONNECTED;
  while (sent < count) {
    const ssize_t n = ::send(socket_.get(), data + sent, count - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      return errno == EPIPE || errno == ECONNRESET ? Lost() : ErrorFromErrno(errno);
    }
    bool ready = false;
    DWORD error = WaitFd(socket_.get(), POLLOUT, deadline, ready);
    if (error != ERROR_SUCCESS) return error;
    if (!ready) return ERROR_SUCCESS;
  }
  return ERROR_SUCCESS;
}

DWORD Rfc2217Port::SendAll(const BYTE* data, std::size_t count, std::uint64_t deadline) {
  if (!owed_.empty()) {
    std::size_t sent = 0;
    DWORD error = SendSome(owed_.data(), owed_.size(), deadline, sent);
    if (error != ERROR_SUCCESS) return error;
    if (sent < owed_.size()) return ERROR_TIMEOUT;
    owed_.clear();
  }
  std::size_t sent = 0;
  DWORD error = SendSome(data, count, deadline, sent);
  if (error != ERROR_SUCCESS) return error;
  return sent == count ? ERROR_SUCCESS : ERROR_TIMEOUT;
}

DWORD Rfc2217Port::FillOnce(std::size_t& raw, std::size_t most) {
  raw = 0;
  if (lost_) return ERROR_DEVICE_NOT_CONNECTED;
  BYTE buffer[kChunk];
  ssize_t n;
  do {
    n = ::recv(socket_.get(), buffer, std::min(most, sizeof buffer), MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    if (errno == EAGAIN) {
      drained_ = true;
      return ERROR_SUCCESS;
    }
    return errno == ECONNRESET || errno == EPIPE || errno == ETIMEDOUT ? Lost()
                                                                       : ErrorFromErrno(errno);
  }
  // The server closed the connection: the line is gone, as a pulled adapter is.
  if (n == 0) return Lost();
  raw = static_cast<std::size_t>(n);
  drained_ = raw < std::min(most, sizeof buffer);
  decoded_.clear();
  events_.clear();
  reader_.Feed(buffer, raw, decoded_, events_);
  // What was taken goes before anything comes in, so that pending_ is what is held.
  if (head_ > 0) {
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
  std::size_t from = 0;
  auto keep = [&](std::size_t to) {
    if (discarding_ && greeting_.size() < kGreetingKept) {
      const std::size_t n = std::min(kGreetingKept - greeting_.size(), to - from);
      greeting_.append(reinterpret_cast<const char*>(decoded_.data()) + from, n);
    }
    if (!discarding_) {
      const std::size_t room = kMaxPending - std::min(kMaxPending, pending_.size());
      const std::size_t n = std::min(room, to - from);
      const auto begin = decoded_.begin() + static_cast<std::ptrdiff_t>(from);
      pending_.insert(pending_.end(), begin, begin + static_cast<std::ptrdiff_t>(n));
      if (n < to - from) overrun_ = true;
    }
    from = to;
  };
  for (const TelnetEvent& event : events_) {
    keep(event.dataBefore);
    OnEvent(event);
  }
  keep(decoded_.size());
  return ERROR_SUCCESS;
}

template <typename Done>
DWORD Rfc2217Port::PumpUntil(Done done, std::uint64_t deadline, bool& met) {
  met = false;
  for (;;) {
    if (done()) {
      met = true;
      return ERROR_SUCCESS;
    }
    if (!drained_) {
      std::size_t raw = 0;
      DWORD error = FillOnce(raw);
      if (error != ERROR_SUCCESS) return error;
      if (raw > 0) continue;
    }
    bool ready = false;
    DWORD error = WaitFd(socket_.get(), POLLIN, deadline, ready);
    if (error != ERROR_SUCCESS) return error;
    if (!ready) return ERROR_SUCCESS;
    drained_ = false;
  }
}

void Rfc2217Port::OnEvent(const TelnetEvent& event) {
  using Kind = TelnetEvent::Kind;
  if (event.kind == Kind::kOption) {
    const BYTE option = event.option;
    // Answer only changes, so that two ends never loop on each other.
    switch (event.verb) {
      case telnet::kDo:
        if (option == telnet::kOptComPort) comPortAgreed_ = true;
        if (!saidWill_[option]) {
          const bool want = option == telnet::kOptBinary || option == telnet::kOptSuppressGoAhead;
          if (want) saidWill_[option] = true;
          SendOption(want ? telnet::kWill : telnet::kWont, option);
        }
        break;
      case telnet::kDont:
        if (option == telnet::kOptComPort) comPortRefused_ = true;
        if (saidWill_[option]) {
          saidWill_[option] = false;
          SendOption(telnet::kWont, option);
        }
        break;
      case telnet::kWill:
        if (!saidDo_[option]) {
          const bool want = option == telnet::kOptBinary || option == telnet::kOptSuppressGoAhead;
          if (want) saidDo_[option] = true;
          SendOption(want ? telnet::kDo : telnet::kDont, option);
        }
        break;
      case telnet::kWont:
        if (saidDo_[option]) {
          saidDo_[option] = false;
          SendOption(telnet::kDont, option);
        }
        break;
      default:
        break;
    }
    return;
  }
  if (event.kind == Kind::kSubnegotiation && event.option == telnet::kOptComPort) {
    ComPortMessage message;
    if (DecodeComPort(event.payload, message)) OnComPort(message);
  }
  // Refused (over-long or broken) sub-negotiations and other options: nothing to do.
}

void Rfc2217Port::OnComPort(const ComPortMessage& message) {
  if (message.command < comport::kServerOffset) return;  // a client command: not ours
  const BYTE command = static_cast<BYTE>(message.command - comport::kServerOffset);
  if (command == comport::kNotifyLineState) {
    const BYTE state = static_cast<BYTE>(message.value);
    if (state & comport::kLineBreak) ++breaks_;
    if (state & comport::kLineFraming) lineErrors_ |= CE_FRAME;
    if (state & comport::kLineParity) lineErrors_ |= CE_RXPARITY;
    if (state & comport::kLineOverrun) lineErrors_ |= CE_OVERRUN;
    return;
  }
  if (command < answers_.size()) {
    answers_[command].count++;
    answers_[command].value = message.value;
    if (command == comport::kPurgeData) discarding_ = false;
  }
}

DWORD Rfc2217Port::Apply(const DCB& dcb, bool force) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
      dcb.StopBits > TWOSTOPBITS || dcb.fOutxDsrFlow || dcb.fOutxCtsFlow || dcb.fOutX || dcb.fInX ||
      dcb.fDtrControl == DTR_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
    // Flow control is the server's business and this client asks for none.
    return ERROR_INVALID_PARAMETER;
  }
  // Command, value bytes, expected answer: only what changed is sent, all at once, then
  // the answers are awaited together.
  struct Setting {
    BYTE command;
    std::uint32_t value;
    std::size_t length;
    bool changed;
  };
  const Setting settings[] = {
      {comport::kSetBaudRate, dcb.BaudRate, 4, force || dcb.BaudRate != dcb_.BaudRate},
      {comport::kSetDataSize, dcb.ByteSize, 1, force || dcb.ByteSize != dcb_.ByteSize},
      {comport::kSetParity, kParityValues[dcb.Parity], 1, force || dcb.Parity != dcb_.Parity},
      {comport::kSetStopSize, kStopValues[dcb.StopBits], 1, force || dcb.StopBits != dcb_.StopBits},
  };
  std::array<std::uint64_t, std::size(settings)> base{};
  for (std::size_t i = 0; i < std::size(settings); ++i) {
    const Setting& s = settings[i];
    base[i] = answers_[s.command].count;
    if (!s.changed) continue;
    BYTE value[4];
    for (std::size_t k = 0; k < s.length; ++k) {
      value[k] = static_cast<BYTE>(s.value >> (8 * (s.length - 1 - k)));
    }
    DWORD error = SendCommand(s.command, value, s.length);
    if (error != ERROR_SUCCESS) return error;
  }
  // Control lines and flow control: sent, never awaited (see the header).
  if (force) {
    DWORD error = Control(comport::kControlNoFlow);
    if (error == ERROR_SUCCESS) error = Control(comport::kControlInboundNoFlow);
    if (error != ERROR_SUCCESS) return error;
  }
  if (force || dcb.fDtrControl != dcb_.fDtrControl) {
    DWORD error = Control(dcb.fDtrControl == DTR_CONTROL_ENABLE ? comport::kControlDtrOn
                                                                : comport::kControlDtrOff);
    if (error != ERROR_SUCCESS) return error;
  }
  if (force || dcb.fRtsControl != dcb_.fRtsControl) {
    DWORD error = Control(dcb.fRtsControl == RTS_CONTROL_ENABLE ? comport::kControlRtsOn
                                                                : comport::kControlRtsOff);
    if (error != ERROR_SUCCESS) return error;
  }

  bool met = false;
  DWORD error = PumpUntil(
      [&] {
        for (std::size_t i = 0; i < std::size(settings); ++i) {
          if (settings[i].changed && answers_[settings[i].command].count == base[i]) return false;
        }
        return true;
      },
      DeadlineAfter(gAnswerTimeoutMs.load()), met);
  if (error != ERROR_SUCCESS) return error;
  if (!met) return ERROR_TIMEOUT;
  for (const Setting& s : settings) {
    if (!s.changed) continue;
    const std::uint32_t got = answers_[s.command].value;
    if (s.command == comport::kSetBaudRate) {
      const std::uint32_t diff = got > s.value ? got - s.value : s.value - got;
      if (static_cast<std::uint64_t>(diff) * 100 >
          static_cast<std::uint64_t>(s.value) * kSpeedTolerancePercent) {
        return ERROR_INVALID_PARAMETER;
      }
    } else if (got != s.value) {
      return ERROR_INVALID_PARAMETER;
    }
  }
  dcb_ = dcb;
  applied_ = true;
  return ERROR_SUCCESS;
}

DWORD Rfc2217Port::SetState(const DCB& dcb) {
  DWORD error = Apply(dcb, !applied_);
  // A refused or unanswered setting leaves the line in doubt: the next one sends all.
  if (error != ERROR_SUCCESS) applied_ = false;
  return error;
}

DWORD Rfc2217Port::Take(BYTE* buffer, DWORD count) {
  const std::size_t n = std::min<std::size_t>(count, pending_.size() - head_);
  if (n == 0) return 0;
  std::memcpy(buffer, pending_.data() + head_, n);
  head_ += n;
  if (head_ == pending_.size()) {
    pending_.clear();
    head_ = 0;
  }
  return static_cast<DWORD>(n);
}

DWORD Rfc2217Port::Read(BYTE* buffer, DWORD count, DWORD& read) {
  read = 0;
  if (count == 0) return ERROR_SUCCESS;
  if (!buffer) return ERROR_INVALID_PARAMETER;
  // The read time-outs as the termios backend reads them: return what is waiting
  // (MAXDWORD, 0, 0); that or the first byte within C (MAXDWORD, MAXDWORD, C); else fill
  // the buffer within multiplier x count + constant, a gap over the interval ending it.
  const COMMTIMEOUTS& t = timeouts_;
  const bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                         t.ReadTotalTimeoutConstant == 0;
  const bool firstByte = t.ReadIntervalTimeout == MAXDWORD &&
                         t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                         t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD;
  const bool returnWithAny = immediate || firstByte;
  // The loaders read a byte at a time: what is already here goes without a look at the
  // clock or the socket.
  read = Take(buffer, count);
  if (read == count || (read > 0 && returnWithAny)) return ERROR_SUCCESS;
  std::uint64_t deadline = kNoDeadline;
  DWORD interval = 0;
  if (firstByte) {
    deadline = DeadlineAfter(t.ReadTotalTimeoutConstant);
  } else if (!immediate) {
    const std::uint64_t total = static_cast<std::uint64_t>(t.ReadTotalTimeoutMultiplier) * count +
                                t.ReadTotalTimeoutConstant;
    if (total != 0) deadline = DeadlineAfter(total);
    if (t.ReadIntervalTimeout != MAXDWORD) interval = t.ReadIntervalTimeout;
  }
  // Bytes taken above count as just arrived: the interval runs from here for them.
  std::uint64_t lastArrival = interval != 0 ? NowMs() : 0;
  for (;;) {
    read += Take(buffer + read, count - read);
    if (read == count || (read > 0 && returnWithAny)) return ERROR_SUCCESS;
    // Data comes in bursts: one receive takes a burst whole, one poll waits for the next.
    if (!drained_ || immediate) {
      std::size_t raw = 0;
      DWORD error = FillOnce(raw);
      if (error != ERROR_SUCCESS) return error;
      if (raw > 0) {
        if (interval != 0) lastArrival = NowMs();
        continue;  // data, or only telnet commands: look again before waiting
      }
      if (immediate) return ERROR_SUCCESS;
    }
    std::uint64_t until = deadline;
    if (interval != 0 && read > 0) until = std::min(until, lastArrival + interval);
    bool ready = false;
    DWORD error = WaitFd(socket_.get(), POLLIN, until, ready);
    if (error != ERROR_SUCCESS) return error;
    if (!ready) return ERROR_SUCCESS;  // time-out: a short count is not a failure
    drained_ = false;  // something came (or the connection ended: the receive says which)
  }
}

DWORD Rfc2217Port::Write(const BYTE* buffer, DWORD count, DWORD& written) {
  written = 0;
  if (count == 0) return ERROR_SUCCESS;
  if (!buffer) return ERROR_INVALID_PARAMETER;
  if (lost_) return ERROR_DEVICE_NOT_CONNECTED;
  const std::uint64_t total =
      static_cast<std::uint64_t>(timeouts_.WriteTotalTimeoutMultiplier) * count +
      timeouts_.WriteTotalTimeoutConstant;
  const std::uint64_t deadline = total == 0 ? kNoDeadline : DeadlineAfter(total);
  if (!owed_.empty()) {
    std::size_t sent = 0;
    DWORD error = SendSome(owed_.data(), owed_.size(), deadline, sent);
    if (error != ERROR_SUCCESS) return error;
    owed_.erase(owed_.begin(), owed_.begin() + static_cast<std::ptrdiff_t>(sent));
    if (!owed_.empty()) {
      SetLastError(ERROR_TIMEOUT);
      return ERROR_SUCCESS;
    }
  }
  std::vector<BYTE> escaped;
  escaped.reserve(count + 8);
  EscapeTelnetData(buffer, count, escaped);
  std::size_t sent = 0;
  DWORD error = SendSome(escaped.data(), escaped.size(), deadline, sent);
  if (error != ERROR_SUCCESS) return error;
  // A request sent soon after a reply puts the socket into delayed-ACK mode, and a server
  // that leaves Nagle's algorithm on (ser2net does) then holds the rest of the next reply
  // until its first part is acknowledged: some 40 ms on every exchange. Leaving that mode
  // here acknowledges each part of the reply as it is read.
  int one = 1;
  ::setsockopt(socket_.get(), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
  if (sent == escaped.size()) {
    written = count;
    return ERROR_SUCCESS;
  }
  // Time-out part-way: count the data bytes that went whole; a doubled FF cut in half
  // owes its second byte to the stream before anything else may follow.
  std::size_t pos = 0;
  while (written < count) {
    const std::size_t width = buffer[written] == telnet::kIac ? 2 : 1;
    if (pos + width > sent) break;
    pos += width;
    ++written;
  }
  if (pos < sent) {
    owed_.push_back(telnet::kIac);
    ++written;
  }
  SetLastError(ERROR_TIMEOUT);
  return ERROR_SUCCESS;
}

DWORD Rfc2217Port::Purge(DWORD flags) {
  const bool rx = (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0;
  const bool tx = (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0;
  if (!rx && !tx) return ERROR_SUCCESS;
  if (lost_) return ERROR_DEVICE_NOT_CONNECTED;
  const BYTE value = rx && tx ? comport::kPurgeBoth
                     : rx     ? comport::kPurgeReceive
                              : comport::kPurgeTransmit;
  const std::uint64_t base = answers_[comport::kPurgeData].count;
  DWORD error = SendCommand(comport::kPurgeData, &value, 1);
  if (error != ERROR_SUCCESS) return error;
  if (rx) {
    // Read everything already here (its breaks still count), then drop data up to the
    // answer: it left the server before the purge did.
    pending_.clear();
    head_ = 0;
    discarding_ = true;
  }
  bool met = false;
  error = PumpUntil([&] { return answers_[comport::kPurgeData].count > base; },
                    DeadlineAfter(gAnswerTimeoutMs.load()), met);
  // A server that does not answer purges must not hold the line up: what came so far is
  // dropped and the rest is taken as new.
  discarding_ = false;
  if (rx && !met) {
    pending_.clear();
    head_ = 0;
  }
  return error;
}

DWORD Rfc2217Port::ClearError(DWORD& errors) {
  errors = 0;
  // Take in what has arrived, so that a break notification waiting in the socket counts;
  // no more than there is room for (a data byte takes at least one byte on the wire), so
  // that nothing is dropped: the rest, and what follows it, waits in the socket.
  for (;;) {
    const std::size_t held = pending_.size() - head_;
    if (held >= kMaxPending) break;
    std::size_t raw = 0;
    DWORD error = FillOnce(raw, kMaxPending - held);
    if (error != ERROR_SUCCESS) return error;
    if (raw == 0) break;
  }
  errors = lineErrors_;
  lineErrors_ = 0;
  if (overrun_) errors |= CE_RXOVER;
  overrun_ = false;
  if (breaks_ > breaksReported_) errors |= CE_BREAK;
  breaksReported_ = breaks_;
  return ERROR_SUCCESS;
}

DWORD OpenRfc2217(const std::string& address, std::unique_ptr<CommPort>& port) {
  return Rfc2217Port::Open(address, port);
}

[[maybe_unused]] const bool gRegistered = [] {
  RegisterCommBackend("rfc2217", OpenRfc2217);
  return true;
}();

}  // namespace

std::uint32_t SetRfc2217AnswerTimeoutMs(std::uint32_t ms) {
  return gAnswerTimeoutMs.exchange(ms);
}

}  // namespace platform
