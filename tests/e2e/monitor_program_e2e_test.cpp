// The flash monitor program given at run time (VELMORA_KV70_MONITOR): a file that cannot
// be the program ends the run before the port is opened; any other file is uploaded as
// it is, and the simulated KV70 runs only its own stand-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "framework/uimodel.h"
#include "platform/comm_port.h"
#include "resources/resource.h"
#include "sim/bus.h"
#include "sim/monitor_image.h"
#include "tests/e2e/e2e_harness.h"
#include "tests/e2e/e2e_texts.h"

namespace {

using kv70::e2e::kConfigDone;
using kv70::e2e::kEstablishing;
using kv70::e2e::kFailed;

using kv70::e2e::Harness;
using kv70::e2e::kConfigRetrieval;
using kv70::e2e::RunOutcome;

// What went over the line, writes only, with the plug-in's notes.
class RecordingTap final : public platform::WireTap {
 public:
  void OnWrite(const BYTE* data, DWORD count) override {
    std::lock_guard lock(mutex_);
    writes.emplace_back(data, data + count);
  }
  void OnRead(const BYTE*, DWORD) override {}
  void OnBreakSent(DWORD) override {}
  void OnBreakReceived() override {}
  void OnSpeed(DWORD) override {}
  void OnNote(const std::string& text) override {
    std::lock_guard lock(mutex_);
    notes.push_back(text);
  }

  std::mutex mutex_;
  std::vector<std::vector<BYTE>> writes;
  std::vector<std::string> notes;
};

class TapScope {
 public:
  explicit TapScope(platform::WireTap* tap) { platform::SetWireTap(tap); }
  ~TapScope() { platform::SetWireTap(nullptr); }
};

class MonitorProgramE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(h.Loaded());
    dir = std::filesystem::path(h.RegistryPath()).parent_path();
  }

  std::string File(const std::string& name, const std::vector<BYTE>& bytes) {
    const std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  static std::vector<BYTE> StandIn() {
    return std::vector<BYTE>(kv70sim::kBuiltInMonitor,
                             kv70sim::kBuiltInMonitor + kv70sim::kBuiltInMonitorSize);
  }

  RunOutcome RunPressingOk() {
    h.Ui().QueueDialog(IDD_CONFIGURATION,
                       [](CDialog& dialog) { EXPECT_TRUE(uimodel::ClickButton(dialog, IDOK)); });
    return h.Run(kConfigRetrieval);
  }

  Harness h;
  std::filesystem::path dir;
};

TEST_F(MonitorProgramE2eTest, AFileThatCannotBeTheProgramEndsTheRunBeforeThePortOpens) {
  std::vector<BYTE> shorter = StandIn();
  shorter.pop_back();
  const std::string wrongSize = File("short.bin", shorter);
  const std::string missing = (dir / "missing.bin").string();
  const std::string directory = dir.string();
  const struct {
    const char* name;
    std::string path;
    std::string text;
  } cases[] = {
      {"wrong size", wrongSize,
       "The flash monitor program file " + wrongSize + " is 8553 bytes; it must be exactly 8554."},
      {"missing", missing, "The flash monitor program file " + missing + " does not exist."},
      {"a directory", directory,
       directory + " is a directory, not the flash monitor program file."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    h.UseDevice("");
    h.UseMonitorProgram(c.path);
    const RunOutcome run = h.Run(kConfigRetrieval);
    EXPECT_EQ(run.result, OPERATION_FAILED);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].owner, h.HostWindow());
    EXPECT_NE(run.boxes[0].text.find("Monitor program failure! " + c.text), std::string::npos)
        << run.boxes[0].text;
    EXPECT_NE(run.boxes[0].text.find("DevKV70 Version: 1.05"), std::string::npos)
        << "the usual failure box";
    EXPECT_EQ(run.Outline(),
              (std::vector<std::string>{"S:" + kEstablishing, "B:" + run.boxes[0].text,
                                        "S:" + kFailed, "C"}));
    EXPECT_EQ(run.progress, std::vector<long>{0});
    EXPECT_EQ(h.Simulator(), nullptr) << "the port was opened";
  }
}

// A program the simulated KV70 does not know is uploaded and verified like any other;
// started, it never answers, and the run ends with 806.
TEST_F(MonitorProgramE2eTest, ADifferentProgramIsUploadedExactlyAndEndsIn806) {
  std::vector<BYTE> other = StandIn();
  for (size_t i = 2; i < other.size(); ++i) other[i] = static_cast<BYTE>(other[i] ^ 0x5A);
  h.UseDevice("");
  h.UseMonitorProgram(File("other.bin", other));
  const RunOutcome run = h.Run(kConfigRetrieval);
  EXPECT_EQ(run.result, OPERATION_FAILED);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_NE(run.boxes[0].text.find("Device failure! [806]"), std::string::npos)
      << run.boxes[0].text;
  EXPECT_TRUE(run.dialogs.empty());

  auto device = h.Simulator();
  ASSERT_NE(device, nullptr);
  std::lock_guard lock(device->Mutex());
  EXPECT_EQ(std::memcmp(device->GetBus().MainRam(), other.data(), other.size()), 0)
      << "the device's RAM holds the file's bytes";
  EXPECT_EQ(device->State(), kv70sim::DeviceState::Halted);
  const auto& events = device->Events();
  EXPECT_TRUE(std::none_of(events.begin(), events.end(), [](const kv70sim::Event& e) {
    return e.kind == kv70sim::EventKind::MonitorStarted;
  }));
  EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const kv70sim::Event& e) {
    return e.kind == kv70sim::EventKind::ProcessorStopped && e.address == kv70sim::kMainRamBase;
  })) << device->Trace();
}

// The embedded image is the build's choice (the stand-in, or KV70_MONITOR_IMAGE); the
// same bytes given at run time must put the same bytes on the line. A test cannot rebuild
// the plug-in with the option, so it gives at run time a file equal to the embedded image
// and compares with the embedded run.
TEST_F(MonitorProgramE2eTest, TheEmbeddedImageGivenAtRunTimeSendsTheSameBytes) {
  RecordingTap embedded;
  {
    TapScope scope(&embedded);
    h.UseDevice("name=embedded");
    EXPECT_EQ(RunPressingOk().statuses.back(), kConfigDone);
  }
  RecordingTap fromFile;
  const std::string path = File("copy.bin", StandIn());
  {
    TapScope scope(&fromFile);
    h.UseDevice("name=file");
    h.UseMonitorProgram(path);
    EXPECT_EQ(RunPressingOk().statuses.back(), kConfigDone);
  }
  ASSERT_FALSE(embedded.writes.empty());
  EXPECT_TRUE(embedded.writes == fromFile.writes) << "the two runs wrote different bytes";
  ASSERT_EQ(embedded.notes.size(), 1u);
  EXPECT_EQ(embedded.notes[0].rfind("monitor-image embedded", 0), 0u) << embedded.notes[0];
  EXPECT_EQ(fromFile.notes, std::vector<std::string>{"monitor-image file " + path});
}

}  // namespace
