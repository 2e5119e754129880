// The "sim" backend through the platform's port interface: names, instances, time-outs.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "platform/clock.h"
#include "platform/comm_port.h"
#include "platform/testing/system_for_tests.h"
#include "sim/sim_port.h"
#include "sim/tests/line.h"

namespace kv70sim {
namespace {

using namespace testing;

class SimBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterInProcessBackend();
    ForgetInstances();
  }
  void TearDown() override { ForgetInstances(); }

  static std::unique_ptr<platform::CommPort> Open(const std::string& name,
                                                  DWORD expected = ERROR_SUCCESS) {
    std::unique_ptr<platform::CommPort> port;
    EXPECT_EQ(platform::OpenCommPort(name, port), expected) << name << ": " << LastOpenError();
    if (port) {
      COMMTIMEOUTS t;
      t.ReadIntervalTimeout = MAXDWORD;
      t.ReadTotalTimeoutMultiplier = MAXDWORD;
      t.ReadTotalTimeoutConstant = 1000;
      port->SetTimeouts(t);
      DCB dcb;
      port->GetState(dcb);
      dcb.BaudRate = 38400;
      port->SetState(dcb);
    }
    return port;
  }
  static Bytes Exchange(platform::CommPort& port, const Bytes& request) {
    DWORD n = 0;
    port.Write(request.data(), static_cast<DWORD>(request.size()), n);
    Bytes got;
    BYTE b;
    while (port.Read(&b, 1, n) == ERROR_SUCCESS && n == 1) got.push_back(b);
    return got;
  }

  platform::VirtualClock clock;
  platform::ScopedClock scoped{clock};
};

// Nothing has ever arrived, so the receive buffer has no storage yet: a read of several
// bytes must still come back empty after the time-out (the sanitizer pass checks the copy).
TEST_F(SimBackend, ReadOfSeveralBytesBeforeAnythingArrivedGivesNone) {
  auto port = Open("sim:state=monitor");
  ASSERT_TRUE(port);
  BYTE buffer[16] = {};
  DWORD n = 99;
  EXPECT_EQ(port->Read(buffer, sizeof buffer, n), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(n, 0u);
}

TEST_F(SimBackend, OpensByNameAndRefusesBadSettings) {
  auto port = Open("sim:state=monitor");
  ASSERT_TRUE(port);
  EXPECT_EQ(Exchange(*port, Request(0x00)), Reply(0x00));
  ASSERT_TRUE(LastInstance());
  EXPECT_EQ(LastInstance()->GetCounters().requests, 1u);

  Open("sim:colour=red", ERROR_INVALID_PARAMETER);
  EXPECT_NE(LastOpenError().find("colour"), std::string::npos);
  Open("sim:prog-image=/nonexistent/file", ERROR_INVALID_PARAMETER);
  EXPECT_NE(LastOpenError().find("prog-image"), std::string::npos);
  EXPECT_TRUE(Open("sim"));
}

TEST_F(SimBackend, ReadTimeOutAdvancesVirtualTime) {
  auto port = Open("sim:state=monitor");
  BYTE b;
  DWORD n = 99;
  auto before = clock.NowMs();
  EXPECT_EQ(port->Read(&b, 1, n), ERROR_SUCCESS);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(clock.NowMs() - before, 1000u);

  // Immediate reads do not wait.
  COMMTIMEOUTS t;
  t.ReadIntervalTimeout = MAXDWORD;
  port->SetTimeouts(t);
  before = clock.NowMs();
  port->Read(&b, 1, n);
  EXPECT_EQ(clock.NowMs(), before);
}

TEST_F(SimBackend, ReadWaitsOnlyForTheFirstByte) {
  auto port = Open("sim:state=monitor");
  Bytes request = Request(0x05, Cat(Be32(0x02800000), {0x04, 0x00}));
  DWORD n = 0;
  auto start = clock.NowUs();
  port->Write(request.data(), static_cast<DWORD>(request.size()), n);
  // 14 bytes at 38400 bit/s: 10 bits each.
  EXPECT_NEAR(static_cast<double>(clock.NowUs() - start), 14 * 260.42, 2.0);
  BYTE buffer[2000];
  port->Read(buffer, sizeof buffer, n);
  EXPECT_EQ(n, 1u);  // the first byte, and nothing had arrived with it
  EXPECT_EQ(buffer[0], 0x02);
  clock.SleepMs(1000);
  port->Read(buffer, sizeof buffer, n);
  EXPECT_EQ(n, 1030u);  // the rest was waiting
}

TEST_F(SimBackend, DumpRunsAtTheWireSpeed) {
  auto port = Open("sim:state=monitor,fs-mb=1");
  auto start = clock.NowUs();
  for (std::uint32_t block = 0; block < 64; ++block) {
    Bytes request = Request(0x05, Cat(Be32(0x02800000 + block * 1024), {0x04, 0x00}));
    DWORD n = 0;
    port->Write(request.data(), static_cast<DWORD>(request.size()), n);
    BYTE b;
    for (int i = 0; i < 1031; ++i) {
      ASSERT_EQ(port->Read(&b, 1, n), ERROR_SUCCESS);
      ASSERT_EQ(n, 1u);
    }
  }
  double floorUs = 64 * (14 + 1031) * 1e7 / 38400;
  double took = static_cast<double>(clock.NowUs() - start);
  EXPECT_GE(took, floorUs);
  EXPECT_LT(took, floorUs * 1.02);
}

TEST_F(SimBackend, NamedDeviceKeepsItsFlashAcrossOpens) {
  {
    auto port = Open("sim:name=unit,state=monitor");
    Bytes data;
    ASSERT_TRUE(
        FindReply(Exchange(*port, Request(0x03, Cat(Be32(0x02400000), {0x12, 0x34}))), 0x03, data));
    EXPECT_EQ(data, Bytes{0x01});
    // Open twice at the same time: refused.
    Open("sim:name=unit", ERROR_ACCESS_DENIED);
  }
  auto device = FindInstance("unit");
  ASSERT_TRUE(device);
  auto port = Open("sim:name=unit");
  EXPECT_EQ(LastInstance(), device);
  EXPECT_EQ(device->ProgFlash()[0], 0x12);
  EXPECT_EQ(device->GetCounters().restarts, 2u);  // reopened: the user restarted it

  // A device without a name is new every time.
  auto a = Open("sim:state=monitor");
  auto first = LastInstance();
  a.reset();
  Open("sim:state=monitor");
  EXPECT_NE(LastInstance(), first);
}

TEST_F(SimBackend, ReopenWithKeepLeavesTheMonitorRunning) {
  { auto port = Open("sim:name=k,state=monitor"); }
  auto port = Open("sim:name=k,on-open=keep");
  EXPECT_EQ(Exchange(*port, Request(0x00)), Reply(0x00));
  EXPECT_EQ(FindInstance("k")->GetCounters().restarts, 1u);
}

TEST_F(SimBackend, FlashImagesInAndOut) {
  std::string dir = ::testing::TempDir();
  std::string progIn = dir + "/sim_prog_in.bin", progOut = dir + "/sim_prog_out.bin",
              fsOut = dir + "/sim_fs_out.bin";
  {
    std::ofstream f(progIn, std::ios::binary);
    f << "\x11\x22\x33";
  }
  {
    auto port = Open("sim:state=monitor,fs-mb=1,fs-fill=erased,prog-image=" + progIn +
                     ",prog-out=" + progOut + ",fs-out=" + fsOut);
    Bytes data;
    ASSERT_TRUE(
        FindReply(Exchange(*port, Request(0x05, Cat(Be32(0x02400000), {0x00, 0x04}))), 0x05, data));
    EXPECT_EQ(data, (Bytes{0x11, 0x22, 0x33, 0xFF}));
    ASSERT_TRUE(
        FindReply(Exchange(*port, Request(0x03, Cat(Be32(0x02800010), {0x5A}))), 0x03, data));
  }
  std::ifstream prog(progOut, std::ios::binary);
  Bytes p((std::istreambuf_iterator<char>(prog)), std::istreambuf_iterator<char>());
  ASSERT_EQ(p.size(), 0x200000u);
  EXPECT_EQ(p[1], 0x22);
  std::ifstream fs(fsOut, std::ios::binary);
  Bytes f((std::istreambuf_iterator<char>(fs)), std::istreambuf_iterator<char>());
  ASSERT_EQ(f.size(), 0x100000u);
  EXPECT_EQ(f[0x10], 0x5A);
  EXPECT_EQ(f[0x11], 0xFF);
  std::remove(progIn.c_str());
  std::remove(progOut.c_str());
  std::remove(fsOut.c_str());
}

TEST_F(SimBackend, ImageTooLargeIsRefused) {
  std::string path = ::testing::TempDir() + "/sim_fs_big.bin";
  {
    std::ofstream f(path, std::ios::binary);
    f << std::string(0x100001, '\0');
  }
  Open("sim:fs-mb=1,fs-image=" + path, ERROR_INVALID_PARAMETER);
  EXPECT_NE(LastOpenError().find("more than"), std::string::npos);
  std::remove(path.c_str());
}

TEST_F(SimBackend, ComPortNameResolvesToTheSimulator) {
  platform_test::SetEnv("VELMORA_COM4", "sim:state=monitor");
  auto port = Open("\\\\.\\COM4");
  platform_test::UnsetEnv("VELMORA_COM4");
  ASSERT_TRUE(port);
  EXPECT_EQ(Exchange(*port, Request(0x00)), Reply(0x00));
}

}  // namespace
}  // namespace kv70sim
