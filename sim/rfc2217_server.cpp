// Linux only: sockets and poll.
#include "sim/rfc2217_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "platform/clock.h"
#include "platform/comm_port.h"

namespace kv70sim {

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

// Telnet: IAC, the option verbs, sub-negotiation brackets.
constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                       kSe = 240;
constexpr std::uint8_t kOptBinary = 0, kOptSga = 3, kOptComPort = 44;

// COM-PORT-OPTION commands as the client sends them; the answers add 100.
enum : std::uint8_t {
  kCpoSignature = 0,
  kCpoBaudRate = 1,
  kCpoDataSize = 2,
  kCpoParity = 3,
  kCpoStopSize = 4,
  kCpoControl = 5,
  kCpoNotifyLineState = 6,
  kCpoLineStateMask = 10,
  kCpoModemStateMask = 11,
  kCpoPurge = 12,
  kCpoAnswer = 100,
};
// SET-CONTROL values the device cares about, and the queries.
constexpr std::uint8_t kCtlQueryFlow = 0, kCtlBreakQuery = 4, kCtlBreakOn = 5, kCtlBreakOff = 6,
                       kCtlDtrQuery = 7, kCtlRtsQuery = 10, kCtlInboundQuery = 13;
// Line-state bits.
constexpr std::uint8_t kLsOverrun = 0x02, kLsParity = 0x04, kLsFraming = 0x08, kLsBreak = 0x10;

// The longest sub-negotiation kept; longer ones are dropped whole.
constexpr std::size_t kMaxSub = 32;
constexpr int kIdlePollMs = 50;  // upper bound on a wait, so that a stop is seen soon
// Data for the client is packed as a device server packs it (its "force transmit"
// time): while the device's bytes keep coming (the next one due within kBurstGapNs),
// they wait up to kPackNs of device time and go in one segment; the end of a burst goes
// at once, so a reply's last byte is never late. One segment per millisecond would wake
// the client that often for nothing. A client's wire trace shows a long reply as one
// line per segment (its bursts end at a 20 ms gap).
constexpr std::uint64_t kBurstGapNs = 2'000'000;
constexpr std::uint64_t kPackNs = 40'000'000;
constexpr char kSignature[] = "kv70sim";

// One client's session: its telnet state, line settings and what it asked to hear.
class Session {
 public:
  Session(int fd, Device& device, const std::function<void(std::uint64_t)>& onPcBreak)
      : fd_(fd), device_(device), onPcBreak_(onPcBreak) {}

  // Decodes bytes from the client at device time `ns`.
  void OnBytes(const std::uint8_t* in, std::size_t n, std::uint64_t ns) {
    data_.clear();
    for (std::size_t i = 0; i < n; ++i) Step(in[i], ns);
    Flush(ns);
  }
  // Sends what the device has for the PC, and its breaks and line errors, at device
  // time `ns`.
  void Pump(std::uint64_t ns) {
    for (;;) {
      std::uint32_t errors = device_.PcTakeErrors();
      if (errors == 0) break;
      std::uint8_t state = 0;
      if (errors & CE_BREAK) state |= kLsBreak;
      if (errors & CE_FRAME) state |= kLsFraming;
      if (errors & CE_RXPARITY) state |= kLsParity;
      if (errors & CE_OVERRUN) state |= kLsOverrun;
      state &= lineMask_;
      if (state) Answer(kCpoNotifyLineState + kCpoAnswer, {state});
    }
    std::uint8_t buffer[2048];
    if (device_.PcAvailable() && !holding_) {
      holding_ = true;
      heldSinceNs_ = ns;
    }
    while (device_.PcAvailable()) {
      std::size_t n = device_.PcTake(buffer, sizeof buffer);
      for (std::size_t i = 0; i < n; ++i) {
        out_.push_back(buffer[i]);
        if (buffer[i] == kIac) out_.push_back(kIac);
      }
    }
  }
  // Whether what is queued goes now: telnet answers and notifications always, data at
  // the end of a burst or when it has waited the packing time.
  bool Due(std::uint64_t ns) const {
    if (out_.empty()) return false;
    if (urgent_ || !holding_) return true;
    std::uint64_t next = 0;
    if (!device_.NextArrival(next) || next > ns + kBurstGapNs) return true;
    return ns >= heldSinceNs_ + kPackNs;
  }
  // Writes what is queued for the client; false when the client is gone.
  bool Drain() {
    urgent_ = false;
    holding_ = false;
    while (!out_.empty()) {
      ssize_t n = ::send(fd_, out_.data(), out_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        out_.erase(out_.begin(), out_.begin() + n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, kIdlePollMs);
        continue;
      }
      return false;
    }
    return true;
  }

 private:
  enum class State { Data, Iac, Verb, Sub, SubIac, SubSkip, SubSkipIac };

  void Step(std::uint8_t b, std::uint64_t ns) {
    switch (state_) {
      case State::Data:
        if (b == kIac)
          state_ = State::Iac;
        else
          data_.push_back(b);
        break;
      case State::Iac:
        if (b == kIac) {
          data_.push_back(kIac);
          state_ = State::Data;
        } else if (b >= kWill && b <= kDont) {
          verb_ = b;
          state_ = State::Verb;
        } else if (b == kSb) {
          sub_.clear();
          state_ = State::Sub;
        } else {
          state_ = State::Data;
        }
        break;
      case State::Verb:
        OnOption(verb_, b);
        state_ = State::Data;
        break;
      case State::Sub:
        if (b == kIac) {
          state_ = State::SubIac;
        } else if (sub_.size() < kMaxSub) {
          sub_.push_back(b);
        } else {
          state_ = State::SubSkip;
        }
        break;
      case State::SubIac:
        if (b == kIac && sub_.size() < kMaxSub) {
          sub_.push_back(kIac);
          state_ = State::Sub;
        } else if (b == kSe) {
          // Data before the command reaches the device before the command acts.
          Flush(ns);
          OnSub(ns);
          state_ = State::Data;
        } else {
          state_ = b == kIac ? State::SubSkip : State::Data;
        }
        break;
      case State::SubSkip:
        if (b == kIac) state_ = State::SubSkipIac;
        break;
      case State::SubSkipIac:
        state_ = b == kSe ? State::Data : State::SubSkip;
        break;
    }
  }

  void Flush(std::uint64_t ns) {
    if (data_.empty()) return;
    device_.PcWrite(data_.data(), data_.size(), ns);
    device_.PcRead();  // the server reads continuously: every burst is its own exchange
    data_.clear();
  }

  void Send(std::initializer_list<std::uint8_t> bytes) {
    out_.insert(out_.end(), bytes);
    urgent_ = true;
  }

  void Answer(std::uint8_t command, const std::vector<std::uint8_t>& value) {
    Send({kIac, kSb, kOptComPort});
    out_.push_back(command);  // every answer code is below IAC
    for (std::uint8_t b : value) {
      out_.push_back(b);
      if (b == kIac) out_.push_back(kIac);
    }
    Send({kIac, kSe});
  }

  // Agrees to binary, suppress-go-ahead and the COM-PORT-OPTION; refuses the rest. Only
  // a change of state is answered, so two ends never loop on each other.
  void OnOption(std::uint8_t verb, std::uint8_t option) {
    const bool wanted = option == kOptBinary || option == kOptSga || option == kOptComPort;
    if (verb == kWill || verb == kWont) {
      const bool on = verb == kWill && wanted;
      if (heDoes_[option] != on || !answeredHim_[option]) {
        heDoes_[option] = on;
        answeredHim_[option] = true;
        Send({kIac, on ? kDo : kDont, option});
      }
    } else {
      const bool on = verb == kDo && wanted && option != kOptComPort;
      if (iDo_[option] != on || !answeredMe_[option]) {
        iDo_[option] = on;
        answeredMe_[option] = true;
        Send({kIac, on ? kWill : kWont, option});
      }
    }
  }

  void OnSub(std::uint64_t ns) {
    if (sub_.size() < 2 || sub_[0] != kOptComPort) return;
    const std::uint8_t command = sub_[1];
    std::vector<std::uint8_t> value(sub_.begin() + 2, sub_.end());
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < value.size() && i < 4; ++i) v = (v << 8) | value[i];
    auto one = [&](std::uint8_t x) { return std::vector<std::uint8_t>{x}; };
    switch (command) {
      case kCpoSignature:
        Answer(kCpoSignature + kCpoAnswer,
               std::vector<std::uint8_t>(kSignature, kSignature + sizeof kSignature - 1));
        break;
      case kCpoBaudRate:
        if (value.size() == 4 && v != 0) {
          baud_ = v;
          FollowLine(ns);
        }
        Answer(kCpoBaudRate + kCpoAnswer,
               {static_cast<std::uint8_t>(baud_ >> 24), static_cast<std::uint8_t>(baud_ >> 16),
                static_cast<std::uint8_t>(baud_ >> 8), static_cast<std::uint8_t>(baud_)});
        break;
      case kCpoDataSize:
        if (v >= 5 && v <= 8) dataSize_ = static_cast<std::uint8_t>(v);
        FollowLine(ns);
        Answer(kCpoDataSize + kCpoAnswer, one(dataSize_));
        break;
      case kCpoParity:
        if (v >= 1 && v <= 5) parity_ = static_cast<std::uint8_t>(v);
        FollowLine(ns);
        Answer(kCpoParity + kCpoAnswer, one(parity_));
        break;
      case kCpoStopSize:
        if (v >= 1 && v <= 3) stopSize_ = static_cast<std::uint8_t>(v);
        FollowLine(ns);
        Answer(kCpoStopSize + kCpoAnswer, one(stopSize_));
        break;
      case kCpoControl:
        OnControl(static_cast<std::uint8_t>(v), ns);
        break;
      case kCpoLineStateMask:
        lineMask_ = static_cast<std::uint8_t>(v);
        Answer(kCpoLineStateMask + kCpoAnswer, one(lineMask_));
        break;
      case kCpoModemStateMask:
        Answer(kCpoModemStateMask + kCpoAnswer, one(static_cast<std::uint8_t>(v)));
        break;
      case kCpoPurge:
        // Only what reached the server and was not sent on can be purged; bytes on the
        // wire keep coming, as on a real line.
        if (v == 1 || v == 3) device_.PcPurgeReceived();
        Answer(kCpoPurge + kCpoAnswer, one(static_cast<std::uint8_t>(v)));
        break;
      default:
        break;  // notifications and flow-control requests from a client: nothing to do
    }
  }

  void OnControl(std::uint8_t value, std::uint64_t ns) {
    std::uint8_t answer = value;
    switch (value) {
      case kCtlQueryFlow:
        answer = 1;  // no flow control
        break;
      case kCtlBreakQuery:
        answer = breakOn_ ? kCtlBreakOn : kCtlBreakOff;
        break;
      case kCtlBreakOn:
      case kCtlBreakOff:
        if ((value == kCtlBreakOn) != breakOn_) {
          breakOn_ = value == kCtlBreakOn;
          device_.PcSetBreak(breakOn_, ns);
          if (breakOn_)
            breakStartNs_ = ns;
          else if (onPcBreak_)
            onPcBreak_((ns - breakStartNs_) / 1000000);
        }
        break;
      case kCtlDtrQuery:
        answer = dtr_;
        break;
      case 8:
      case 9:
        dtr_ = value;
        break;
      case kCtlRtsQuery:
        answer = rts_;
        break;
      case 11:
      case 12:
        rts_ = value;
        break;
      case kCtlInboundQuery:
        answer = 14;
        break;
      default:
        break;  // flow-control choices: the simulated line has none and needs none
    }
    Answer(kCpoControl + kCpoAnswer, {answer});
  }

  void FollowLine(std::uint64_t ns) {
    // RFC 2217 parity 1 is none, stop size 1 is one stop bit.
    device_.PcSetLine(baud_, dataSize_ == 8 && parity_ == 1 && stopSize_ == 1, ns);
  }

  int fd_;
  Device& device_;
  const std::function<void(std::uint64_t)>& onPcBreak_;
  std::uint64_t breakStartNs_ = 0;
  State state_ = State::Data;
  std::uint8_t verb_ = 0;
  std::vector<std::uint8_t> sub_;
  std::vector<std::uint8_t> data_;
  std::vector<std::uint8_t> out_;
  bool urgent_ = false;   // out_ holds more than data
  bool holding_ = false;  // out_ holds data, the oldest taken at heldSinceNs_
  std::uint64_t heldSinceNs_ = 0;
  bool heDoes_[256] = {};
  bool iDo_[256] = {};
  bool answeredHim_[256] = {};
  bool answeredMe_[256] = {};

  std::uint32_t baud_ = 9600;
  std::uint8_t dataSize_ = 8;
  std::uint8_t parity_ = 1;
  std::uint8_t stopSize_ = 1;
  std::uint8_t lineMask_ = 0;
  bool breakOn_ = false;
  std::uint8_t dtr_ = 8;
  std::uint8_t rts_ = 11;
};

}  // namespace

Rfc2217Server::Rfc2217Server(const std::string& address) {
  std::string host = "127.0.0.1";
  std::string port = address;
  if (auto colon = address.rfind(':'); colon != std::string::npos) {
    host = address.substr(0, colon);
    port = address.substr(colon + 1);
  }
  if (port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos || std::stoul(port) > 65535) {
    throw std::invalid_argument("not a port: '" + address + "' (expected [HOST:]PORT)");
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(std::stoul(port)));
  if (host == "localhost") host = "127.0.0.1";
  if (inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1) {
    throw std::invalid_argument("not an IPv4 address: '" + host + "'");
  }
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_ < 0) ThrowErrno("socket");
  int one = 1;
  ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ThrowErrno("bind");
  if (::listen(listen_, 4) != 0) ThrowErrno("listen");
  socklen_t length = sizeof a;
  ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &length);
  address_ = host + ":" + std::to_string(ntohs(a.sin_port));
}

Rfc2217Server::~Rfc2217Server() {
  if (listen_ >= 0) ::close(listen_);
}

void Rfc2217Server::Serve(Device& device, const std::atomic<bool>& stop, unsigned speedup,
                          const std::function<void(std::uint64_t ms)>& onPcBreak) {
  if (speedup == 0) speedup = 1;
  platform::SystemClock clock;
  const std::uint64_t wallOrigin = clock.NowUs();
  std::uint64_t deviceOrigin;
  {
    std::lock_guard lock(device.Mutex());
    deviceOrigin = device.NowNs();
  }
  auto deviceNow = [&] { return deviceOrigin + (clock.NowUs() - wallOrigin) * 1000 * speedup; };

  while (!stop.load()) {
    pollfd p{listen_, POLLIN, 0};
    int r = ::poll(&p, 1, kIdlePollMs);
    if (r < 0 && errno != EINTR) ThrowErrno("poll");
    {
      // The device lives on between clients, as it would with its cable unplugged.
      std::lock_guard lock(device.Mutex());
      device.AdvanceTo(deviceNow());
    }
    if (r <= 0) continue;
    int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Session session(fd, device, onPcBreak);
    {
      // A new client is a technician starting an operation: the device restarts, so
      // that its boot ROM's breaks reach the loader that now listens.
      std::lock_guard lock(device.Mutex());
      const std::uint64_t now = deviceNow();
      device.PcSetLine(9600, true, now);
      device.PcOpened();
      device.Restart(now);
    }
    std::uint8_t buffer[4096];
    bool connected = true;
    while (connected && !stop.load()) {
      std::uint64_t now = deviceNow();
      std::uint64_t next;
      bool due;
      {
        std::lock_guard lock(device.Mutex());
        device.AdvanceTo(now);
        session.Pump(now);
        next = device.NextEventNs();
        due = session.Due(now);
      }
      if (due && !session.Drain()) break;
      int waitMs = kIdlePollMs;
      if (next != UINT64_MAX) {
        const std::uint64_t wallNs = next > now ? (next - now) / speedup : 0;
        waitMs =
            static_cast<int>(std::min<std::uint64_t>((wallNs + 999999) / 1000000, kIdlePollMs));
      }
      pollfd c{fd, POLLIN, 0};
      int ready = ::poll(&c, 1, waitMs);
      if (ready < 0) {
        if (errno == EINTR) continue;
        ThrowErrno("poll");
      }
      if (ready == 0) continue;
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) {
        std::lock_guard lock(device.Mutex());
        session.OnBytes(buffer, static_cast<std::size_t>(n), deviceNow());
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        connected = false;
      }
    }
    {
      // A client that leaves mid-break must not leave the line held in break.
      std::lock_guard lock(device.Mutex());
      device.PcSetBreak(false, deviceNow());
    }
    ::close(fd);
  }
}

}  // namespace kv70sim
