// The network port against a scripted server on the loopback address. The server's
// waits are waits for I/O; the client's time-outs are shortened where a test needs one
// to pass.
#include "platform/comm_rfc2217.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/telnet_reader.h"

namespace platform {
namespace {

using Bytes = std::vector<BYTE>;

// Distinct data bytes, FF among them.
Bytes Pattern(std::size_t n) {
  Bytes data(n);
  for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<BYTE>(i * 7 + i / 251);
  return data;
}

// Stands for the option agreement in Script::floodBefore.
constexpr int kAgreement = 1000;

// How the scripted server behaves.
struct Script {
  bool comPort = true;  // answers WILL COM-PORT-OPTION with DO (else DONT)
  bool silent = false;  // answers nothing at all
  bool answerSettings = true;
  std::uint32_t answerBaud = 0;  // answer SET-BAUDRATE with this instead (0: the value asked)
  bool quirky = false;           // no answer to DTR/RTS, BREAK OFF answered with BREAK ON
  Bytes beforePurgeAnswer;       // data sent between a purge request and its answer
  // A runaway server: `flood` data bytes (Pattern) sent once, before its answer to the
  // command `floodBefore` (a COM-PORT-OPTION code, or kAgreement for the option's DO).
  std::size_t flood = 0;
  int floodBefore = -1;
};

class FakeServer {
 public:
  explicit FakeServer(Script script) : script_(std::move(script)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(listen_, 1), 0);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~FakeServer() {
    stop_ = true;
    thread_.join();
    if (conn_ >= 0) ::close(conn_);
    ::close(listen_);
  }
  std::string Name() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
  void Send(const Bytes& bytes) {
    std::lock_guard lock(sendMutex_);
    ASSERT_EQ(::send(conn_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  void SendComPort(BYTE command, Bytes value) {
    Send(EncodeComPort(command, value.data(), value.size()));
  }
  void Hangup() {
    std::lock_guard lock(mutex_);
    hangup_ = true;
  }
  // Waits until `n` data bytes arrived (or a generous limit: the test then fails on them).
  Bytes DataAtLeast(std::size_t n) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return data_.size() >= n; });
    return data_;
  }
  std::vector<ComPortMessage> Commands() {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  std::vector<ComPortMessage> CommandsAtLeast(std::size_t n) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return commands_.size() >= n; });
    return commands_;
  }

 private:
  void Run() {
    while (!stop_) {
      {
        std::lock_guard lock(mutex_);
        if (hangup_ && conn_ >= 0) {
          ::shutdown(conn_, SHUT_RDWR);
          return;
        }
      }
      pollfd p{conn_ >= 0 ? conn_ : listen_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      if (conn_ < 0) {
        conn_ = ::accept(listen_, nullptr, nullptr);
        continue;
      }
      BYTE buffer[4096];
      ssize_t n = ::recv(conn_, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      Bytes data;
      std::vector<TelnetEvent> events;
      reader_.Feed(buffer, static_cast<std::size_t>(n), data, events);
      std::lock_guard lock(mutex_);
      data_.insert(data_.end(), data.begin(), data.end());
      for (const auto& e : events) OnEvent(e);
      changed_.notify_all();
    }
  }
  void FloodBefore(int what) {
    if (script_.flood == 0 || script_.floodBefore != what) return;
    const Bytes data = Pattern(script_.flood);
    Bytes wire;
    EscapeTelnetData(data.data(), data.size(), wire);
    Send(wire);
    script_.flood = 0;
  }
  void OnEvent(const TelnetEvent& e) {
    if (script_.silent) return;
    if (e.kind == TelnetEvent::Kind::kOption && e.verb == telnet::kWill &&
        e.option == telnet::kOptComPort) {
      FloodBefore(kAgreement);
      Send({telnet::kIac, script_.comPort ? telnet::kDo : telnet::kDont, telnet::kOptComPort});
      return;
    }
    ComPortMessage m;
    if (e.kind != TelnetEvent::Kind::kSubnegotiation || !DecodeComPort(e.payload, m)) return;
    commands_.push_back(m);
    FloodBefore(m.command);
    Bytes value(e.payload.begin() + 1, e.payload.end());
    const BYTE answer = m.command + comport::kServerOffset;
    switch (m.command) {
      case comport::kSetBaudRate:
        if (script_.answerBaud) {
          value = {0, 0, 0, 0};
          for (int i = 0; i < 4; ++i)
            value[i] = static_cast<BYTE>(script_.answerBaud >> (24 - 8 * i));
        }
        [[fallthrough]];
      case comport::kSetDataSize:
      case comport::kSetParity:
      case comport::kSetStopSize:
        if (script_.answerSettings) SendComPort(answer, value);
        break;
      case comport::kSetControl:
        if (!script_.quirky) {
          SendComPort(answer, value);
        } else if (m.value == comport::kControlBreakOn || m.value == comport::kControlBreakOff) {
          SendComPort(answer, {comport::kControlBreakOn});
        }
        break;
      case comport::kPurgeData:
        if (!script_.beforePurgeAnswer.empty()) Send(script_.beforePurgeAnswer);
        SendComPort(answer, value);
        break;
      default:
        SendComPort(answer, value);
        break;
    }
  }

  Script script_;
  int listen_ = -1;
  int conn_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  TelnetReader reader_;
  std::mutex sendMutex_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool hangup_ = false;
  Bytes data_;
  std::vector<ComPortMessage> commands_;
};

class Rfc2217Test : public ::testing::Test {
 protected:
  void SetUp() override { previousTimeout_ = SetRfc2217AnswerTimeoutMs(300); }
  void TearDown() override { SetRfc2217AnswerTimeoutMs(previousTimeout_); }

  static void SetReadTimeouts(CommPort& port, DWORD constantMs) {
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = constantMs;
    t.WriteTotalTimeoutMultiplier = 2;
    t.WriteTotalTimeoutConstant = 500;
    ASSERT_EQ(port.SetTimeouts(t), ERROR_SUCCESS);
  }
  static void SetTimeouts(CommPort& port, DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = interval;
    t.ReadTotalTimeoutMultiplier = multiplier;
    t.ReadTotalTimeoutConstant = constant;
    ASSERT_EQ(port.SetTimeouts(t), ERROR_SUCCESS);
  }
  struct Outcome {
    bool ended = false;
    DWORD error = ERROR_SUCCESS;
    Bytes bytes;
  };
  // One Read on a thread of its own. A read still waiting after 10 s is ended by hanging
  // up the server and reported as not ended: the guard against a hang, not a measure.
  static Outcome GuardedRead(CommPort& port, FakeServer& server, DWORD count) {
    Outcome out;
    out.bytes.resize(count);
    DWORD read = 0;
    auto done =
        std::async(std::launch::async, [&] { return port.Read(out.bytes.data(), count, read); });
    out.ended = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!out.ended) server.Hangup();
    out.error = done.get();
    out.bytes.resize(read);
    return out;
  }
  static DWORD Errors(CommPort& port) {
    DWORD errors = 0;
    EXPECT_EQ(port.ClearError(errors), ERROR_SUCCESS);
    return errors;
  }
  static Bytes ReadAll(CommPort& port, std::size_t n) {
    Bytes got(n);
    std::size_t have = 0;
    while (have < n) {
      DWORD read = 0;
      EXPECT_EQ(port.Read(got.data() + have, static_cast<DWORD>(n - have), read), ERROR_SUCCESS);
      if (read == 0) break;
      have += read;
    }
    got.resize(have);
    return got;
  }

  std::uint32_t previousTimeout_ = 0;
};

std::string Commands(const std::vector<ComPortMessage>& list) {
  std::string s;
  for (const auto& m : list) s += std::to_string(m.command) + "=" + std::to_string(m.value) + " ";
  return s;
}

TEST_F(Rfc2217Test, OpenAgreesTheOptionAndSendsLineSettings) {
  FakeServer server({});
  std::unique_ptr<CommPort> port;
  ASSERT_EQ(OpenCommPort(server.Name(), port), ERROR_SUCCESS);
  // Line-state mask with break detect, no modem-state reports, 9600 8N1, no flow control,
  // DTR and RTS off. DTR and RTS are sent without waiting for an answer, so the last of
  // them may reach the server after the open has returned.
  EXPECT_EQ(Commands(server.CommandsAtLeast(10)),
            "10=30 11=0 1=9600 2=8 3=1 4=1 5=1 5=14 5=9 5=12 ");

  DCB dcb;
  ASSERT_EQ(port->GetState(dcb), ERROR_SUCCESS);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  dcb.BaudRate = 38400;
  ASSERT_EQ(port->SetState(dcb), ERROR_SUCCESS);
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  ASSERT_EQ(port->SetState(dcb), ERROR_SUCCESS);
  // Only what changed goes out.
  auto after = server.CommandsAtLeast(12);
  after.erase(after.begin(), after.begin() + 10);
  EXPECT_EQ(Commands(after), "1=38400 5=8 ");
}

TEST_F(Rfc2217Test, DataCrossesWithFFEscapedBothWays) {
  FakeServer server({});
  std::unique_ptr<CommPort> port;
  ASSERT_EQ(OpenCommPort(server.Name(), port), ERROR_SUCCESS);
  SetReadTimeouts(*port, 2000);
  const Bytes out = {0x02, 0xFF, 0x00, 0xFF, 0xFF, 0x03};
  DWORD written = 0;
  ASSERT_EQ(port->Write(out.data(), static_cast<DWORD>(out.size()), written), ERROR_SUCCESS);
  EXPECT_EQ(written, out.size());
  EXPECT_EQ(server.DataAtLeast(out.size()), out);

  server.Send({0x06, 0xFF, 0xFF, 0x15, 0xFF, 0xF1, 0xFF, 0xFF});
  EXPECT_EQ(ReadAll(*port, 4), Bytes({0x06, 0xFF, 0x15, 0xFF}));
}

// The loaders read a byte at a time; the port takes what the socket holds in one receive
// and waits with one poll for the next burst. A burst larger than one receive, ending
// inside an FF pair, and the rest of the pair coming after the socket was found empty:
// every byte arrives, in order.
TEST_F(Rfc2217Test, BurstsArriveWholeWhateverTheirSize) {
  FakeServer server({});
  std::unique_ptr<CommPort> port;
  ASSERT_EQ(OpenCommPort(server.Name(), port), ERROR_SUCCESS);
  // The fake server answers from its own thread: let it answer the open's last commands
  // first, or an answer could land inside the escape pair the bursts below split.
  server.CommandsAtLeast(10);
  SetReadTimeouts(*port, 2000);
  Bytes data(10000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 7 + i / 251);
  const std::size_t split = 5000;
  data[split] = 0xFF;
  Bytes wire;
  EscapeTelnetData(data.data(), data.size(), wire);
  const auto cut = static_cast<std::ptrdiff_t>(
      split + static_cast<std::size_t>(std::count(data.begin(), data.begin() + split, 0xFF)) + 1);

  Bytes got;
  auto readBytes = [&](std::size_t until) {
    while (got.size() < until) {
      BYTE b = 0;
      DWORD read = 0;
      ASSERT_EQ(port->Read(&b, 1, read), ERROR_SUCCESS);
      ASSERT_EQ(read, 1u) << "after " << got.size() << " bytes";
      got.push_back(b);
    }
  };
  server.Send(Bytes(wire.begin(), wire.begin() + cut));
  readBytes(split);
  server.Send(Bytes(wire.begin() + cut, wire.end()));
  readBytes(data.size());
  EXPECT_EQ(got, data);
}

TEST_F(Rfc2217Test, LineStateNotificationsAreLineErrors) {
  FakeServer server({});
  std::unique_ptr<CommPort> port;
  ASSERT_EQ(OpenCommPort(server.Name(), port), ERROR_SUCCESS);
  SetReadTimeouts(*port, 2000);
  struct Row {
    BYTE lineState;
    DWORD errors;
  };
  const Row rows[] = {
      {comport::kLineBreak, CE_BREAK},
      {comport::kLineBreak | comport::kLineFraming, CE_BREAK | CE_FRAME},
      {comport::kLineParity | comport::kLineOverrun, CE_RXPARITY | CE_OVERRUN},
      {0x60, 0},  // shift registers empty: not an error
  };
  for (const auto& row : rows) {
    // A data byte after the notification tells the test when both have arrived.
    server.SendComPort(comport::kNotifyLineState + comport::kServerOffset, {row.lineState});
    server.Send({0x55});
    EXPECT_EQ(ReadAll(*port, 1), Bytes({0x55}));
    DWORD errors = 0;
    ASSERT_EQ(port->ClearError(errors), ERROR_SUCCESS);
    EXPECT_EQ(errors, row.errors) << int(row.lineState);
    ASSERT_EQ(port->ClearError(errors), ERROR_SUCCESS);
    EXPECT_EQ(errors, 0u) << "reported once";
  }
}

TEST_F(Rfc2217Test, QuirkyControlAnswersNeitherHangNorConfuse) {
  Script script;
  script.quirky = true;
  FakeServer server(script);
  std::unique_ptr<CommPort> port;
  ASSERT_EQ(OpenCommPort(server.Name(), port), ERROR_SUCCESS);
  EXPECT_EQ(port->SetBreak(), ERROR_SUCCESS);
  EXPECT_EQ(port->ClearBreak(), ERROR_SUCCESS);
  DCB dcb;
  port->GetState(dcb);
  dcb.BaudRate = 38400;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  // The stray SET-CONTROL answers in the stream must not be taken for the speed's.
  ASSERT_EQ(port->SetState(dcb), ERROR_SUCCESS);
  auto commands = server.CommandsAtLeast(14);
  commands.erase(commands.begin(), commands.begin() + 10);
  EXPECT_EQ(Commands(commands), "5=5 5=6 1=38400 5=8 ");
}

TEST_F(Rfc2217Test, PurgeDropsWhatWasOnItsWayBeforeTheAnswer) {
  Script script;
  script.beforePurgeAnswer = {0xEE, 0xEE, 0xEE};
  FakeServer server(script);
  std::unique_ptr<CommPort> port;
  ASSERT_EQ(OpenCommPort(server.Name(), port), ERROR_SUCCESS);
  SetReadTimeouts(*port, 2000);
  server.Send({0x11, 0x22});
  EXPECT_EQ(ReadAll(*port, 1), Bytes({0x11}));  // 0x22 is left waiting
  ASSERT_EQ(port->Purge(PURGE_RXABORT | PURGE_RXCLEAR), ERROR_SUCCESS);
  server.Send({0x33});
  EXPECT_EQ(ReadAll(*port, 1), Bytes({0x33}));
  // A purge of neither direction sends nothing.
  const auto before = server.Commands().size();
  ASSERT_EQ(port->Purge(0), ERROR_SUCCESS);
  ASSERT_EQ(port->Purge(PURGE_TXCLEAR), ERROR_SUCCESS);
  auto commands = server.CommandsAtLeast(before + 1);
  EXPECT_EQ(commands.size(), before + 1);
  EXPECT_EQ(commands.back().command, comport::kPurgeData);
  EXPECT_EQ(commands.back().value, comport::kPurgeTransmit);
}

TEST_F(Rfc2217Test, SettingsThatTheServerRefusesOrIgnoresFail) {
  {
    Script script;
    script.answerBaud = 9600;  // a server stuck at one speed
    FakeServer server(script);
    std::unique_ptr<CommPort> port;
    ASSERT_EQ(OpenCommPort(server.Name(), port), ERROR_SUCCESS);
    DCB dcb;
    port->GetState(dcb);
    dcb.BaudRate = 38400;
    EXPECT_EQ(port->SetState(dcb), ERROR_INVALID_PARAMETER);
  }
  {
    Script script;
    script.answerSettings = false;
    FakeServer server(script);
    std::unique_ptr<CommPort> port;
    EXPECT_EQ(OpenCommPort(server.Name(), port), ERROR_TIMEOUT);
    EXPECT_EQ(port, nullptr);
  }
}

class NoteTap final : public WireTap {
 public:
  void OnWrite(const BYTE*, DWORD) override {}
  void OnRead(const BYTE*, DWORD) override {}
  void OnBreakSent(DWORD) override {}
  void OnBreakReceived() override {}
  void OnSpeed(DWORD) override {}
  void OnNote(const std::string& text) override { notes.push_back(text); }
  std::vector<std::string> notes;
};

// The plug-in's message for a failed open gives only the error number: the reason is in
// the wire trace and stays for the host, found through the COM name too.
TEST_F(Rfc2217Test, ServerWithoutTheOptionIsAnOpenFailureThatSaysWhy) {
  struct Row {
    bool silent;
    const char* why;
  };
  const Row rows[] = {
      {false, "the server does not speak RFC 2217: it refused the COM-PORT-OPTION"},
      {true, "the server does not speak RFC 2217: no telnet COM-PORT-OPTION agreement within"},
  };
  for (const Row& row : rows) {
    Script script;
    script.comPort = false;
    script.silent = row.silent;
    FakeServer server(script);
    NoteTap tap;
    SetWireTap(&tap);
    std::unique_ptr<CommPort> port;
    EXPECT_EQ(OpenCommPort(server.Name(), port), ERROR_NOT_SUPPORTED) << row.silent;
    SetWireTap(nullptr);
    EXPECT_EQ(port, nullptr);
    const std::string expected = server.Name() + ": " + row.why;
    EXPECT_EQ(Rfc2217OpenFailure(server.Name()).rfind(expected, 0), 0u)
        << Rfc2217OpenFailure(server.Name());
    ASSERT_EQ(tap.notes.size(), 1u);
    EXPECT_EQ(tap.notes[0], "open-failed " + Rfc2217OpenFailure(server.Name()));
    ::setenv("VELMORA_COM9", server.Name().c_str(), 1);
    EXPECT_EQ(Rfc2217OpenFailure("\\\\.\\COM9"), Rfc2217OpenFailure(server.Name()));
    ::unsetenv("VELMORA_COM9");
  }
  // A port that is not a network port has nothing to say; nor has one that opened.
  EXPECT_EQ(Rfc2217OpenFailure("/dev/ttyS0"), "");
  FakeServer good({});
  std::unique_ptr<CommPort> port;
  ASSERT_EQ(OpenCommPort(good.Name(), port), ERROR_SUCCESS);
  good.CommandsAtLeast(10);
  EXPECT_EQ(Rfc2217OpenFailure(good.Name()), "");
}

// A server that sends without end while the port waits for an answer: the port holds a
// bounded amount, reports the rest as lost (CE_RXOVER, once) and the wait still succeeds.
// What is held is the oldest; what comes after the answer is taken as usual.
TEST_F(Rfc2217Test, FloodWhileWaitingForAnAnswerIsCappedAndReported) {
  constexpr std::size_t kFlood = 4 * kRfc2217MaxHeld;
  struct Row {
    const char* what;
    int floodBefore;
    DWORD purge;  // the purge that waits, 0: the open's own waits
    std::size_t held;
  };
  const Row rows[] = {
      // Before the agreement nothing is line data.
      {"option agreement", kAgreement, 0, 0},
      {"line setting", comport::kSetBaudRate, 0, kRfc2217MaxHeld},
      {"transmit purge", comport::kPurgeData, PURGE_TXCLEAR, kRfc2217MaxHeld},
      // Everything before a receive purge's answer is purged.
      {"receive purge", comport::kPurgeData, PURGE_RXCLEAR, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Script script;
    script.flood = kFlood;
    script.floodBefore = row.floodBefore;
    FakeServer server(script);
    std::unique_ptr<CommPort> port;
    ASSERT_EQ(OpenCommPort(server.Name(), port), ERROR_SUCCESS);
    server.CommandsAtLeast(10);
    if (row.purge) {
      ASSERT_EQ(port->Purge(row.purge), ERROR_SUCCESS);
    }
    EXPECT_EQ(Errors(*port), row.held ? CE_RXOVER : 0u);
    EXPECT_EQ(Errors(*port), 0u);
    SetReadTimeouts(*port, 2000);
    const Bytes marker = {0x5A, 0xA5};
    server.Send(marker);
    Bytes expected = Pattern(row.held);
    expected.insert(expected.end(), marker.begin(), marker.end());
    EXPECT_TRUE(ReadAll(*port, expected.size()) == expected);
  }
}

// Nobody reads: the data waits in the socket, held back by TCP, and nothing is lost, so
// there is no overrun to report; a break notification behind it counts once reached.
TEST_F(Rfc2217Test, UnreadDataWaitsWithoutLoss) {
  FakeServer server({});
  std::unique_ptr<CommPort> port;
  ASSERT_EQ(OpenCommPort(server.Name(), port), ERROR_SUCCESS);
  server.CommandsAtLeast(10);
  const Bytes data = Pattern(4 * kRfc2217MaxHeld);
  // From a thread of its own: the socket holds less than this, so the send ends only as
  // the port reads.
  // A data byte after the notification tells when both have arrived.
  const BYTE marker = 0x5A;
  std::thread sender([&] {
    Bytes wire;
    EscapeTelnetData(data.data(), data.size(), wire);
    server.Send(wire);
    server.SendComPort(comport::kNotifyLineState + comport::kServerOffset, {comport::kLineBreak});
    server.Send({marker});
  });
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Errors(*port) & CE_RXOVER, 0u);
  SetReadTimeouts(*port, 5000);
  Bytes expected = data;
  expected.push_back(marker);
  EXPECT_TRUE(ReadAll(*port, expected.size()) == expected);
  sender.join();
  EXPECT_EQ(Errors(*port), CE_BREAK);
}

// The read time-outs beyond the plug-in's own mode, as Windows defines them. Time-outs
// are short: these wait on a socket, not on a device. Only outcomes are checked.
TEST_F(Rfc2217Test, ReadTimeoutsEndReadsAsWindowsDoes) {
  struct Row {
    const char* what;
    DWORD interval, multiplier, constant;
    Bytes sent;  // before the read
    DWORD count;
  };
  const Row rows[] = {
      {"total time-out, nothing comes", 0, 0, 50, {}, 4},
      {"total time-out by the byte, nothing comes", 0, 10, 0, {}, 5},
      {"first byte awaited in vain", MAXDWORD, MAXDWORD, 50, {}, 4},
      {"return at once, nothing there", MAXDWORD, 0, 0, {}, 4},
      // No total time-out: only the interval can end this read short of its count.
      {"the interval ends a read after its first bytes", 20, 0, 0, {0x01, 0x02, 0x03}, 10},
  };
  FakeServer server({});
  std::unique_ptr<CommPort> port;
  ASSERT_EQ(OpenCommPort(server.Name(), port), ERROR_SUCCESS);
  server.CommandsAtLeast(10);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SetTimeouts(*port, row.interval, row.multiplier, row.constant);
    if (!row.sent.empty()) server.Send(row.sent);
    const Outcome out = GuardedRead(*port, server, row.count);
    ASSERT_TRUE(out.ended);
    EXPECT_EQ(out.error, ERROR_SUCCESS);
    EXPECT_EQ(out.bytes, row.sent);
  }
}

// MAXDWORD, 0, 0: every read returns at once with what is there, never more than that.
TEST_F(Rfc2217Test, ReturnAtOnceTakesWhatIsThere) {
  FakeServer server({});
  std::unique_ptr<CommPort> port;
  ASSERT_EQ(OpenCommPort(server.Name(), port), ERROR_SUCCESS);
  server.CommandsAtLeast(10);
  SetTimeouts(*port, MAXDWORD, 0, 0);
  const Bytes sent = {0x07, 0x08, 0xFF, 0x09};
  server.Send({0x07, 0x08, 0xFF, 0xFF, 0x09});
  Bytes got;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (got.size() < sent.size() && std::chrono::steady_clock::now() < limit) {
    const Outcome out = GuardedRead(*port, server, 16);
    ASSERT_TRUE(out.ended);
    ASSERT_EQ(out.error, ERROR_SUCCESS);
    got.insert(got.end(), out.bytes.begin(), out.bytes.end());
    if (out.bytes.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(got, sent);
  const Outcome after = GuardedRead(*port, server, 16);
  ASSERT_TRUE(after.ended);
  EXPECT_TRUE(after.bytes.empty());
}

TEST_F(Rfc2217Test, LostConnectionFailsReadsAndWrites) {
  FakeServer server({});
  std::unique_ptr<CommPort> port;
  ASSERT_EQ(OpenCommPort(server.Name(), port), ERROR_SUCCESS);
  SetReadTimeouts(*port, 5000);
  server.Hangup();
  BYTE b = 0;
  DWORD n = 0;
  EXPECT_EQ(port->Read(&b, 1, n), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(port->Write(&b, 1, n), ERROR_DEVICE_NOT_CONNECTED);
  DWORD errors = 0;
  EXPECT_EQ(port->ClearError(errors), ERROR_DEVICE_NOT_CONNECTED);
  // The host is told why, once.
  EXPECT_EQ(LastCommPortProblem(server.Name()).text,
            server.Name() + ": the server closed the connection");
}

TEST_F(Rfc2217Test, NamesAndUnreachableServers) {
  struct Row {
    const char* text;
    bool ok;
    const char* host;
    std::uint16_t port;
  };
  const Row rows[] = {
      {"127.0.0.1:2217", true, "127.0.0.1", 2217},
      {"box.local:7000", true, "box.local", 7000},
      {"[::1]:4000", true, "::1", 4000},
      {"::1:4000", false, "", 0},
      {"host", false, "", 0},
      {":2217", false, "", 0},
      {"host:0", false, "", 0},
      {"host:65536", false, "", 0},
      {"host:22x", false, "", 0},
      {"[::1]4000", false, "", 0},
  };
  for (const auto& row : rows) {
    std::string host;
    std::uint16_t port = 0;
    ASSERT_EQ(ParseRfc2217Address(row.text, host, port), row.ok) << row.text;
    if (!row.ok) continue;
    EXPECT_EQ(host, row.host);
    EXPECT_EQ(port, row.port);
  }
  // What is wrong, naming the part.
  const struct {
    const char* text;
    const char* why;
  } problems[] = {
      {"host", "no port after the host (expected rfc2217://HOST:PORT)"},
      {":2217", "no host before the port (expected rfc2217://HOST:PORT)"},
      {"host:", "no port after \"host:\" (expected rfc2217://HOST:PORT)"},
      {"host:0", "the port 0 is outside 1 to 65535"},
      {"host:65536", "the port 65536 is outside 1 to 65535"},
      {"host:1234567", "the port 1234567 is outside 1 to 65535"},
      {"host:22x", "the port \"22x\" is not a number (1 to 65535)"},
      {"::1:4000", "an IPv6 address needs brackets: rfc2217://[ADDRESS]:PORT"},
      {"[::1]4000", "no port after the address (expected rfc2217://HOST:PORT)"},
      {"[::1:4000", "no closing ']' after the IPv6 address (expected rfc2217://HOST:PORT)"},
      {"127.0.0.1:2217", ""},
  };
  for (const auto& row : problems) EXPECT_EQ(Rfc2217AddressProblem(row.text), row.why) << row.text;
  std::unique_ptr<CommPort> port;
  EXPECT_EQ(OpenCommPort("rfc2217://nohost", port), ERROR_INVALID_NAME);
  EXPECT_EQ(Rfc2217OpenFailure("rfc2217://nohost"),
            "rfc2217://nohost: no port after the host (expected rfc2217://HOST:PORT)");
  // A port nobody listens on: take a free one and let it go.
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  EXPECT_EQ(OpenCommPort("RFC2217://127.0.0.1:" + std::to_string(ntohs(a.sin_port)), port),
            ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace platform
