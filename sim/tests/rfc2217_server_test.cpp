// The device served over RFC 2217, driven by a bare telnet client written here from the
// protocol's wire layout. The waits are waits for I/O with a bounded limit (a test that
// fails ends on the limit); nothing is measured.
#include "sim/rfc2217_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/clock.h"
#include "sim/tests/line.h"

namespace kv70sim {
namespace {

using namespace testing;

// Telnet and COM-PORT-OPTION codes as the protocol spells them on the wire.
constexpr std::uint8_t kIac = 255, kWill = 251, kDo = 253, kSb = 250, kSe = 240;
constexpr std::uint8_t kBinary = 0, kComPort = 44;
constexpr std::uint8_t kSetBaud = 1, kSetControl = 5, kLineMask = 10, kPurge = 12;
constexpr std::uint8_t kNotifyLine = 106, kAnswer = 100;
constexpr std::uint8_t kBreakOn = 5, kBreakOff = 6, kBreakDetect = 0x10;

// The client's end: sends raw telnet, splits what comes back into line data and the
// server's COM-PORT-OPTION messages.
class Client {
 public:
  struct Message {
    std::uint8_t command;
    Bytes value;
  };

  explicit Client(const std::string& address) {
    const auto colon = address.rfind(':');
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(std::stoul(address.substr(colon + 1))));
    inet_pton(AF_INET, address.substr(0, colon).c_str(), &a.sin_addr);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }
  ~Client() { ::close(fd_); }

  void Send(const Bytes& wire) {
    EXPECT_EQ(::send(fd_, wire.data(), wire.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(wire.size()));
  }
  static Bytes Hello() { return {kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPort}; }
  static Bytes Command(std::uint8_t command, const Bytes& value) {
    Bytes wire = {kIac, kSb, kComPort, command};
    for (std::uint8_t b : value) {
      wire.push_back(b);
      if (b == kIac) wire.push_back(kIac);
    }
    wire.insert(wire.end(), {kIac, kSe});
    return wire;
  }
  static Bytes Data(const Bytes& data) {
    Bytes wire;
    for (std::uint8_t b : data) {
      wire.push_back(b);
      if (b == kIac) wire.push_back(kIac);
    }
    return wire;
  }

  // Takes in what the server sends until `done` holds; false when 10 s passed first.
  bool WaitFor(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > limit) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      std::uint8_t buffer[4096];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      for (ssize_t i = 0; i < n; ++i) Step(buffer[i]);
    }
    return true;
  }
  bool HasMessage(std::uint8_t command, const Bytes& value) const {
    return std::any_of(messages.begin(), messages.end(),
                       [&](const Message& m) { return m.command == command && m.value == value; });
  }

  Bytes data;
  std::vector<Message> messages;

 private:
  // A telnet stream at its simplest: option verbs are skipped, sub-negotiations kept.
  void Step(std::uint8_t b) {
    switch (state_) {
      case 0:  // data
        if (b == kIac)
          state_ = 1;
        else
          data.push_back(b);
        break;
      case 1:  // after IAC
        if (b == kIac) {
          data.push_back(b);
          state_ = 0;
        } else if (b == kSb) {
          sub_.clear();
          state_ = 3;
        } else {
          state_ = b >= kWill ? 2 : 0;
        }
        break;
      case 2:  // the option of a verb
        state_ = 0;
        break;
      case 3:  // inside a sub-negotiation
        if (b == kIac)
          state_ = 4;
        else
          sub_.push_back(b);
        break;
      case 4:  // IAC inside a sub-negotiation
        if (b == kIac) {
          sub_.push_back(b);
          state_ = 3;
        } else {
          if (b == kSe && sub_.size() >= 2 && sub_[0] == kComPort) {
            messages.push_back({sub_[1], Bytes(sub_.begin() + 2, sub_.end())});
          }
          state_ = 0;
        }
        break;
    }
  }

  int fd_ = -1;
  int state_ = 0;
  Bytes sub_;
};

// A device served on a free loopback port from a thread of its own.
class Served {
 public:
  Served(const std::string& settings, unsigned speedup)
      : device(Settings::Parse(settings), platform::SystemClock().NowUs() * 1000),
        server_("127.0.0.1:0"),
        thread_([this, speedup] {
          server_.Serve(device, stop_, speedup, [this](std::uint64_t) { ++pcBreaks; });
        }) {}
  ~Served() {
    stop_ = true;
    thread_.join();
  }
  const std::string& Address() const { return server_.Address(); }
  Counters GetCounters() {
    std::lock_guard lock(device.Mutex());
    return device.GetCounters();
  }
  bool Logged(EventKind kind) {
    std::lock_guard lock(device.Mutex());
    const auto& events = device.Events();
    return std::any_of(events.begin(), events.end(),
                       [kind](const Event& e) { return e.kind == kind; });
  }

  Device device;
  std::atomic<int> pcBreaks{0};

 private:
  Rfc2217Server server_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The server confirms a speed; `client` waits for that.
void SetSpeed(Client& client, std::uint32_t baud) {
  const Bytes value = Be32(baud);
  const std::size_t before = client.messages.size();
  client.Send(Client::Command(kSetBaud, value));
  ASSERT_TRUE(client.WaitFor([&] {
    return client.messages.size() > before && client.HasMessage(kSetBaud + kAnswer, value);
  })) << baud;
}

TEST(Rfc2217Server, BytesAtAnotherSpeedThanTheDevicesAreGarbled) {
  Served served("state=rom", 1);  // the ROM monitor answers probes at 9600 bit/s
  Client client(served.Address());
  client.Send(Client::Hello());
  SetSpeed(client, 9600);
  client.Send(Client::Data(kProbe));
  ASSERT_TRUE(client.WaitFor([&] { return !client.data.empty(); }));
  EXPECT_EQ(client.data, kAck);

  SetSpeed(client, 38400);
  const Counters before = served.GetCounters();
  client.Send(Client::Data(kProbe));
  // Every byte of the probe reaches the device garbled, and it goes unanswered.
  Counters now;
  ASSERT_TRUE(client.WaitFor([&] {
    now = served.GetCounters();
    return now.bytesGarbled >= before.bytesGarbled + kProbe.size();
  }));
  EXPECT_EQ(now.probesAnswered, before.probesAnswered);
}

TEST(Rfc2217Server, ClientsBreakReachesTheDevice) {
  Served served("state=rom", 1);
  Client client(served.Address());
  client.Send(Client::Hello());
  client.Send(Client::Command(kSetControl, {kBreakOn}));
  ASSERT_TRUE(client.WaitFor([&] { return client.HasMessage(kSetControl + kAnswer, {kBreakOn}); }));
  EXPECT_EQ(served.pcBreaks.load(), 0);
  client.Send(Client::Command(kSetControl, {kBreakOff}));
  ASSERT_TRUE(client.WaitFor([&] { return served.pcBreaks.load() == 1; }));
  EXPECT_TRUE(served.Logged(EventKind::PcBreak));
}

TEST(Rfc2217Server, DevicesBreakReachesTheClientAsBreakDetect) {
  // The boot ROM signals again and again, so that a break comes after the client asked
  // to hear of breaks whenever the server took the request in; ten times real speed.
  Served served("state=boot,boot-ms=500,breaks=50,break-interval-ms=100", 10);
  Client client(served.Address());
  Bytes hello = Client::Hello();
  const Bytes mask = Client::Command(kLineMask, {kBreakDetect});
  hello.insert(hello.end(), mask.begin(), mask.end());
  client.Send(hello);
  ASSERT_TRUE(client.WaitFor([&] {
    return std::any_of(client.messages.begin(), client.messages.end(), [](const auto& m) {
      return m.command == kNotifyLine && m.value.size() == 1 && (m.value[0] & kBreakDetect);
    });
  }));
  EXPECT_TRUE(served.Logged(EventKind::BreakSent));
}

TEST(Rfc2217Server, PurgesAreAnswered) {
  Served served("state=rom", 1);
  Client client(served.Address());
  client.Send(Client::Hello());
  for (std::uint8_t which : {1, 2, 3}) {  // receive buffer, transmit buffer, both
    client.Send(Client::Command(kPurge, {which}));
    ASSERT_TRUE(client.WaitFor([&] { return client.HasMessage(kPurge + kAnswer, {which}); }))
        << int(which);
  }
}

}  // namespace
}  // namespace kv70sim
