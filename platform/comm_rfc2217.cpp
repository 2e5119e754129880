// The comm-port backend for a serial port served over the network with RFC 2217, on
// every system: the protocol is Rfc2217Session's, the connection the system's
// TcpConnection, the time-out rules the port engine's. This file owns the waits: for the
// connection, for answers, for data.
#include "platform/comm_rfc2217.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/port_engine.h"
#include "platform/rfc2217_session.h"
#include "platform/socket.h"
#include "platform/telnet_reader.h"

namespace platform {

namespace {

std::atomic<std::uint32_t> gAnswerTimeoutMs{3000};

// One receive takes what the connection holds up to this.
constexpr std::size_t kChunk = 4096;
// The most a reader's hint makes a wait hold out for: more than the longest reply, far
// less than the connection's receive buffer (a larger mark would never be reached).
constexpr std::size_t kMostLowWater = 2048;
// Decoded input kept for the next reads (see the header). A runaway server could
// otherwise fill memory for the whole of a 3 s wait: 64 KiB is over 5 s of a 115200 bit/s
// line. Beyond it the newest bytes are dropped, as a full driver buffer drops what
// arrives, rather than failing the wait: the plug-in looks only for breaks among the line
// errors and recovers lost bytes through its exchanges' checks and retries, whereas a
// failed SetCommState or PurgeComm ends the operation with a COM failure.
constexpr std::size_t kMaxPending = kRfc2217MaxHeld;

// A network port is a real line: deadlines follow real time even when a virtual clock is
// installed for an in-process simulator.
Clock& DeadlineClock() {
  Clock& clock = GetClock();
  if (!clock.IsVirtual()) return clock;
  static SystemClock system;
  return system;
}
std::uint64_t WallNowNs() {
  return DeadlineClock().NowMs() * kNsPerMs;
}
std::uint64_t AnswerDeadline() {
  return WallNowNs() + gAnswerTimeoutMs.load() * kNsPerMs;
}

// The words for a connection that failed with `error`.
std::string ConnectFailure(DWORD error, bool unknownHost, const std::string& host) {
  if (unknownHost) return "the host name " + host + " is not known";
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return "nobody serves that port (the connection was refused or the host is unreachable)";
    case ERROR_TIMEOUT:
      return "no connection within " + std::to_string(gAnswerTimeoutMs.load()) + " ms";
    case ERROR_ACCESS_DENIED:
      return "the connection was not allowed";
    default:
      return "the connection failed (error " + std::to_string(error) + ")";
  }
}

class Rfc2217Port final : public CommPort, private PortFeed {
 public:
  static DWORD Open(const std::string& address, std::unique_ptr<CommPort>& port);

  DWORD GetState(DCB& dcb) override {
    dcb = session_.Settings();
    return ERROR_SUCCESS;
  }
  DWORD SetState(const DCB& dcb) override;
  DWORD SetTimeouts(const COMMTIMEOUTS& timeouts) override {
    timeouts_ = timeouts;
    return ERROR_SUCCESS;
  }
  DWORD Read(BYTE* buffer, DWORD count, DWORD& read) override {
    return ReadWithTimeouts(*this, timeouts_, buffer, count, read);
  }
  DWORD Write(const BYTE* buffer, DWORD count, DWORD& written) override;
  DWORD Purge(DWORD flags) override;
  DWORD SetBreak() override { return Control(comport::kControlBreakOn); }
  DWORD ClearBreak() override { return Control(comport::kControlBreakOff); }
  DWORD ClearError(DWORD& errors) override;
  DWORD Held() const override { return static_cast<DWORD>(session_.Input().Held()); }
  void ExpectInput(DWORD count) override { expected_ = count; }

 private:
  Rfc2217Port() : session_(kMaxPending) {}

  // The engine's feed. Data comes in bursts: one receive takes a burst whole, one wait
  // waits for the next.
  std::uint64_t NowNs() override { return WallNowNs(); }
  DWORD Take(BYTE* buffer, DWORD count) override {
    const DWORD taken = session_.Input().Take(buffer, count);
    expected_ -= std::min(expected_, taken);
    return taken;
  }
  DWORD Collect(bool waitNext, std::size_t& arrived) override {
    arrived = 0;
    // The last receive emptied the connection: until the wait says otherwise there is
    // nothing to take.
    if (drained_ && waitNext) return ERROR_SUCCESS;
    return FillOnce(arrived);
  }
  DWORD WaitForInput(std::uint64_t deadlineNs, bool& ready) override {
    // The server sends a reply in pieces some 40 ms apart: with the reader's hint the
    // wait ends once the rest of it can be there, one wake-up instead of one a piece.
    // Telnet's escapes and the server's notices only add bytes, so the rest is a floor.
    const std::size_t held = session_.Input().Held();
    SetLowWater(expected_ > held ? std::min<std::size_t>(expected_ - held, kMostLowWater) : 1);
    DWORD error = WaitUntil(false, deadlineNs, ready);
    if (ready) drained_ = false;  // something came, or the connection ended
    return error;
  }

  // `why` says what failed, in words for the user.
  DWORD Negotiate(std::string& why);
  DWORD Control(BYTE value) {
    session_.Control(value);
    return Flush();
  }
  // Sends what the session queued, all of it or failing.
  DWORD Flush();
  // Sends every byte or fails; the connection is useless after a half-sent command.
  DWORD SendAll(const BYTE* data, std::size_t count, std::uint64_t deadlineNs);
  // Sends what the connection takes before the deadline; `sent` says how much.
  DWORD SendSome(const BYTE* data, std::size_t count, std::uint64_t deadlineNs, std::size_t& sent);
  DWORD WaitUntil(bool forSend, std::uint64_t deadlineNs, bool& ready);
  // One receive of at most `most` bytes (1..kChunk) without waiting; `raw` is 0 when
  // nothing was there.
  DWORD FillOnce(std::size_t& raw, std::size_t most = kChunk);
  // Receives until `done` holds or the deadline passes.
  template <typename Done>
  DWORD PumpUntil(Done done, std::uint64_t deadlineNs, bool& met);
  void SetLowWater(std::size_t bytes) {
    if (bytes == lowWater_) return;
    connection_->SetReceiveLowWater(bytes);
    lowWater_ = bytes;
  }
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

  std::unique_ptr<TcpConnection> connection_;
  Rfc2217Session session_;
  std::string address_;
  bool open_ = false;  // the open succeeded: a loss from now on is reported
  bool lost_ = false;
  bool drained_ = false;
  DWORD expected_ = 0;        // the reader's hint, less what it took since
  std::size_t lowWater_ = 1;  // what the connection's wait is set to
  std::vector<BYTE> owed_;    // the second FF of a pair a timed-out write split
  COMMTIMEOUTS timeouts_{};
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
  bool unknownHost = false;
  DWORD error = ConnectTcp(host, number, gAnswerTimeoutMs.load(), opened->connection_, unknownHost);
  if (error != ERROR_SUCCESS) return fail(error, ConnectFailure(error, unknownHost, host));
  std::string why;
  error = opened->Negotiate(why);
  if (error != ERROR_SUCCESS) return fail(error, why);
  DCB dcb;
  dcb.BaudRate = 9600;
  error = opened->SetState(dcb);
  if (error == ERROR_DEVICE_NOT_CONNECTED) return fail(error, opened->session_.TurnedAway());
  if (error != ERROR_SUCCESS) {
    return fail(error, Rfc2217Session::SettingsFailure(error, gAnswerTimeoutMs.load()));
  }
  opened->open_ = true;
  port = std::move(opened);
  return ERROR_SUCCESS;
}

DWORD Rfc2217Port::Negotiate(std::string& why) {
  session_.Begin();
  DWORD error = Flush();
  if (error != ERROR_SUCCESS) {
    why = "the server did not take the telnet option requests";
    return error;
  }
  bool met = false;
  error = PumpUntil([this] { return session_.AgreementSettled(); }, AnswerDeadline(), met);
  if (error == ERROR_DEVICE_NOT_CONNECTED) {
    why = session_.TurnedAway();
    return error;
  }
  if (error != ERROR_SUCCESS) {
    why = "the option agreement failed (error " + std::to_string(error) + ")";
    return error;
  }
  error = session_.EndAgreement(gAnswerTimeoutMs.load(), why);
  if (error != ERROR_SUCCESS) return error;
  error = Flush();  // the line-state masks
  if (error == ERROR_DEVICE_NOT_CONNECTED) {
    why = session_.TurnedAway();
  } else if (error != ERROR_SUCCESS) {
    why = "the server did not take the line-state masks (error " + std::to_string(error) + ")";
  }
  return error;
}

DWORD Rfc2217Port::WaitUntil(bool forSend, std::uint64_t deadlineNs, bool& ready) {
  ready = false;
  for (;;) {
    const int timeout = WaitTimeoutMs(deadlineNs, WallNowNs());
    if (timeout == 0) return ERROR_SUCCESS;
    DWORD error = connection_->Wait(forSend, timeout, ready);
    if (error != ERROR_SUCCESS || ready) return error;
    // A time-out or a signal: the deadline check decides.
  }
}

DWORD Rfc2217Port::SendSome(const BYTE* data, std::size_t count, std::uint64_t deadlineNs,
                            std::size_t& sent) {
  sent = 0;
  if (lost_) return ERROR_DEVICE_NOT_CONNECTED;
  while (sent < count) {
    std::size_t n = 0;
    DWORD error = connection_->Send(data + sent, count - sent, n);
    if (error == ERROR_DEVICE_NOT_CONNECTED) return Lost();
    if (error != ERROR_SUCCESS) return error;
    if (n > 0) {
      sent += n;
      continue;
    }
    bool ready = false;
    error = WaitUntil(true, deadlineNs, ready);
    if (error != ERROR_SUCCESS) return error;
    if (!ready) return ERROR_SUCCESS;
  }
  return ERROR_SUCCESS;
}

DWORD Rfc2217Port::SendAll(const BYTE* data, std::size_t count, std::uint64_t deadlineNs) {
  if (!owed_.empty()) {
    std::size_t sent = 0;
    DWORD error = SendSome(owed_.data(), owed_.size(), deadlineNs, sent);
    if (error != ERROR_SUCCESS) return error;
    if (sent < owed_.size()) return ERROR_TIMEOUT;
    owed_.clear();
  }
  std::size_t sent = 0;
  DWORD error = SendSome(data, count, deadlineNs, sent);
  if (error != ERROR_SUCCESS) return error;
  return sent == count ? ERROR_SUCCESS : ERROR_TIMEOUT;
}

DWORD Rfc2217Port::Flush() {
  std::vector<BYTE>& out = session_.Outgoing();
  if (out.empty()) return ERROR_SUCCESS;
  const std::vector<BYTE> bytes = std::move(out);
  out.clear();
  return SendAll(bytes.data(), bytes.size(), AnswerDeadline());
}

DWORD Rfc2217Port::FillOnce(std::size_t& raw, std::size_t most) {
  raw = 0;
  if (lost_) return ERROR_DEVICE_NOT_CONNECTED;
  BYTE buffer[kChunk];
  const std::size_t asked = std::min(most, sizeof buffer);
  DWORD error = connection_->Receive(buffer, asked, raw);
  // The server closed the connection: the line is gone, as a pulled adapter is.
  if (error == ERROR_DEVICE_NOT_CONNECTED) return Lost();
  if (error != ERROR_SUCCESS) return error;
  drained_ = raw < asked;
  if (raw == 0) return ERROR_SUCCESS;
  session_.Receive(buffer, raw);
  // Answers to the server's option requests; a failure shows in the next call.
  Flush();
  return ERROR_SUCCESS;
}

template <typename Done>
DWORD Rfc2217Port::PumpUntil(Done done, std::uint64_t deadlineNs, bool& met) {
  met = false;
  SetLowWater(1);  // an answer to a command is a few bytes
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
    DWORD error = WaitUntil(false, deadlineNs, ready);
    if (error != ERROR_SUCCESS) return error;
    if (!ready) return ERROR_SUCCESS;
    drained_ = false;
  }
}

DWORD Rfc2217Port::SetState(const DCB& dcb) {
  DWORD error = session_.BeginSettings(dcb);
  if (error != ERROR_SUCCESS) return error;
  error = Flush();
  bool met = false;
  if (error == ERROR_SUCCESS) {
    error = PumpUntil([this] { return session_.SettingsAnswered(); }, AnswerDeadline(), met);
  }
  // A refused or unanswered setting leaves the line in doubt: the next one sends all.
  return session_.EndSettings(error, met);
}

DWORD Rfc2217Port::Write(const BYTE* buffer, DWORD count, DWORD& written) {
  written = 0;
  if (count == 0) return ERROR_SUCCESS;
  if (!buffer) return ERROR_INVALID_PARAMETER;
  if (lost_) return ERROR_DEVICE_NOT_CONNECTED;
  const std::uint64_t deadline = WriteDeadlineNs(timeouts_, count, WallNowNs());
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
  connection_->AcknowledgeNow();
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
  if (!(flags & (PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR))) {
    return ERROR_SUCCESS;
  }
  if (lost_) return ERROR_DEVICE_NOT_CONNECTED;
  expected_ = 0;
  session_.BeginPurge(flags);
  DWORD error = Flush();
  bool met = false;
  if (error == ERROR_SUCCESS) {
    error = PumpUntil([this] { return session_.PurgeAnswered(); }, AnswerDeadline(), met);
  }
  session_.EndPurge(met);
  return error;
}

DWORD Rfc2217Port::ClearError(DWORD& errors) {
  errors = 0;
  // Take in what has arrived, so that a break notification waiting in the connection
  // counts; no more than there is room for (a data byte takes at least one byte on the
  // wire), so that nothing is dropped: the rest, and what follows it, waits there.
  InputQueue& input = session_.Input();
  while (!input.Full()) {
    std::size_t raw = 0;
    DWORD error = FillOnce(raw, input.Room());
    if (error != ERROR_SUCCESS) return error;
    if (raw == 0) break;
  }
  errors = session_.TakeErrors();
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
