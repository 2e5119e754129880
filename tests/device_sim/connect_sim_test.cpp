// The connection sequence against the simulated KV70, in virtual time, with the wire
// recorded by a tap.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "device/kv70_device.h"
#include "operations/operation.h"
#include "platform/clock.h"
#include "platform/comm_port.h"
#include "platform/testing/system_for_tests.h"
#include "plugin/run_operation.h"
#include "protocol/testing/test_run.h"
#include "reporting/failures.h"
#include "reporting/reporting.h"
#include "resources/testing/kv70_test_module.h"
#include "serial/serial_com.h"
#include "sim/sim_port.h"

namespace kv70test {
using Bytes = std::vector<BYTE>;

namespace {

// Every write the PC made, one entry per port write, and the line speeds it set.
class RecordingTap : public platform::WireTap {
 public:
  void OnWrite(const BYTE* data, DWORD count) override { writes.emplace_back(data, data + count); }
  void OnRead(const BYTE*, DWORD) override {}
  void OnBreakSent(DWORD ms) override { breaksSent.push_back(ms); }
  void OnBreakReceived() override {}
  void OnSpeed(DWORD bitsPerSecond) override { speeds.push_back(bitsPerSecond); }

  // ROM-monitor frames of a type (02 00 type ...).
  std::vector<Bytes> RomFrames(BYTE type) const {
    std::vector<Bytes> out;
    for (const auto& w : writes)
      if (w.size() >= 4 && w[0] == 0x02 && w[1] == 0x00 && w[2] == type) out.push_back(w);
    return out;
  }

  std::vector<Bytes> writes;
  std::vector<DWORD> breaksSent;
  std::vector<DWORD> speeds;
};

class SimConnectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kv70::testing::UseKV70Resources();
    kv70sim::RegisterInProcessBackend();
    platform::SetWireTap(&tap);
  }
  void TearDown() override {
    platform::SetWireTap(nullptr);
    platform_test::UnsetEnv("VELMORA_COM1");
    kv70sim::ForgetInstances();
  }
  void UseDevice(const std::string& settings) {
    platform_test::SetEnv("VELMORA_COM1", ("sim:" + settings).c_str());
  }

  // Opens the port and connects; "" on success, else "D501", "B806", "F411", "cancel".
  std::string Connect(BYTE readOnly) {
    CSerialCom port;
    port.Open(1, 1, 0, 0, 6);
    CKV70Device device(port, run.record);
    device.SetReadOnly(readOnly);
    std::string failure;
    try {
      device.Connect();
      connected = device.IsConnected();
      flashType = device.GetConfig().FlashType();
      device.RebootDevice();
    } catch (DeviceException* e) {
      failure = "D" + std::to_string(e->m_code);
      e->Delete();
    } catch (BDException* e) {
      failure = "B" + std::to_string(e->m_code);
      e->Delete();
    } catch (CFlashMonException* e) {
      failure = "F" + std::to_string(e->m_code);
      e->Delete();
    } catch (CUserException* e) {
      failure = "cancel";
      e->Delete();
    }
    port.Close();
    return failure;
  }

  platform::VirtualClock clock;
  platform::ScopedClock useClock{clock};
  RecordingTap tap;
  TestRun run;
  bool connected = false;
  WORD flashType = 0;
};

TEST_F(SimConnectTest, TheWireOfAFullConnection) {
  UseDevice("breaks=1");
  const std::uint64_t start = clock.NowMs();
  std::uint64_t uploadStart = 0, uploadEnd = 0;
  run.onReport = [&](TestRun& r) {
    if (r.progress.size() == 4) uploadStart = clock.NowMs();  // before chunk 0
    if (!r.progress.empty() && r.progress.back() == 100 && !uploadEnd) uploadEnd = clock.NowMs();
  };
  ASSERT_EQ(Connect(0), "");
  RecordProperty("connect_and_reboot_virtual_ms", std::to_string(clock.NowMs() - start));
  // Write and read-back of the image at 38400 bit/s, the 2 s start and the ping.
  RecordProperty("upload_virtual_ms", std::to_string(uploadEnd - uploadStart));
  EXPECT_TRUE(connected);
  EXPECT_EQ(flashType, 8922);

  const auto idents = tap.RomFrames(0x6E);
  ASSERT_EQ(idents.size(), 1u);
  EXPECT_EQ(idents[0].size(), 90u);

  // Register set-up: ten words through the routine (a typed write and a go each), seven
  // bytes and three chip-select rows of two longs; then the speed switch; then the upload.
  const auto writes = tap.RomFrames(0x81);
  const auto goes = tap.RomFrames(0x82);
  const auto reads = tap.RomFrames(0x80);
  ASSERT_EQ(writes.size(), 10u + 7u + 6u + 1u + 35u);
  ASSERT_EQ(goes.size(), 10u + 1u + 1u);
  ASSERT_EQ(reads.size(), 35u);
  const Bytes firstWord = {0x02, 0x00, 0x81, 0x16, 0x00, 0x00, 0x08, 0x10, 0x0A, 0x05,
                           0x20, 0x7C, 0x00, 0x00, 0x1E, 0x38, 0x22, 0x7C, 0x00, 0x00,
                           0x08, 0x10, 0x30, 0x91, 0x4E, 0x75, 0xEA, 0x03};
  EXPECT_EQ(writes[0], firstWord);
  EXPECT_EQ(writes[12], (Bytes{0x02, 0x00, 0x81, 0x05, 0x00, 0xFF, 0xF0, 0x17, 0x40,
                               static_cast<BYTE>(0x81 + 0x05 + 0xFF + 0xF0 + 0x17 + 0x40), 0x03}));
  EXPECT_EQ(writes[14], (Bytes{0x02, 0x00, 0x81, 0x08, 0x00, 0xFF, 0xF0, 0x4C, 0x02, 0x40, 0x00,
                               0x11, 0x17, 0x03}));
  for (size_t k = 0; k < 35; ++k) {
    SCOPED_TRACE(k);
    const Bytes& chunk = writes[24 + k];
    const size_t size = k < 34 ? 251 : 20;
    EXPECT_EQ(chunk[3], size + 4);
    EXPECT_EQ(chunk.size(), size + 12);  // header, address, data, checksum, 03 00 00
    EXPECT_EQ(reads[k][8], size);
  }
  EXPECT_EQ(goes.back(),
            (Bytes{0x02, 0x00, 0x82, 0x04, 0x00, 0x20, 0x00, 0x00, 0xA6, 0x03, 0x00, 0x00}));

  // The configuration request, once, as an empty request for 0x06.
  int configRequests = 0;
  for (const auto& w : tap.writes)
    configRequests += w == Bytes{0x02, 0x06, 0x00, 0x00, 0x00, 0x06, 0x03, 0x00};
  EXPECT_EQ(configRequests, 1);
  EXPECT_EQ(tap.speeds.back(), 38400u);
  EXPECT_EQ(tap.breaksSent, (std::vector<DWORD>{1000}));
}

TEST_F(SimConnectTest, BootSignalling) {
  const struct {
    const char* name;
    std::string settings;
    BYTE readOnly;
    size_t identifications;
    size_t boxes;
  } cases[] = {
      {"upgrade, three breaks", "breaks=3", 0, 3, 2},
      {"read-only, three breaks", "breaks=3", 1, 1, 0},
      {"upgrade, one break", "breaks=1", 0, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tap.writes.clear();
    run.boxes.clear();
    UseDevice(c.settings);
    EXPECT_EQ(Connect(c.readOnly), "");
    EXPECT_EQ(tap.RomFrames(0x6E).size(), c.identifications);
    ASSERT_EQ(run.boxes.size(), c.boxes);
    for (const auto& box : run.boxes) {
      EXPECT_EQ(box.text, "Check KV70 display.");
      EXPECT_EQ(box.style, 0x00010030u);
      EXPECT_EQ(box.owner, run.record.hostWindow);
    }
  }
}

TEST_F(SimConnectTest, AFlashMonitorStillRunningIsReachedAt38400) {
  UseDevice("state=monitor");
  const std::uint64_t start = clock.NowMs();
  EXPECT_EQ(Connect(0), "");
  EXPECT_TRUE(connected);
  // 12.5 s of listening, 1 s, five probe attempts of about 1.2 s, then the ping.
  int probes = 0;
  for (const auto& w : tap.writes) probes += w == Bytes{0x05, 0x0A, 0x14, 0x28, 0x00, 0x00};
  EXPECT_EQ(probes, 5);
  EXPECT_TRUE(tap.RomFrames(0x81).empty());
  EXPECT_GE(clock.NowMs() - start, 19500u);
}

TEST_F(SimConnectTest, Failures) {
  const struct {
    const char* name;
    std::string settings;
    std::string failure;
    bool uploaded;
  } cases[] = {
      {"flash type 0", "flash-type=0", "D519", true},
      {"monitor silent after its start", "monitor-silent=1", "B806", true},
      {"configuration too short", "config-len=183", "F411", true},
      {"nothing answers", "state=monitor,monitor-silent=1", "D501", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tap.writes.clear();
    UseDevice(c.settings);
    EXPECT_EQ(Connect(0), c.failure);
    EXPECT_EQ(tap.RomFrames(0x80).size(), c.uploaded ? 35u : 0u);
  }
}

// An operation body as the operations run it: port and device owned for the run,
// released on every way out.
class ConnectOnly : public COperation {
 public:
  ConnectOnly() : COperation(0) {}
  const char* GetName() override { return "connect"; }
  const char* GetDescription() override { return "connect"; }
  bool Execute(RunRecord* record) override {
    SendStatus(record, 200);
    auto port = std::make_unique<CSerialCom>();
    port->Open(static_cast<DWORD>(record->comPort), 1, 0, 0, 6);
    auto device = std::make_unique<CKV70Device>(*port, *record);
    device->Connect();
    device->RebootDevice();
    return true;
  }
};

TEST_F(SimConnectTest, CancelDuringTheConnection) {
  UseDevice("name=cancelled,breaks=1");
  run.onReport = [](TestRun& r) {
    if (!r.progress.empty() && r.progress.back() == 20) r.Cancel();
  };
  ConnectOnly operation;
  EXPECT_EQ(RunOperation(&operation, &run.record), OPERATION_CANCELED);
  EXPECT_TRUE(run.boxes.empty());
  ASSERT_FALSE(run.statuses.empty());
  EXPECT_EQ(run.statuses.back(), "The operation was canceled.");
  // The port was closed: the named device takes a new opener.
  std::unique_ptr<platform::CommPort> again;
  EXPECT_EQ(platform::OpenCommPort("\\\\.\\COM1", again), ERROR_SUCCESS);
}

}  // namespace
}  // namespace kv70test
