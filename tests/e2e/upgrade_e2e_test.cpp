// The software upgrade from the host's side: a firmware file registered in the
// catalogue and chosen on the selection page, DoOperation against the simulated KV70 in
// virtual time, the wire and the device's flash afterwards.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "platform/comm_port.h"
#include "platform/registry.h"
#include "platform/testing/system_for_tests.h"
#include "sim/flash.h"
#include "tests/e2e/e2e_harness.h"
#include "tests/e2e/e2e_texts.h"
#include "tests/e2e/upgrade_image.h"

namespace {

using kv70::e2e::kCanceled;
using kv70::e2e::kEstablishing;
using kv70::e2e::kFailed;
using kv70::e2e::kRebooting;
using kv70::e2e::kUpgradeDone;
using kv70::e2e::kWaiting;

using kv70::e2e::Harness;
using kv70::e2e::kSoftwareUpgrade;
using kv70::e2e::RunOutcome;
namespace up = kv70::upgrade;
using Bytes = std::vector<std::uint8_t>;

const std::string kConfiguring = "Configuring software update...";
const std::string kCollecting = "Collecting garbage...";
const std::string kErasing = "Erasing program flash...";
const std::string kUpdating = "Updating the software of the KV70...";
const std::string kInstalledQuestion = "Software version already installed!\n\nProceed?";

// Flash-monitor requests the PC wrote, one per port write.
class RequestTap : public platform::WireTap {
 public:
  void OnWrite(const BYTE* data, DWORD count) override {
    if (count >= 8 && data[0] == 0x02 && data[1] != 0x00) writes.emplace_back(data, data + count);
  }
  void OnRead(const BYTE*, DWORD) override {}
  void OnBreakSent(DWORD) override {}
  void OnBreakReceived() override {}
  void OnSpeed(DWORD) override {}

  std::vector<up::ImageBlock> ProgramBlocks() const {
    std::vector<up::ImageBlock> out;
    for (const Bytes& w : writes) {
      if (w[1] != 0x03) continue;
      const std::uint32_t n = (std::uint32_t{w[2]} << 8 | w[3]) - 4;
      out.push_back({Be32(w, 4), n});
    }
    return out;
  }
  // The sector addresses of each erase request.
  std::vector<std::vector<std::uint32_t>> Erases() const {
    std::vector<std::vector<std::uint32_t>> out;
    for (const Bytes& w : writes) {
      if (w[1] != 0x01) continue;
      std::vector<std::uint32_t> list;
      for (std::size_t i = 0; i < w[4]; ++i) list.push_back(Be32(w, 5 + 4 * i));
      out.push_back(list);
    }
    return out;
  }
  std::size_t Count(BYTE command) const {
    std::size_t n = 0;
    for (const Bytes& w : writes) n += w[1] == command;
    return n;
  }

  std::vector<Bytes> writes;

 private:
  static std::uint32_t Be32(const Bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 |
           std::uint32_t{b[at + 2]} << 8 | b[at + 3];
  }
};

std::vector<std::uint32_t> SectorStarts(std::uint16_t flashType) {
  std::vector<std::uint32_t> out;
  for (const kv70sim::Sector& s : kv70sim::SectorTable(flashType)) out.push_back(s.start);
  return out;
}

// The option area as hex for the simulator: application entry 1 (option 40) with the
// given 8-bit value, everything before it zero.
std::string OptionsWithEntry1Value(int value) {
  std::string hex;
  char digits[3];
  for (int i = 0; i < 47; ++i) {
    std::snprintf(digits, sizeof digits, "%02X", i == 46 ? value : 0);
    hex += digits;
  }
  return hex;
}

class UpgradeE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(h.Loaded());
    dir = std::filesystem::temp_directory_path() /
          ("kv70_upgrade_e2e_" + platform_test::UniqueName("") + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    platform::SetWireTap(&tap);
  }
  void TearDown() override {
    platform::SetWireTap(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  // Writes the image, registers it in the catalogue under `description` and lets the
  // user choose it on the selection page; returns the file's path.
  std::string Offer(const up::Image& image, const std::string& description = "KV70 application",
                    long badChecksumRecord = -1) {
    const std::string path = (dir / (description + ".x")).string();
    up::WriteImage(image, path, badChecksumRecord);
    Register(description, path);
    ChooseOnThePage();
    return path;
  }

  void Register(const std::string& description, const std::string& path) {
    HKEY key = nullptr;
    const std::string name = "SOFTWARE\\Quarnell\\Velmora\\Firmware\\" + description;
    ASSERT_EQ(
        platform::RegCreateKeyEx(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr,
                                 REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    auto text = [key](const char* value, const std::string& s) {
      EXPECT_EQ(
          platform::RegSetValueEx(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(s.c_str()),
                                  static_cast<DWORD>(s.size() + 1)),
          ERROR_SUCCESS);
    };
    text("Description", description);
    text("DeviceType", "KV70");
    text("FirmwarePath", path);
    const DWORD original = 0;
    EXPECT_EQ(platform::RegSetValueEx(key, "OriginalInstall", 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&original), sizeof original),
              ERROR_SUCCESS);
    platform::RegCloseKey(key);
  }

  // The host's wizard with the operation's page: shown (it preselects the newest file),
  // Next (it checks the file), Finish.
  void ChooseOnThePage() {
    auto* page = reinterpret_cast<CPropertyPage*>(h.GetExports().GetPage(kSoftwareUpgrade, 0));
    ASSERT_NE(page, nullptr);
    CPropertySheet sheet("Velmora");
    sheet.AddPage(page);
    sheet.SetWizardMode();
    h.Ui().OnWizard([](CPropertySheet& s) {
      s.PressButton(PSBTN_NEXT);
      s.PressButton(PSBTN_FINISH);
    });
    sheet.DoModal();
    h.Ui().ClearBoxes();
  }

  RunOutcome Upgrade() {
    tap.writes.clear();
    return h.Run(kSoftwareUpgrade);
  }

  // Program flash as srec_cat makes it of the file: the file's data, 0xFF elsewhere.
  Bytes SrecCatImage(const std::string& path) {
    const std::string bin = (dir / "srec_cat.bin").string();
    const std::string command = "srec_cat '" + path +
                                "' -fill 0xFF 0x02400000 0x02600000 -offset -0x02400000 -o '" +
                                bin + "' -binary 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command;
    std::ifstream in(bin, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  Bytes ProgramFlash() {
    auto sim = h.Simulator();
    if (!sim) return {};
    std::lock_guard<std::mutex> lock(sim->Mutex());
    const auto flash = sim->ProgFlash();
    return Bytes(flash.begin(), flash.end());
  }

  // The flash holds every record's bytes.
  ::testing::AssertionResult FlashHolds(const up::Image& image) {
    const Bytes flash = ProgramFlash();
    if (flash.size() != up::kProgramFlashSize) return ::testing::AssertionFailure() << "no flash";
    for (const auto& r : image.records)
      for (std::size_t i = 0; i < r.data.size(); ++i)
        if (flash[r.address - up::kProgramFlash + i] != r.data[i])
          return ::testing::AssertionFailure() << "differs at 0x" << std::hex << r.address + i;
    return ::testing::AssertionSuccess();
  }

  std::size_t Erases() { return tap.Count(0x01); }

  Harness h;
  RequestTap tap;
  std::filesystem::path dir;
};

// A small image at the start of program flash.
up::Image SmallImage(std::array<std::uint8_t, 4> word = {0x5A, 0xA5, 0x30, 0x01},
                     bool withWord = true) {
  up::ImageOptions o;
  o.end = up::kProgramFlash + 0x3000;
  o.gapOneIn = 40;
  o.word = word;
  o.withWord = withWord;
  return up::MakeImage(o);
}

TEST_F(UpgradeE2eTest, TwoMebibyteImageLandsByteForByte) {
  if (!platform_test::RunsLinuxTools())
    GTEST_SKIP() << "srec_cat, the reference reader, is Linux's";
  h.UseDevice("flash-type=8922");
  const up::Image image = up::MakeImage({});
  ASSERT_GT(image.gaps, 50u);
  ASSERT_GT(image.dataBytes, 2070000u);
  const std::string path = Offer(image);

  const RunOutcome run = Upgrade();
  ASSERT_EQ(run.result, OPERATION_SUCCEEDED) << ::testing::PrintToString(run.statuses);
  EXPECT_EQ(run.caption, "Software Upgrade");
  EXPECT_EQ(run.statuses.back(), kUpgradeDone);
  EXPECT_TRUE(run.boxes.empty());

  // Program flash equals an independent conversion of the file.
  const Bytes expected = SrecCatImage(path);
  ASSERT_EQ(expected.size(), up::kProgramFlashSize);
  const Bytes flash = ProgramFlash();
  ASSERT_EQ(flash.size(), expected.size());
  std::size_t differing = 0;
  for (std::size_t i = 0; i < flash.size(); ++i) differing += flash[i] != expected[i];
  EXPECT_EQ(differing, 0u);

  // Blocks: at most 252 bytes, merged across contiguous records, split at gaps.
  const auto blocks = tap.ProgramBlocks();
  EXPECT_EQ(blocks, up::ExpectedBlocks(image));
  std::size_t splits = 0;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_LE(blocks[i].length, 252u);
    if (i > 0) splits += blocks[i - 1].address + blocks[i - 1].length != blocks[i].address;
  }
  EXPECT_LT(blocks.size(), image.records.size() / 4) << "contiguous records are merged";
  EXPECT_EQ(splits, image.gaps) << "every gap starts a new block";

  // One erase with the flash type's table, in order; no garbage collection for Info0 4.
  ASSERT_EQ(tap.Erases().size(), 1u);
  EXPECT_EQ(tap.Erases()[0], SectorStarts(8922));
  EXPECT_EQ(h.Simulator()->GetCounters().garbageCollections, 0u);
  EXPECT_EQ(h.Simulator()->GetCounters().reboots, 1u);
  EXPECT_EQ(tap.Count(0x0A), 1u);
}

TEST_F(UpgradeE2eTest, StatusesOfASuccessfulRun) {
  h.UseDevice("flash-type=8777");
  const up::Image image = SmallImage();
  Offer(image);
  const RunOutcome run = Upgrade();
  ASSERT_EQ(run.result, OPERATION_SUCCEEDED);
  EXPECT_EQ(run.statuses,
            (std::vector<std::string>{kEstablishing, kConfiguring, kCollecting, kErasing, kUpdating,
                                      kRebooting, kUpgradeDone}));
  EXPECT_EQ(run.completions, 1);
  EXPECT_EQ(run.progress.back(), 100);
  EXPECT_TRUE(FlashHolds(image));
}

TEST_F(UpgradeE2eTest, EachFlashTypeErasesItsTableInOrderAndCollectsAsItNeeds) {
  const struct {
    std::uint16_t flashType;
    int info0;
    int info1;
    bool collects;
  } cases[] = {
      {8922, 4, 0xFFFF, false}, {215, 4, 245, false}, {215, 4, 246, true},
      {215, 5, 0xFFFF, true},   {8900, 0, 0, false},  {8900, 0xFFFF, 300, true},
      {91, 4, 245, true},       {8795, 0, 0, true},   {8777, 0, 0, true},
  };
  const up::Image image = SmallImage();
  Offer(image);
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.flashType << " info0 " << c.info0 << " info1 " << c.info1);
    h.UseDevice("flash-type=" + std::to_string(c.flashType) + ",info0=" + std::to_string(c.info0) +
                ",info1=" + std::to_string(c.info1));
    const RunOutcome run = Upgrade();
    ASSERT_EQ(run.result, OPERATION_SUCCEEDED);
    ASSERT_EQ(tap.Erases().size(), 1u);
    EXPECT_EQ(tap.Erases()[0], SectorStarts(c.flashType));
    EXPECT_EQ(h.Simulator()->GetCounters().garbageCollections, c.collects ? 1u : 0u);
    EXPECT_EQ(std::count(run.statuses.begin(), run.statuses.end(), kCollecting),
              c.collects ? 1 : 0);
    EXPECT_TRUE(FlashHolds(image));
  }
}

TEST_F(UpgradeE2eTest, TableBAndTableCAsListed) {
  const std::vector<std::uint32_t> b = SectorStarts(91);
  ASSERT_EQ(b.size(), 37u);
  EXPECT_EQ((std::vector<std::uint32_t>(b.begin(), b.begin() + 3)),
            (std::vector<std::uint32_t>{0x02400000, 0x02404000, 0x02406000}));
  EXPECT_EQ(SectorStarts(8900).size(), 34u);
}

TEST_F(UpgradeE2eTest, AlreadyInstalledAnsweredNoErasesNothing) {
  h.UseDevice("app-id=1,options=" + OptionsWithEntry1Value(7));
  Offer(SmallImage({0x00, 0x00, 0x1F, 0x07}));
  h.Ui().QueueAnswer(IDNO);
  const RunOutcome run = Upgrade();
  EXPECT_EQ(run.result, OPERATION_CANCELED);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, kInstalledQuestion);
  EXPECT_EQ(run.statuses.back(), kCanceled);
  EXPECT_EQ(Erases(), 0u);
  EXPECT_EQ(tap.Count(0x03), 0u);
  EXPECT_EQ(h.Simulator()->GetCounters().reboots, 0u);
  EXPECT_EQ(std::count(run.statuses.begin(), run.statuses.end(), kErasing), 0);
}

TEST_F(UpgradeE2eTest, AlreadyInstalledAnsweredYesUpgrades) {
  h.UseDevice("app-id=1,options=" + OptionsWithEntry1Value(7));
  const up::Image image = SmallImage({0x00, 0x00, 0x1F, 0x07});
  Offer(image);
  h.Ui().QueueAnswer(IDYES);
  const RunOutcome run = Upgrade();
  EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, kInstalledQuestion);
  EXPECT_TRUE(FlashHolds(image));
}

TEST_F(UpgradeE2eTest, OtherApplicationIndexIsNotAsked) {
  h.UseDevice("app-id=1,options=" + OptionsWithEntry1Value(7));
  Offer(SmallImage({0x00, 0x00, 0x2F, 0x07}));
  const RunOutcome run = Upgrade();
  EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
  EXPECT_TRUE(run.boxes.empty());
}

TEST_F(UpgradeE2eTest, FileWithoutTheWordErasesNothing) {
  h.UseDevice("flash-type=8777");  // would collect garbage first
  const std::string path = Offer(SmallImage({}, false));
  const RunOutcome run = Upgrade();
  EXPECT_EQ(run.result, OPERATION_CANCELED);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_NE(run.boxes[0].text.find(
                "The software file " + path +
                " is invalid.\n\nPlease re-install the selected software version file or "
                "select another software version and try again."),
            std::string::npos)
      << run.boxes[0].text;
  EXPECT_EQ(run.statuses.back(), kCanceled);
  EXPECT_EQ(Erases(), 0u);
  EXPECT_EQ(tap.Count(0x07), 0u);
  EXPECT_EQ(h.Simulator()->GetCounters().reboots, 0u);
}

// The record lies far behind the identification word, where only the programming used
// to look: the file is refused before the port opens.
TEST_F(UpgradeE2eTest, BadRecordChecksumAfterTheWordIsRefusedBeforeTheDeviceIsTouched) {
  h.UseDevice("");
  up::ImageOptions o;
  o.end = up::kProgramFlash + 0x8000;
  const up::Image image = up::MakeImage(o);
  ASSERT_GT(image.records.size(), 300u);
  const std::string path = (dir / "application.x").string();
  up::WriteImage(image, path);
  Register("KV70 application", path);
  ChooseOnThePage();
  up::WriteImage(image, path, 300);  // spoilt after the page's check
  const RunOutcome run = Upgrade();
  EXPECT_EQ(run.result, OPERATION_FAILED);
  ASSERT_EQ(run.boxes.size(), 1u);
  // Line 302: the header and 300 good records come first.
  EXPECT_NE(run.boxes[0].text.find(
                "Program failure! [415] - There was a checksum failure with the specified "
                "software file.\n\nSelect another file and try again.\n\nLine 302 of the file"),
            std::string::npos)
      << run.boxes[0].text;
  EXPECT_EQ(run.statuses, std::vector<std::string>{kFailed});
  EXPECT_EQ(h.Simulator(), nullptr) << "the port was never opened";
  EXPECT_TRUE(tap.writes.empty());
}

TEST_F(UpgradeE2eTest, CablePulledDuringProgrammingWaitsAndCompletes) {
  if (!platform_test::RunsLinuxTools())
    GTEST_SKIP() << "srec_cat, the reference reader, is Linux's";
  up::ImageOptions o;
  o.end = up::kProgramFlash + 0x10000;
  const up::Image image = up::MakeImage(o);
  const std::string path = Offer(image);

  // A clean run first, to find the exchanges of the programming phase.
  h.UseDevice("");
  ASSERT_EQ(Upgrade().result, OPERATION_SUCCEEDED);
  const auto counters = h.Simulator()->GetCounters();
  const std::uint64_t programs = counters.programRequests;
  ASSERT_GT(programs, 100u);
  // After the last program request come the finishing command and the reboot.
  const std::uint64_t firstProgram = counters.exchanges - 2 - programs + 1;
  const std::uint64_t pulledFrom = firstProgram + programs / 2;
  constexpr int kPulled = 5;

  h.UseDevice("pull=" + std::to_string(pulledFrom) + "-" +
              std::to_string(pulledFrom + kPulled - 1));
  const RunOutcome run = Upgrade();
  ASSERT_EQ(run.result, OPERATION_SUCCEEDED);
  EXPECT_EQ(std::count(run.statuses.begin(), run.statuses.end(), kWaiting), kPulled);
  // The waiting status repeats, once a try, and the update status returns once the
  // cable is back.
  auto first = std::find(run.statuses.begin(), run.statuses.end(), kWaiting);
  ASSERT_NE(first, run.statuses.end());
  EXPECT_EQ(*(first - 1), kUpdating);
  EXPECT_EQ(std::vector<std::string>(first, first + kPulled),
            std::vector<std::string>(kPulled, kWaiting));
  EXPECT_EQ(*(first + kPulled), kUpdating);
  EXPECT_EQ(run.statuses.back(), kUpgradeDone);

  const Bytes expected = SrecCatImage(path);
  EXPECT_TRUE(ProgramFlash() == expected);
  EXPECT_TRUE(FlashHolds(image));
}

// A program reply that comes after the PC gave up is the answer to that block's try, not
// to the next block's: taken for the next one, a block whose request was lost would count
// as programmed.
TEST_F(UpgradeE2eTest, ALateReplyIsNotTakenForTheNextBlocksWhoseRequestWasLost) {
  if (!platform_test::RunsLinuxTools())
    GTEST_SKIP() << "srec_cat, the reference reader, is Linux's";
  up::ImageOptions o;
  o.end = up::kProgramFlash + 0x10000;
  const up::Image image = up::MakeImage(o);
  const std::string path = Offer(image);

  h.UseDevice("");
  ASSERT_EQ(Upgrade().result, OPERATION_SUCCEEDED);
  const auto counters = h.Simulator()->GetCounters();
  const std::uint64_t programs = counters.programRequests;
  ASSERT_GT(programs, 100u);
  // After the last program request come the finishing command and the reboot, each with
  // one exchange and one reply.
  const std::uint64_t block = programs / 2;
  const std::uint64_t exchange = counters.exchanges - 2 - programs + 1 + block;
  const std::uint64_t reply = counters.replies - 2 - programs + 1 + block;
  // The block's reply comes late and it is sent again; the next block's first request
  // is lost on the line.
  h.UseDevice("late-reply=" + std::to_string(reply) + "-" + std::to_string(reply) +
              ",pull=" + std::to_string(exchange + 2) + "-" + std::to_string(exchange + 2));
  const RunOutcome run = Upgrade();
  ASSERT_EQ(run.result, OPERATION_SUCCEEDED);
  EXPECT_GE(std::count(run.statuses.begin(), run.statuses.end(), kWaiting), 1);
  EXPECT_TRUE(ProgramFlash() == SrecCatImage(path)) << "a block was never programmed";
  EXPECT_TRUE(FlashHolds(image));
}

TEST_F(UpgradeE2eTest, NoChoiceOnThePageEndsBeforeThePortOpens) {
  h.UseDevice("");
  const RunOutcome run = Upgrade();
  EXPECT_EQ(run.result, OPERATION_CANCELED);
  EXPECT_EQ(run.caption, "Software Upgrade");
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_NE(run.boxes[0].text.find("No software version was selected."), std::string::npos);
  EXPECT_EQ(run.statuses, std::vector<std::string>{kCanceled});
  EXPECT_EQ(h.Simulator(), nullptr);
}

TEST_F(UpgradeE2eTest, PortThatCannotBeOpened) {
  Offer(SmallImage());
  h.SetPortName(1, (dir / "no-such-tty").string());
  const RunOutcome run = Upgrade();
  EXPECT_EQ(run.result, OPERATION_FAILED);
  EXPECT_EQ(run.caption, "Software Upgrade");
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_NE(
      run.boxes[0].text.find("COM Failure! [301] There was a failure [2] attempting to open COM1."),
      std::string::npos)
      << run.boxes[0].text;
  EXPECT_EQ(run.statuses, (std::vector<std::string>{kEstablishing, kFailed}));
  EXPECT_EQ(run.completions, 1);
}

TEST_F(UpgradeE2eTest, CancelDuringConnectReleasesThePort) {
  h.UseDevice("name=kept");
  Offer(SmallImage());
  h.CancelWhenProgress(15);
  const RunOutcome run = Upgrade();
  EXPECT_EQ(run.result, OPERATION_CANCELED);
  EXPECT_EQ(run.statuses, (std::vector<std::string>{kEstablishing, kCanceled}));
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(Erases(), 0u);
  // The named device is open to one port at a time: a second run reaches it only if the
  // first let go of the port.
  h.ClearCancel();
  EXPECT_EQ(Upgrade().result, OPERATION_SUCCEEDED);
}

TEST_F(UpgradeE2eTest, CancelDuringProgrammingReleasesThePort) {
  h.UseDevice("name=kept");
  up::ImageOptions o;
  o.end = up::kProgramFlash + 0x10000;
  Offer(up::MakeImage(o));
  h.CancelWhenStatus(kUpdating);
  const RunOutcome run = Upgrade();
  EXPECT_EQ(run.result, OPERATION_CANCELED);
  EXPECT_EQ(run.statuses.back(), kCanceled);
  EXPECT_EQ(tap.Count(0x0A), 0u);
  // The port was released: the next run opens it again and completes.
  h.ClearCancel();
  EXPECT_EQ(Upgrade().result, OPERATION_SUCCEEDED);
}

}  // namespace
