// The file system dump from the host's side: the log file chosen on the page, then
// DoOperation against the simulated KV70 whose file-system flash holds a random image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "framework/uimodel.h"
#include "platform/testing/system_for_tests.h"
#include "resources/resource.h"
#include "sim/sim_port.h"
#include "tests/e2e/e2e_harness.h"
#include "tests/e2e/e2e_texts.h"

namespace {

using kv70::e2e::kCanceled;
using kv70::e2e::kDumpDone;
using kv70::e2e::kEstablishing;
using kv70::e2e::kFailed;
using kv70::e2e::kRebooting;
using kv70::e2e::kWaiting;

namespace fs = std::filesystem;
using kv70::e2e::Harness;
using kv70::e2e::HostEvent;
using kv70::e2e::kFileSystemDump;
using kv70::e2e::RunOutcome;
using Bytes = std::vector<std::uint8_t>;

const std::string kReading = "Reading file system...";
constexpr std::size_t kBlock = 1024;
constexpr std::size_t kBlocksPerMb = 1024;
constexpr std::uint8_t kRead = 0x05;
constexpr std::uint8_t kRebootCommand = 0x04;

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The progress a dump of `blocks` blocks reports: 0, every 33rd block from block 32 on,
// then 100.
std::vector<long> DumpProgress(std::size_t blocks) {
  std::vector<long> p{0};
  for (std::size_t k = 32; k < blocks; k += 33)
    p.push_back(static_cast<long>(double(k) / blocks * 100));
  p.push_back(100);
  return p;
}

// The progress positions that came after the first "Reading file system..." status.
std::vector<long> ProgressOfTheDump(const RunOutcome& run) {
  std::vector<long> p;
  bool reading = false;
  for (const HostEvent& e : run.events) {
    if (e.kind == HostEvent::Status && e.text == kReading) reading = true;
    if (reading && e.kind == HostEvent::Progress) p.push_back(e.value);
  }
  return p;
}

class DumpE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(h.Loaded());
    dir = fs::temp_directory_path() /
          ("dump_e2e_" + platform_test::UniqueName("") + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    logPath = dir / "kv70.log";
  }
  void TearDown() override { fs::remove_all(dir); }

  // A file-system image of `mb` MiB of random bytes; its path for fs-image=.
  std::string RandomImage(std::size_t mb, std::uint64_t seed = 70) {
    image.resize(mb * kBlocksPerMb * kBlock);
    std::mt19937_64 random(seed);
    for (std::size_t i = 0; i < image.size(); i += 8) {
      const std::uint64_t r = random();
      std::memcpy(image.data() + i, &r, 8);
    }
    const fs::path path = dir / "flash.bin";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    return path.string();
  }

  // The user types the name on the dump's page and presses Next.
  void ChooseLogFile(const std::string& path) {
    auto* page = reinterpret_cast<CPropertyPage*>(h.GetExports().GetPage(kFileSystemDump, 0));
    ASSERT_NE(page, nullptr);
    CPropertySheet sheet("Velmora");
    sheet.AddPage(page);
    sheet.SetWizardMode();
    ASSERT_TRUE(sheet.Create());
    ASSERT_TRUE(sheet.SetActivePage(0));
    ASSERT_TRUE(uimodel::TypeText(*page, IDC_LOG_FILE_NAME, path.c_str()));
    sheet.PressButton(PSBTN_NEXT);
    sheet.DestroyWindow();
  }

  // The flash the simulator holds now.
  Bytes SimulatorFlash(const std::shared_ptr<kv70sim::Device>& device) {
    std::lock_guard lock(device->Mutex());
    const auto flash = device->FsFlash();
    return Bytes(flash.begin(), flash.end());
  }

  // Read requests the device took, by address.
  static std::vector<std::uint32_t> ReadAddresses(kv70sim::Device& device) {
    std::lock_guard lock(device.Mutex());
    std::vector<std::uint32_t> addresses;
    for (const kv70sim::Event& e : device.Events())
      if (e.kind == kv70sim::EventKind::Request && e.code == kRead) addresses.push_back(e.address);
    return addresses;
  }

  static std::size_t Requests(kv70sim::Device& device, std::uint8_t code) {
    std::lock_guard lock(device.Mutex());
    std::size_t n = 0;
    for (const kv70sim::Event& e : device.Events())
      if (e.kind == kv70sim::EventKind::Request && e.code == code) ++n;
    return n;
  }

  // Whether nothing holds the named simulated device's port any more.
  static bool PortReleased(const std::string& name) {
    std::unique_ptr<platform::CommPort> port;
    return kv70sim::OpenSimPort("name=" + name + ",on-open=keep", port) == ERROR_SUCCESS;
  }

  Harness h;
  fs::path dir, logPath;
  Bytes image;
};

TEST_F(DumpE2eTest, TheLogFileIsTheFileSystemFlash) {
  h.UseDevice("fs-mb=1,fs-image=" + RandomImage(1));
  ChooseLogFile(logPath.string());
  const RunOutcome run = h.Run(kFileSystemDump);

  EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
  EXPECT_EQ(run.caption, "KV70 File System Dump");
  EXPECT_EQ(run.Outline(),
            (std::vector<std::string>{"S:" + kEstablishing, "S:" + kEstablishing, "S:" + kReading,
                                      "S:" + kRebooting, "S:" + kDumpDone, "C"}));
  EXPECT_TRUE(run.boxes.empty());

  auto device = h.Simulator();
  ASSERT_NE(device, nullptr);
  const Bytes log = ReadFile(logPath);
  EXPECT_EQ(log.size(), 1048576u);
  EXPECT_TRUE(log == SimulatorFlash(device)) << "the log file differs from the device's flash";
  EXPECT_TRUE(log == image);

  const std::vector<long> progress = ProgressOfTheDump(run);
  EXPECT_EQ(progress, DumpProgress(1024));
  ASSERT_GE(progress.size(), 3u);
  EXPECT_EQ(progress[1], 3) << "block 32 of 1024";
  EXPECT_EQ(progress[2], 6) << "block 65";

  // One request per block, in address order.
  const std::vector<std::uint32_t> addresses = ReadAddresses(*device);
  ASSERT_EQ(addresses.size(), 1024u);
  for (std::size_t k = 0; k < addresses.size(); ++k)
    ASSERT_EQ(addresses[k], 0x02800000u + k * kBlock) << k;
  std::lock_guard lock(device->Mutex());
  std::vector<std::uint32_t> identifications;
  for (const kv70sim::Event& e : device->Events())
    if (e.kind == kv70sim::EventKind::Identified) identifications.push_back(e.value);
  EXPECT_EQ(identifications, std::vector<std::uint32_t>{1}) << "one read-only identification";
  EXPECT_EQ(device->GetCounters().reboots, 1u);
}

TEST_F(DumpE2eTest, ACablePulledThreeTimesLeavesNoGapAndNoDuplicate) {
  const std::string settings = "fs-mb=1,fs-image=" + RandomImage(1, 4711);
  // A clean run first, to learn the exchange at which the dump starts: the dump is the
  // last 1024 exchanges before the reboot.
  h.UseDevice(settings);
  ChooseLogFile(logPath.string());
  ASSERT_EQ(h.Run(kFileSystemDump).result, OPERATION_SUCCEEDED);
  std::uint64_t total = 0;
  {
    auto clean = h.Simulator();
    std::lock_guard lock(clean->Mutex());
    total = clean->GetCounters().exchanges;
  }
  const std::uint64_t block0 = total - 1024;  // exchange of block 0; the reboot is `total`

  // Out during three tries of block 100, one of block 500 and two of block 1000, and
  // numbered by exchange: every failed try is one.
  auto stretch = [](std::uint64_t first, std::uint64_t last) {
    return ",pull=" + std::to_string(first) + "-" + std::to_string(last);
  };
  const std::uint64_t b100 = block0 + 100, b500 = block0 + 3 + 500, b1000 = block0 + 4 + 1000;
  h.UseDevice(settings + stretch(b100, b100 + 2) + stretch(b500, b500) + stretch(b1000, b1000 + 1));
  fs::remove(logPath);
  const RunOutcome run = h.Run(kFileSystemDump);

  EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
  EXPECT_EQ(run.Outline(), (std::vector<std::string>{
                               "S:" + kEstablishing, "S:" + kEstablishing, "S:" + kReading,
                               "S:" + kWaiting, "S:" + kWaiting, "S:" + kWaiting, "S:" + kReading,
                               "S:" + kWaiting, "S:" + kReading, "S:" + kWaiting, "S:" + kWaiting,
                               "S:" + kReading, "S:" + kRebooting, "S:" + kDumpDone, "C"}));
  EXPECT_TRUE(run.boxes.empty());
  auto device = h.Simulator();
  EXPECT_TRUE(ReadFile(logPath) == image);
  EXPECT_TRUE(ReadFile(logPath) == SimulatorFlash(device));
  EXPECT_EQ(ProgressOfTheDump(run), DumpProgress(1024))
      << "retries report no progress of their own";

  // The lost requests never reached the device; every block was asked for once.
  const std::vector<std::uint32_t> addresses = ReadAddresses(*device);
  ASSERT_EQ(addresses.size(), 1024u);
  for (std::size_t k = 0; k < addresses.size(); ++k)
    ASSERT_EQ(addresses[k], 0x02800000u + k * kBlock) << k;
  std::lock_guard lock(device->Mutex());
  EXPECT_GT(device->GetCounters().bytesLost, 0u);
  EXPECT_EQ(device->GetCounters().reboots, 1u);
}

TEST_F(DumpE2eTest, ACableOutInTheMiddleOfAReplyLeavesNoGapAndNoDuplicate) {
  const std::string settings = "fs-mb=1,fs-image=" + RandomImage(1, 99);
  // A clean run gives the time of block 300's request; the cable goes out while its
  // reply is on the line, and stays out for four seconds.
  h.UseDevice(settings);
  ChooseLogFile(logPath.string());
  ASSERT_EQ(h.Run(kFileSystemDump).result, OPERATION_SUCCEEDED);
  std::uint64_t originUs = 0, block300Us = 0;
  {
    auto clean = h.Simulator();
    std::lock_guard lock(clean->Mutex());
    std::size_t reads = 0;
    originUs = clean->Events().front().us;
    for (const kv70sim::Event& e : clean->Events())
      if (e.kind == kv70sim::EventKind::Request && e.code == kRead && reads++ == 300)
        block300Us = e.us;
  }
  ASSERT_GT(block300Us, originUs);
  const std::uint64_t cutMs = (block300Us - originUs) / 1000 + 100;
  h.UseDevice(settings + ",pull-ms=" + std::to_string(cutMs) + "-" + std::to_string(cutMs + 4000));
  fs::remove(logPath);
  const RunOutcome run = h.Run(kFileSystemDump);

  EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
  std::size_t waits = 0;
  for (const std::string& s : run.statuses) waits += s == kWaiting;
  EXPECT_GE(waits, 2u);
  EXPECT_EQ(run.statuses.end()[-3], kReading) << "the answer returned before the restart";
  EXPECT_TRUE(ReadFile(logPath) == image);
  EXPECT_EQ(ProgressOfTheDump(run), DumpProgress(1024));
}

// Replies carry the command but no address: a reply that comes after the PC gave up on
// it must not be taken for a later block's, which would shift the rest of the file.
TEST_F(DumpE2eTest, AReplyThatComesAfterTheTimeOutIsNotTakenForALaterBlock) {
  const std::string settings = "fs-mb=1,fs-image=" + RandomImage(1, 2026);
  h.UseDevice(settings);
  ChooseLogFile(logPath.string());
  ASSERT_EQ(h.Run(kFileSystemDump).result, OPERATION_SUCCEEDED);
  std::uint64_t replies = 0;
  {
    auto clean = h.Simulator();
    std::lock_guard lock(clean->Mutex());
    replies = clean->GetCounters().replies;
  }
  const std::uint64_t block0 = replies - 1024;  // the last reply is the reboot's
  for (const std::uint64_t block : {std::uint64_t{200}, std::uint64_t{1023}}) {
    SCOPED_TRACE(block);
    const std::uint64_t reply = block0 + block;
    h.UseDevice(settings + ",late-reply=" + std::to_string(reply) + "-" + std::to_string(reply));
    fs::remove(logPath);
    const RunOutcome run = h.Run(kFileSystemDump);
    EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
    EXPECT_NE(std::find(run.statuses.begin(), run.statuses.end(), kWaiting), run.statuses.end());
    EXPECT_TRUE(ReadFile(logPath) == image) << "the log file differs from the device's flash";
  }
}

TEST_F(DumpE2eTest, AnExistingLogFileIsReplacedByTheDump) {
  h.UseDevice("fs-mb=1,fs-image=" + RandomImage(1, 8));
  std::ofstream(logPath, std::ios::binary) << std::string(3 * 1048576, 'x');
  // The page asks before an existing file is replaced; the user agrees.
  h.Ui().SetQuestionAnswer(IDYES);
  ChooseLogFile(logPath.string());
  ASSERT_TRUE(fs::exists(logPath)) << "choosing the file leaves it as it is";
  const RunOutcome run = h.Run(kFileSystemDump);

  EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
  EXPECT_TRUE(ReadFile(logPath) == image) << "the old, longer content is gone";
}

TEST_F(DumpE2eTest, AnEmptyFileSystemGivesAnEmptyFile) {
  h.UseDevice("fs-mb=0");
  ChooseLogFile(logPath.string());
  const RunOutcome run = h.Run(kFileSystemDump);

  EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
  ASSERT_TRUE(fs::exists(logPath));
  EXPECT_EQ(fs::file_size(logPath), 0u);
  EXPECT_EQ(ProgressOfTheDump(run), (std::vector<long>{0, 100}));
  EXPECT_EQ(run.statuses.back(), kDumpDone);
  EXPECT_EQ(Requests(*h.Simulator(), kRead), 0u);
}

TEST_F(DumpE2eTest, AnAbsentFileSystemSizeReadsNothing) {
  // The simulator's settings stop at 256 MiB, so the record of a named device is given
  // the absent value (0xFFFF) by hand before the run opens it again.
  {
    std::unique_ptr<platform::CommPort> port;
    ASSERT_EQ(kv70sim::OpenSimPort("name=absent,fs-mb=1", port), ERROR_SUCCESS)
        << kv70sim::LastOpenError();
  }
  auto device = kv70sim::FindInstance("absent");
  ASSERT_NE(device, nullptr);
  {
    std::lock_guard lock(device->Mutex());
    auto& record = const_cast<kv70sim::Record&>(device->GetRecord());
    record[180] = 0xFF;
    record[181] = 0xFF;
  }
  h.UseDevice("name=absent,on-open=restart");
  ChooseLogFile(logPath.string());
  const RunOutcome run = h.Run(kFileSystemDump);

  EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
  ASSERT_TRUE(fs::exists(logPath));
  EXPECT_EQ(fs::file_size(logPath), 0u);
  EXPECT_EQ(ProgressOfTheDump(run), (std::vector<long>{0, 100}));
  EXPECT_EQ(Requests(*device, kRead), 0u);
  EXPECT_EQ(run.statuses.back(), kDumpDone);
}

TEST_F(DumpE2eTest, AFolderThatIsGoneFailsAfterTheConnectionWithoutARestart) {
  // The folder existed when the user chose the file, and is gone when the dump runs.
  const fs::path folder = dir / "removable";
  fs::create_directories(folder);
  const fs::path path = folder / "kv70.log";
  ChooseLogFile(path.string());
  fs::remove_all(folder);
  h.UseDevice("name=gone,fs-mb=1");
  const RunOutcome run = h.Run(kFileSystemDump);

  EXPECT_EQ(run.result, OPERATION_FAILED);
  // The framework's own text for the same failure.
  std::string expected;
  try {
    CFile probe(path.string().c_str(),
                CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive);
  } catch (CFileException* e) {
    char text[256];
    e->GetErrorMessage(text, sizeof text);
    expected = text;
    e->Delete();
  }
  ASSERT_FALSE(expected.empty());
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].owner, h.HostWindow());
  EXPECT_NE(run.boxes[0].text.find(expected), std::string::npos) << run.boxes[0].text;
  EXPECT_EQ(run.Outline(),
            (std::vector<std::string>{"S:" + kEstablishing, "S:" + kEstablishing,
                                      "B:" + run.boxes[0].text, "S:" + kFailed, "C"}));
  // The connection completed: the record was read and Connect reported its end.
  ASSERT_GE(run.progress.size(), 2u);
  EXPECT_EQ(run.progress.back(), 100);
  auto device = kv70sim::FindInstance("gone");
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(Requests(*device, 0x06), 1u);
  EXPECT_EQ(Requests(*device, kRead), 0u);
  EXPECT_EQ(Requests(*device, kRebootCommand), 0u) << "the device is not restarted";
  {
    std::lock_guard lock(device->Mutex());
    EXPECT_EQ(device->GetCounters().reboots, 0u);
    EXPECT_EQ(device->State(), kv70sim::DeviceState::FlashMonitor);
  }
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_TRUE(PortReleased("gone"));
}

TEST_F(DumpE2eTest, ACancelDuringTheDumpKeepsTheWholeBlocksReadSoFar) {
  // A monitor left running: the connection reports only 0 and 100, so 48 is the dump's.
  h.UseDevice("name=cancel,state=monitor,fs-mb=1,fs-image=" + RandomImage(1, 5));
  ChooseLogFile(logPath.string());
  h.CancelWhenProgress(48);
  const RunOutcome run = h.Run(kFileSystemDump);

  EXPECT_EQ(run.result, OPERATION_CANCELED);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(run.statuses.back(), kCanceled);
  const Bytes log = ReadFile(logPath);
  EXPECT_EQ(log.size() % kBlock, 0u);
  EXPECT_EQ(log.size(), 494 * kBlock) << "cancelled at the report of block 494";
  EXPECT_TRUE(std::equal(log.begin(), log.end(), image.begin()));
  auto device = kv70sim::FindInstance("cancel");
  EXPECT_EQ(Requests(*device, kRebootCommand), 0u);
  EXPECT_TRUE(PortReleased("cancel"));
}

TEST_F(DumpE2eTest, AWriteFailureInTheMiddleIsAFailure) {
  // The file may grow to 100 blocks; the 101st write fails as on a full disk.
  h.UseDevice("fs-mb=1,fs-image=" + RandomImage(1, 6));
  ChooseLogFile(logPath.string());
  if (!platform_test::FileSizeLimit::Supported()) GTEST_SKIP() << "no file-size limit here";
  std::optional<platform_test::FileSizeLimit> limit(std::in_place, 100 * kBlock);
  ASSERT_TRUE(limit->Active());
  const RunOutcome run = h.Run(kFileSystemDump);
  limit.reset();

  EXPECT_EQ(run.result, OPERATION_FAILED);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_NE(run.boxes[0].text.find(logPath.filename().string()), std::string::npos)
      << run.boxes[0].text;
  EXPECT_EQ(run.statuses.back(), kFailed);
  EXPECT_EQ(Requests(*h.Simulator(), kRebootCommand), 0u);
  const Bytes log = ReadFile(logPath);
  EXPECT_EQ(log.size(), 100 * kBlock);
  EXPECT_TRUE(std::equal(log.begin(), log.end(), image.begin()));
}

}  // namespace
