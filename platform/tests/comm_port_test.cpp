#include "platform/comm_port.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/testing/system_for_tests.h"

namespace platform {
namespace {

TEST(BuildCommDCB, ParsesDefinitions) {
  struct Row {
    const char* definition;
    DWORD baud;
    BYTE parity;
    BYTE byteSize;
    BYTE stopBits;
  };
  // Each row starts from a record holding 1200,o,7,2.
  const Row rows[] = {
      {"", 1200, ODDPARITY, 7, TWOSTOPBITS},
      {"9600,n,8,1", 9600, NOPARITY, 8, ONESTOPBIT},
      {" 38400 , E , 7 , 2 ", 38400, EVENPARITY, 7, TWOSTOPBITS},
      {"19200", 19200, ODDPARITY, 7, TWOSTOPBITS},
      {"4800,m,8,1.5", 4800, MARKPARITY, 8, ONE5STOPBITS},
      {"2400,,8", 2400, ODDPARITY, 8, TWOSTOPBITS},
      {"COM1: 9600,s,8,1", 9600, SPACEPARITY, 8, ONESTOPBIT},
      {"baud=115200 parity=N data=8 stop=1", 115200, NOPARITY, 8, ONESTOPBIT},
  };
  for (const auto& row : rows) {
    DCB dcb;
    dcb.BaudRate = 1200;
    dcb.Parity = ODDPARITY;
    dcb.ByteSize = 7;
    dcb.StopBits = TWOSTOPBITS;
    ASSERT_TRUE(BuildCommDCB(row.definition, &dcb)) << row.definition;
    EXPECT_EQ(dcb.BaudRate, row.baud) << row.definition;
    EXPECT_EQ(dcb.Parity, row.parity) << row.definition;
    EXPECT_EQ(dcb.ByteSize, row.byteSize) << row.definition;
    EXPECT_EQ(dcb.StopBits, row.stopBits) << row.definition;
  }
}

TEST(BuildCommDCB, RefusesMalformedDefinitionsAndChangesNothing) {
  const char* rows[] = {"fast",           "9600,q,8,1", "9600,n,9,1",           "9600,n,8,3",
                        "9600,n,8,1,x,y", "0,n,8,1",    "baud=9600 colour=red", "9600,n,4,1",
                        "-9600"};
  for (const char* definition : rows) {
    DCB dcb;
    dcb.BaudRate = 1200;
    ASSERT_FALSE(BuildCommDCB(definition, &dcb)) << definition;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(dcb.BaudRate, 1200u) << definition;
    EXPECT_EQ(dcb.Parity, NOPARITY) << definition;
  }
  EXPECT_FALSE(BuildCommDCB("9600", nullptr));
}

TEST(ResolveCommName, MapsComNamesToEnvironmentOrTtyS) {
  platform_test::UnsetEnv("VELMORA_COM3");
  platform_test::UnsetEnv("VELMORA_COM12");
  platform_test::SetEnv("VELMORA_COM4", "sim:noise=0");
  struct Row {
    const char* name;
    std::string expected;
  };
  const Row rows[] = {
      {"\\\\.\\COM1", platform_test::DefaultComDevice("\\\\.\\COM1", 1)},
      {"\\\\.\\COM3", platform_test::DefaultComDevice("\\\\.\\COM3", 3)},
      {"\\\\.\\com12", platform_test::DefaultComDevice("\\\\.\\com12", 12)},
      {"\\\\.\\COM4", "sim:noise=0"},
      {"\\\\.\\COM0", "\\\\.\\COM0"},
      {"\\\\.\\COM", "\\\\.\\COM"},
      {"\\\\.\\COM3x", "\\\\.\\COM3x"},
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"sim", "sim"},
      {"COM3", "COM3"},
  };
  for (const auto& row : rows) EXPECT_EQ(ResolveCommName(row.name), row.expected) << row.name;
  platform_test::UnsetEnv("VELMORA_COM4");
}

TEST(NetworkPortAddress, TheAddressOfANetworkNameInAnyLetterCase) {
  platform_test::SetEnv("VELMORA_COM5", "RFC2217://bench:7002");
  const std::pair<const char*, std::string> rows[] = {
      {"rfc2217://10.0.0.5:2217", "10.0.0.5:2217"},
      {"\\\\.\\COM5", "bench:7002"},
      {"rfc2217:/x:1", ""},
      {"sim", ""},
      {"/dev/ttyUSB0", ""},
  };
  for (const auto& [name, address] : rows) EXPECT_EQ(NetworkPortAddress(name), address) << name;
  platform_test::UnsetEnv("VELMORA_COM5");
}

// A port that records what it was asked and answers from scripted data.
class FakePort final : public CommPort {
 public:
  std::vector<BYTE> incoming;
  DWORD writeLimit = MAXDWORD;
  DWORD pendingErrors = 0;
  bool tellsHeld = false;  // says how much of `incoming` it holds, as the network port does
  DCB state;

  DWORD GetState(DCB& dcb) override {
    dcb = state;
    return ERROR_SUCCESS;
  }
  DWORD SetState(const DCB& dcb) override {
    if (dcb.BaudRate == 0) return ERROR_INVALID_PARAMETER;
    state = dcb;
    return ERROR_SUCCESS;
  }
  DWORD SetTimeouts(const COMMTIMEOUTS&) override { return ERROR_SUCCESS; }
  DWORD Read(BYTE* buffer, DWORD count, DWORD& read) override {
    read = std::min<DWORD>(count, static_cast<DWORD>(incoming.size()));
    std::copy(incoming.begin(), incoming.begin() + read, buffer);
    incoming.erase(incoming.begin(), incoming.begin() + read);
    return ERROR_SUCCESS;
  }
  DWORD Write(const BYTE*, DWORD count, DWORD& written) override {
    written = std::min(count, writeLimit);
    return ERROR_SUCCESS;
  }
  DWORD Purge(DWORD) override { return ERROR_SUCCESS; }
  DWORD SetBreak() override { return ERROR_SUCCESS; }
  DWORD ClearBreak() override { return ERROR_SUCCESS; }
  DWORD ClearError(DWORD& errors) override {
    errors = pendingErrors;
    pendingErrors = 0;
    return ERROR_SUCCESS;
  }
  DWORD Held() const override { return tellsHeld ? static_cast<DWORD>(incoming.size()) : 0; }
};

class RecordingTap final : public WireTap {
 public:
  std::vector<std::string> events;
  void OnWrite(const BYTE* data, DWORD count) override { events.push_back("W" + Hex(data, count)); }
  void OnRead(const BYTE* data, DWORD count) override { events.push_back("R" + Hex(data, count)); }
  void OnBreakSent(DWORD ms) override { events.push_back("B" + std::to_string(ms)); }
  void OnBreakReceived() override { events.push_back("b"); }
  void OnSpeed(DWORD bps) override { events.push_back("S" + std::to_string(bps)); }

 private:
  static std::string Hex(const BYTE* data, DWORD count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (DWORD i = 0; i < count; ++i) {
      text += digits[data[i] >> 4];
      text += digits[data[i] & 15];
    }
    return text;
  }
};

class CommPortOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    // Whatever the library registered itself (the device backend) comes back afterwards.
    savedDevice = RegisterCommBackend("", nullptr);
    savedSim = RegisterCommBackend(
        "sim", [this](const std::string& settings, std::unique_ptr<CommPort>& port) {
          simSettings.push_back(settings);
          auto fake = std::make_unique<FakePort>();
          lastFake = fake.get();
          port = std::move(fake);
          return ERROR_SUCCESS;
        });
  }
  void TearDown() override {
    RegisterCommBackend("sim", std::move(savedSim));
    RegisterCommBackend("", std::move(savedDevice));
    SetWireTap(nullptr);
  }
  CommBackendFactory savedDevice;
  CommBackendFactory savedSim;
  std::vector<std::string> simSettings;
  FakePort* lastFake = nullptr;
};

TEST_F(CommPortOpen, SimNamesGoToTheSimBackendWithTheirSettings) {
  std::unique_ptr<CommPort> port;
  EXPECT_EQ(OpenCommPort("sim", port), ERROR_SUCCESS);
  EXPECT_NE(port, nullptr);
  EXPECT_EQ(OpenCommPort("sim:noise=3,pull=1", port), ERROR_SUCCESS);
  platform_test::SetEnv("VELMORA_COM2", "sim:reply=slow");
  EXPECT_EQ(OpenCommPort("\\\\.\\COM2", port), ERROR_SUCCESS);
  platform_test::UnsetEnv("VELMORA_COM2");
  EXPECT_EQ(simSettings, (std::vector<std::string>{"", "noise=3,pull=1", "reply=slow"}));
}

TEST_F(CommPortOpen, MissingBackendsReportNotFound) {
  EXPECT_TRUE(RegisterCommBackend("sim", nullptr));  // the fixture's, handed back
  std::unique_ptr<CommPort> port;
  EXPECT_EQ(OpenCommPort("sim", port), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(port, nullptr);
  EXPECT_EQ(OpenCommPort("/dev/ttyS0", port), ERROR_FILE_NOT_FOUND);
  // "simulator" is a device path, not the sim backend.
  std::string seen;
  RegisterCommBackend("", [&](const std::string& path, std::unique_ptr<CommPort>&) {
    seen = path;
    return ERROR_ACCESS_DENIED;
  });
  EXPECT_EQ(OpenCommPort("simulator", port), ERROR_ACCESS_DENIED);
  EXPECT_EQ(seen, "simulator");
  EXPECT_EQ(port, nullptr);
}

TEST_F(CommPortOpen, DevicePathsGoToTheDefaultBackendResolved) {
  std::string seen;
  RegisterCommBackend("", [&](const std::string& path, std::unique_ptr<CommPort>& port) {
    seen = path;
    port = std::make_unique<FakePort>();
    return ERROR_SUCCESS;
  });
  platform_test::UnsetEnv("VELMORA_COM6");
  std::unique_ptr<CommPort> port;
  EXPECT_EQ(OpenCommPort("\\\\.\\COM6", port), ERROR_SUCCESS);
  EXPECT_EQ(seen, platform_test::DefaultComDevice("\\\\.\\COM6", 6));
}

TEST_F(CommPortOpen, ABackendClaimingSuccessWithoutAPortIsAFailure) {
  RegisterCommBackend("",
                      [](const std::string&, std::unique_ptr<CommPort>&) { return ERROR_SUCCESS; });
  std::unique_ptr<CommPort> port;
  EXPECT_NE(OpenCommPort("/dev/null", port), ERROR_SUCCESS);
  EXPECT_EQ(port, nullptr);
}

TEST_F(CommPortOpen, TapSeesWhatActuallyCrossedTheLine) {
  RecordingTap tap;
  SetWireTap(&tap);
  VirtualClock clock;
  ScopedClock scope(clock);
  std::unique_ptr<CommPort> port;
  ASSERT_EQ(OpenCommPort("sim", port), ERROR_SUCCESS);
  FakePort& fake = *lastFake;

  DCB dcb;
  dcb.BaudRate = 9600;
  EXPECT_EQ(port->SetState(dcb), ERROR_SUCCESS);  // initial speed
  EXPECT_EQ(port->SetState(dcb), ERROR_SUCCESS);  // unchanged: not reported
  dcb.BaudRate = 0;
  EXPECT_NE(port->SetState(dcb), ERROR_SUCCESS);  // refused: not reported
  dcb.BaudRate = 38400;
  EXPECT_EQ(port->SetState(dcb), ERROR_SUCCESS);

  const BYTE frame[] = {0x02, 0x10, 0xAB};
  DWORD done = 0;
  fake.writeLimit = 2;
  EXPECT_EQ(port->Write(frame, 3, done), ERROR_SUCCESS);
  EXPECT_EQ(done, 2u);

  BYTE buffer[8];
  EXPECT_EQ(port->Read(buffer, sizeof buffer, done), ERROR_SUCCESS);  // nothing waiting
  EXPECT_EQ(done, 0u);
  fake.incoming = {0x06, 0x55};
  EXPECT_EQ(port->Read(buffer, 1, done), ERROR_SUCCESS);
  EXPECT_EQ(port->Read(buffer, 8, done), ERROR_SUCCESS);

  EXPECT_EQ(port->SetBreak(), ERROR_SUCCESS);
  clock.SleepMs(1000);
  EXPECT_EQ(port->ClearBreak(), ERROR_SUCCESS);
  EXPECT_EQ(port->ClearBreak(), ERROR_SUCCESS);  // no break was on: nothing to report

  DWORD errors = 0;
  EXPECT_EQ(port->ClearError(errors), ERROR_SUCCESS);
  fake.pendingErrors = CE_BREAK | CE_FRAME;
  EXPECT_EQ(port->ClearError(errors), ERROR_SUCCESS);
  EXPECT_EQ(errors, CE_BREAK | CE_FRAME);

  EXPECT_EQ(tap.events,
            (std::vector<std::string>{"S9600", "S38400", "W0210", "R06", "R55", "B1000", "b"}));

  // Removing the tap silences ports opened while it was installed.
  SetWireTap(nullptr);
  EXPECT_EQ(port->Write(frame, 1, done), ERROR_SUCCESS);
  EXPECT_EQ(tap.events.size(), 7u);
}

// A port that says what it holds: what the plug-in takes a byte at a time reaches the
// tap as one read once the port runs dry, and always before anything else that happens
// on the line (or the port's end).
TEST_F(CommPortOpen, BytesTakenOneAtATimeReachTheTapTogether) {
  RecordingTap tap;
  SetWireTap(&tap);
  std::unique_ptr<CommPort> port;
  ASSERT_EQ(OpenCommPort("sim", port), ERROR_SUCCESS);
  FakePort& fake = *lastFake;
  fake.tellsHeld = true;
  BYTE byte = 0;
  DWORD done = 0;
  auto takeOne = [&] { EXPECT_EQ(port->Read(&byte, 1, done), ERROR_SUCCESS); };

  fake.incoming = {0x01, 0x02, 0x03};
  takeOne();
  takeOne();
  EXPECT_TRUE(tap.events.empty());
  EXPECT_EQ(port->Held(), 1u);
  takeOne();
  EXPECT_EQ(tap.events, (std::vector<std::string>{"R010203"}));

  const BYTE request[] = {0x7E};
  const struct {
    const char* what;
    std::function<void()> next;
    std::vector<std::string> heard;
  } rows[] = {
      {"purge", [&] { port->Purge(PURGE_RXCLEAR); }, {"R04"}},
      {"write", [&] { port->Write(request, 1, done); }, {"R04", "W7E"}},
      {"break", [&] { port->SetBreak(); }, {"R04"}},
      {"errors", [&] { port->ClearError(done); }, {"R04"}},
      {"the port's end", [&] { port.reset(); }, {"R04"}},
  };
  for (const auto& row : rows) {
    lastFake->tellsHeld = true;
    lastFake->incoming = {0x04, 0x05};
    tap.events.clear();
    EXPECT_EQ(port->Read(&byte, 1, done), ERROR_SUCCESS);
    EXPECT_TRUE(tap.events.empty()) << row.what;
    row.next();
    EXPECT_EQ(tap.events, row.heard) << row.what;
    if (port) lastFake->incoming.clear();
  }
}

TEST_F(CommPortOpen, PortsOpenedWithoutATapAreNotWrapped) {
  std::unique_ptr<CommPort> port;
  ASSERT_EQ(OpenCommPort("sim", port), ERROR_SUCCESS);
  EXPECT_EQ(port.get(), lastFake);
}

}  // namespace
}  // namespace platform
