// Firmware files the upgrade must refuse before the device is touched, through the
// exports against the simulator: the sample file spoilt as a user's download or editor
// might spoil it, and thousands of mutated copies, each either refused with program flash
// untouched or programmed to exactly what srec_cat reads in it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "platform/registry.h"
#include "platform/testing/system_for_tests.h"
#include "resources/resource.h"
#include "sim/sim_port.h"
#include "tests/e2e/e2e_harness.h"
#include "tests/e2e/e2e_texts.h"
#include "tests/e2e/upgrade_image.h"

namespace {

using kv70::e2e::kFailed;
using kv70::e2e::kUpgradeDone;

using kv70::e2e::Harness;
using kv70::e2e::kSoftwareUpgrade;
using kv70::e2e::RunOutcome;
namespace fs = std::filesystem;
namespace up = kv70::upgrade;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kFlash = 0x02400000;
constexpr std::size_t kFlashSize = 0x200000;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// The file's lines with their CR LF ends removed, and back.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    at = end + 1;
  }
  return lines;
}
std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  return text;
}

// Binary data of `size` bytes for program flash, with the sample's identification word
// (a version the simulated device does not run) at its place.
void WriteImageData(const fs::path& path, std::size_t size, std::uint32_t seed) {
  Bytes data(size);
  up::Lcg rng(seed);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng.Next());
  const std::uint8_t word[4] = {0x56, 0x4D, 0x00, 0x21};
  std::copy(word, word + 4, data.begin() + 0x420);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

bool Shell(const std::string& command) {
  return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

class FirmwareRefusalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(h.Loaded());
    dir = fs::temp_directory_path() /
          ("kv70_refusal_e2e_" + platform_test::UniqueName("") + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
    firmware = dir / "velmora-sample.x";
    sample = ReadText(KV70_SAMPLE_FIRMWARE);
    ASSERT_EQ(Lines(sample).size(), 514u);
    // What the device held before: any upgrade that erased it shows.
    previous.resize(kFlashSize);
    up::Lcg rng(7);
    for (auto& b : previous) b = static_cast<std::uint8_t>(rng.Next());
    {
      std::ofstream out(dir / "previous.bin", std::ios::binary);
      out.write(reinterpret_cast<const char*>(previous.data()),
                static_cast<std::streamsize>(previous.size()));
    }
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }

  // The sample registered and chosen on the page (which checks it), as a user would.
  void OfferSample() {
    WriteText(firmware, sample);
    HKEY key = nullptr;
    ASSERT_EQ(platform::RegCreateKeyEx(
                  HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarnell\\Velmora\\Firmware\\Sample", 0, nullptr,
                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    auto text = [key](const char* value, const std::string& s) {
      platform::RegSetValueEx(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(s.c_str()),
                              static_cast<DWORD>(s.size() + 1));
    };
    text("Description", "Sample");
    text("DeviceType", "KV70");
    text("FirmwarePath", firmware.string());
    const DWORD zero = 0;
    platform::RegSetValueEx(key, "OriginalInstall", 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&zero), sizeof zero);
    platform::RegCloseKey(key);
    ASSERT_TRUE(PressNext().empty()) << "the sample passes";
  }

  // Shows the page and presses Next; the boxes it showed.
  std::vector<std::string> PressNext() {
    auto* page = reinterpret_cast<CPropertyPage*>(h.GetExports().GetPage(kSoftwareUpgrade, 0));
    CPropertySheet sheet("Velmora");
    sheet.AddPage(page);
    sheet.SetWizardMode();
    h.Ui().OnWizard([](CPropertySheet& s) {
      s.PressButton(PSBTN_NEXT);
      s.PressButton(PSBTN_CANCEL);
    });
    h.Ui().ClearBoxes();
    sheet.DoModal();
    std::vector<std::string> texts;
    for (const auto& box : h.Ui().Boxes()) texts.push_back(box.text);
    h.Ui().ClearBoxes();
    return texts;
  }

  // The sample as the page registers it: a copy in the firmware directory of an
  // installation in `dir`.
  void OfferSampleCopy() {
    HKEY key = nullptr;
    ASSERT_EQ(
        platform::RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarnell\\Velmora", 0, nullptr,
                                 REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    const std::string install = dir.string();
    platform::RegSetValueEx(key, "InstallDirectory", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(install.c_str()),
                            static_cast<DWORD>(install.size() + 1));
    platform::RegCloseKey(key);
    fs::create_directories(dir / "Firmware");
    firmware = dir / "Firmware" / "velmora-sample.x";
    OfferSample();
  }

  // Shows the selection page, lets `act` work on it, and cancels; the boxes it showed.
  std::vector<std::string> OnThePage(const std::function<void(CPropertyPage&)>& act) {
    auto* page = reinterpret_cast<CPropertyPage*>(h.GetExports().GetPage(kSoftwareUpgrade, 0));
    CPropertySheet sheet("Velmora");
    sheet.AddPage(page);
    sheet.SetWizardMode();
    const std::size_t before = h.Ui().BoxCount();
    h.Ui().OnWizard([&](CPropertySheet& s) {
      act(*page);
      s.PressButton(PSBTN_CANCEL);
    });
    sheet.DoModal();
    std::vector<std::string> texts;
    const auto& boxes = h.Ui().Boxes();
    for (std::size_t i = before; i < boxes.size(); ++i) texts.push_back(boxes[i].text);
    return texts;
  }

  // A fresh device holding `previous`, then the upgrade.
  RunOutcome Upgrade(const std::string& settings = "") {
    kv70sim::ForgetInstances();
    h.UseDevice("prog-image=" + (dir / "previous.bin").string() +
                (settings.empty() ? "" : "," + settings));
    return h.Run(kSoftwareUpgrade);
  }

  Bytes ProgramFlash() {
    auto sim = h.Simulator();
    if (!sim) return previous;  // never opened: untouched
    std::lock_guard<std::mutex> lock(sim->Mutex());
    const auto flash = sim->ProgFlash();
    return Bytes(flash.begin(), flash.end());
  }

  // What the flash must hold after programming the file: srec_cat's reading of it over
  // the erased part, the previous content above. Empty when srec_cat refuses the file.
  Bytes Expected(const fs::path& path, std::uint32_t erasedEnd = up::kErasedEnd) {
    const fs::path bin = dir / "srec_cat.bin";
    char range[64];
    std::snprintf(range, sizeof range, "0x%08X 0x%08X", kFlash, erasedEnd);
    const std::string command = "srec_cat '" + path.string() + "' -fill 0xFF " + range +
                                " -offset -0x02400000 -o '" + bin.string() +
                                "' -binary 2>/dev/null";
    if (std::system(command.c_str()) != 0) return {};
    const std::string data = ReadText(bin);
    Bytes expected(previous);
    if (data.size() != erasedEnd - kFlash) return {};
    std::copy(data.begin(), data.end(), expected.begin());
    return expected;
  }

  Harness h;
  fs::path dir;
  fs::path firmware;
  std::string sample;
  Bytes previous;
};

// The reproductions: each spoilt sample used to program with data missing, or to erase
// the device before the failure. Now: refused before the port opens, with the line.
TEST_F(FirmwareRefusalTest, SpoiltSampleIsRefusedBeforeThePortOpens) {
  if (!platform_test::RunsLinuxTools())
    GTEST_SKIP() << "srec_cat, the reference reader, is Linux's";
  OfferSample();
  const std::vector<std::string> good = Lines(sample);
  auto edit = [&](int number, auto change) {
    std::vector<std::string> lines = good;
    change(lines[static_cast<std::size_t>(number - 1)]);
    return Join(lines);
  };
  const std::string beyond = [] {
    const std::uint8_t data[4] = {1, 2, 3, 4};
    std::string line = up::RecordLine('3', up::kErasedEnd, 4, data, 4);
    return line.substr(0, line.size() - 2);
  }();
  const struct {
    const char* name;
    std::string text;
    int code;
    std::string says;
  } cases[] = {
      {"line 50 as SZ", edit(50, [](std::string& l) { l[1] = 'Z'; }), 416,
       "Line 50 of the file has the unknown record type SZ."},
      {"line 50 as S4", edit(50, [](std::string& l) { l[1] = '4'; }), 416,
       "Line 50 of the file has the unknown record type S4."},
      {"line 400 as S6", edit(400, [](std::string& l) { l[1] = '6'; }), 416,
       "Line 400 of the file has a byte count (37) that does not fit its record type."},
      {"line 400 in lower case",
       edit(400, [](std::string& l) { std::transform(l.begin(), l.end(), l.begin(), ::tolower); }),
       416, "Line 400 of the file is not an S-record."},
      {"line 400 as X3", edit(400, [](std::string& l) { l[0] = 'X'; }), 416,
       "Line 400 of the file is not an S-record."},
      {"bad checksum on line 400",
       edit(400, [](std::string& l) { l.back() = l.back() == '0' ? '1' : '0'; }), 415,
       "Line 400 of the file has the checksum"},
      {"line 400 cut", edit(400, [](std::string& l) { l.resize(40); }), 416,
       "Line 400 of the file is 40 characters long; its byte count says 78."},
      {"non-hex digit on line 400", edit(400, [](std::string& l) { l[20] = 'G'; }), 416,
       "Line 400 of the file holds a character that is not a hexadecimal digit."},
      {"image larger than the program flash",
       [&] {
         std::vector<std::string> lines = good;
         lines.insert(lines.end() - 1, beyond);
         return Join(lines);
       }(),
       416,
       "Line 514 of the file places data at 0x025FC000, outside the program flash (0x02400000 to "
       "0x025FBFFF)."},
      {"S5 counting the first 299 data records, then data and no end record",
       [&] {
         std::vector<std::string> lines(good.begin(), good.begin() + 300);
         const std::uint8_t count[2] = {0x01, 0x2B};
         const std::string s5 = up::RecordLine('5', 0, 0, count, 2);
         lines.push_back(s5.substr(0, s5.size() - 2));
         lines.insert(lines.end(), good.begin() + 300, good.begin() + 310);
         return Join(lines);
       }(),
       416,
       "The file has no end record, and no count record after its last data record on line 311: "
       "it may have been cut short."},
      {"data after the end record", Join(good) + good[1] + "\r\n", 416,
       "Line 515 of the file holds data after the end record on line 514."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText(firmware, c.text);
    const RunOutcome run = Upgrade();
    EXPECT_EQ(run.result, OPERATION_FAILED);
    ASSERT_EQ(run.boxes.size(), 1u);
    const std::string head =
        c.code == 415
            ? "Program failure! [415] - There was a checksum failure with the specified software "
              "file."
            : "Program failure! [416] - There was an error with the specified software file.";
    EXPECT_NE(run.boxes[0].text.find(head + "\n\nSelect another file and try again.\n\n" + c.says),
              std::string::npos)
        << run.boxes[0].text;
    EXPECT_EQ(run.statuses, std::vector<std::string>{kFailed});
    EXPECT_EQ(run.completions, 1);
    EXPECT_EQ(h.Simulator(), nullptr) << "the port was never opened";
    EXPECT_EQ(ReadText(firmware), c.text) << "the file is left as it was";

    // The page's Next says the same before any run.
    const std::vector<std::string> boxes = PressNext();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind(
                  "The location (" + firmware.string() +
                      ") of Sample points to an invalid software file.\n\nEither select another "
                      "software version, or check the location and try again.\n\n" +
                      c.says,
                  0),
              0u)
        << boxes[0];
  }
  // And the sample itself still programs, byte for byte.
  WriteText(firmware, sample);
  const RunOutcome run = Upgrade();
  ASSERT_EQ(run.result, OPERATION_SUCCEEDED);
  EXPECT_TRUE(ProgramFlash() == Expected(firmware));
}

// Files that programmed before the whole-file check: blank lines holding spaces or tabs
// (CR LF and LF) and a DOS Ctrl-Z closing the file. They program exactly the sample's
// bytes; a Ctrl-Z with anything after it is still refused before the port opens.
TEST_F(FirmwareRefusalTest, BlankLinesWithSpacesAndAClosingCtrlZProgramAsTheSample) {
  if (!platform_test::RunsLinuxTools())
    GTEST_SKIP() << "srec_cat, the reference reader, is Linux's";
  OfferSample();
  ASSERT_EQ(Upgrade().result, OPERATION_SUCCEEDED);
  const Bytes plain = ProgramFlash();
  ASSERT_TRUE(plain == Expected(firmware));

  const std::vector<std::string> good = Lines(sample);
  std::string spaced;
  for (std::size_t i = 0; i < good.size(); ++i) {
    spaced += good[i] + (i % 2 ? "\n" : "\r\n");
    // After the six lines the open's quick check reads, and after the end record.
    if (i == 10) spaced += "  \t \r\n";
    if (i == 200) spaced += "\t\n";
    if (i == 300) spaced += " \n \r\n";
  }
  spaced += "   \r\n";
  const struct {
    const char* name;
    std::string text;
    bool programs;
  } cases[] = {
      {"spaces and tabs on blank lines", spaced, true},
      {"and a closing Ctrl-Z", spaced + "\x1A", true},
      {"Ctrl-Z with a blank line after it", spaced + "\x1A\r\n\r\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText(firmware, c.text);
    const RunOutcome run = Upgrade();
    if (c.programs) {
      ASSERT_EQ(run.result, OPERATION_SUCCEEDED);
      EXPECT_TRUE(ProgramFlash() == plain) << "programs as the sample does";
      EXPECT_TRUE(ProgramFlash() == Expected(firmware)) << "and as srec_cat reads it";
    } else {
      EXPECT_EQ(run.result, OPERATION_FAILED);
      ASSERT_EQ(run.boxes.size(), 1u);
      EXPECT_NE(run.boxes[0].text.find("Line 520 of the file is not an S-record."),
                std::string::npos)
          << run.boxes[0].text;
      EXPECT_EQ(h.Simulator(), nullptr) << "the port was never opened";
    }
  }
}

// Bottom-boot flash erases less than top-boot flash: data above its erase passes before
// the port opens, but the device's own type refuses it before anything is erased.
TEST_F(FirmwareRefusalTest, DataBeyondTheDevicesOwnEraseIsRefusedBeforeTheErase) {
  if (!platform_test::RunsLinuxTools())
    GTEST_SKIP() << "srec_cat, the reference reader, is Linux's";
  OfferSample();
  std::vector<std::string> lines = Lines(sample);
  const std::uint8_t data[2] = {0x12, 0x34};
  std::string line = up::RecordLine('3', 0x025F0000, 4, data, 2);
  lines.insert(lines.end() - 1, line.substr(0, line.size() - 2));
  WriteText(firmware, Join(lines));

  const RunOutcome run = Upgrade("flash-type=8777");
  EXPECT_EQ(run.result, OPERATION_FAILED);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_NE(run.boxes[0].text.find("[416]"), std::string::npos);
  EXPECT_NE(run.boxes[0].text.find(
                "Line 514 of the file places data at 0x025F0000, outside the program flash "
                "(0x02400000 to 0x025EFFFF)."),
            std::string::npos)
      << run.boxes[0].text;
  ASSERT_NE(h.Simulator(), nullptr);
  EXPECT_EQ(h.Simulator()->GetCounters().erasePolls, 0u);
  EXPECT_EQ(h.Simulator()->GetCounters().garbageCollections, 0u);
  EXPECT_TRUE(ProgramFlash() == previous) << "program flash untouched";

  // The same file on top-boot flash programs.
  const RunOutcome top = Upgrade("flash-type=8922");
  ASSERT_EQ(top.result, OPERATION_SUCCEEDED);
  EXPECT_TRUE(ProgramFlash() == Expected(firmware));
}

// Copies of small valid files (the sample's first records, an S5 that counts them, the
// end record; and files srec_cat and objcopy made, below), each mutated one to three times: bytes
// flipped, lines deleted, duplicated or cut, line ends mixed. Every copy goes through the exports
// against a fresh device holding other software: either it is refused and the device never erased
// (program flash as it was), or program flash is exactly srec_cat's reading of the copy.
TEST_F(FirmwareRefusalTest, MutatedCopiesAreRefusedOrProgrammedExactly) {
  if (!platform_test::RunsLinuxTools())
    GTEST_SKIP() << "srec_cat, the reference reader, is Linux's";
  OfferSample();
  const std::vector<std::string> sampleLines = Lines(sample);
  std::vector<std::string> base(sampleLines.begin(),
                                sampleLines.begin() + 41);  // S0, 40 data records
  {
    const std::uint8_t count[2] = {0x00, 40};
    const std::string s5 = up::RecordLine('5', 0, 0, count, 2);
    base.push_back(s5.substr(0, s5.size() - 2));
  }
  base.push_back(sampleLines.back());
  // And files the common tools make of a little binary data, in their default forms:
  // srec_cat's ends with an S5 and no end record, objcopy's with an end record and no
  // count; srec_cat's again with an S6 for its S5, and with a start address (S5 and S7).
  std::vector<std::vector<std::string>> bases = {base};
  {
    const fs::path data = dir / "data.bin";
    WriteImageData(data, 1200, 5);
    const std::string in = "'" + data.string() + "' -binary -offset 0x02400000";
    const std::string out = "'" + (dir / "tool.x").string() + "'";
    ASSERT_TRUE(Shell("srec_cat " + in + " -o " + out));
    bases.push_back(Lines(ReadText(dir / "tool.x")));
    std::vector<std::string> s6 = bases.back();
    ASSERT_EQ(s6.back().substr(0, 2), "S5");
    const std::uint8_t count[3] = {0, 0, static_cast<std::uint8_t>(s6.size() - 2)};
    const std::string line = up::RecordLine('6', 0, 0, count, 3);
    s6.back() = line.substr(0, line.size() - 2);
    bases.push_back(s6);
    ASSERT_TRUE(Shell("srec_cat " + in + " -execution-start-address=0x02400000 -o " + out));
    bases.push_back(Lines(ReadText(dir / "tool.x")));
    ASSERT_TRUE(Shell("objcopy -I binary -O srec --change-addresses 0x02400000 '" + data.string() +
                      "' " + out));
    bases.push_back(Lines(ReadText(dir / "tool.x")));
    ASSERT_EQ(bases.back().back().substr(0, 2), "S7");
  }
  const int copies =
      std::getenv("KV70_MUTATION_COPIES") ? std::atoi(std::getenv("KV70_MUTATION_COPIES")) : 2000;

  up::Lcg rng(2024);
  const char kReplacements[] = "0123456789ABCDEFabcdefSsXZ \r\n\t";
  int refused = 0, programmed = 0, wrong = 0, unknownCompleteness = 0;
  for (int i = 0; i < copies; ++i) {
    std::vector<std::string> lines = bases[static_cast<std::size_t>(i) % bases.size()];
    std::vector<std::string> ends(lines.size(), "\r\n");
    const int mutations = 1 + static_cast<int>(rng.Below(3));
    std::string what;
    for (int m = 0; m < mutations && !lines.empty(); ++m) {
      const std::size_t at = rng.Below(static_cast<std::uint32_t>(lines.size()));
      switch (rng.Below(6)) {
        case 0:
        case 1: {  // a byte flipped: another character, or one bit
          std::string& l = lines[at];
          if (l.empty()) break;
          const std::size_t pos = rng.Below(static_cast<std::uint32_t>(l.size()));
          l[pos] = rng.Below(2) ? kReplacements[rng.Below(sizeof kReplacements - 1)]
                                : static_cast<char>(l[pos] ^ (1 << rng.Below(8)));
          what += " flip";
          break;
        }
        case 2:
          lines.erase(lines.begin() + static_cast<long>(at));
          ends.erase(ends.begin() + static_cast<long>(at));
          what += " delete";
          break;
        case 3: {
          const std::string line = lines[at], end = ends[at];
          lines.insert(lines.begin() + static_cast<long>(at), line);
          ends.insert(ends.begin() + static_cast<long>(at), end);
        }
          what += " duplicate";
          break;
        case 4:
          lines[at].resize(rng.Below(static_cast<std::uint32_t>(lines[at].size() + 1)));
          what += " cut";
          break;
        default: {  // line ends mixed
          static const char* const kEnds[] = {"\n", "\r\n", "\r", "\r\r\n"};
          for (auto& e : ends)
            if (rng.Below(3) == 0) e = kEnds[rng.Below(4)];
          what += " ends";
          break;
        }
      }
    }
    std::string text;
    for (std::size_t k = 0; k < lines.size(); ++k) text += lines[k] + ends[k];
    WriteText(firmware, text);

    const RunOutcome run = Upgrade();
    const Bytes flash = ProgramFlash();
    if (run.result == OPERATION_SUCCEEDED) {
      const Bytes expected = Expected(firmware);
      if (!expected.empty() && flash == expected) {
        ++programmed;
        for (const std::string& status : run.statuses)
          if (status.find("completeness could not be checked") != std::string::npos)
            ++unknownCompleteness;
      } else {
        ++wrong;
        ADD_FAILURE() << "copy " << i << " (" << what
                      << ") programmed differently from srec_cat's reading:\n"
                      << text;
      }
    } else {
      ++refused;
      const bool erased = h.Simulator() && h.Simulator()->GetCounters().erasePolls > 0;
      if (erased || flash != previous) {
        ++wrong;
        ADD_FAILURE() << "copy " << i << " (" << what << ") refused after touching the flash:\n"
                      << text;
      }
      if (run.boxes.empty()) {
        ++wrong;
        ADD_FAILURE() << "copy " << i << " refused without a word";
      }
    }
    if (wrong > 5) break;
  }
  std::printf(
      "mutated copies: %d (of %zu files); refused, flash untouched: %d; programmed, equal to "
      "srec_cat: %d (completeness unknown: %d); wrong: %d\n",
      copies, bases.size(), refused, programmed, unknownCompleteness, wrong);
  RecordProperty("refused", refused);
  RecordProperty("unknown_completeness", unknownCompleteness);
  RecordProperty("programmed", programmed);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(refused + programmed, copies);
  EXPECT_GT(programmed, 0);
  EXPECT_GT(refused, 0);
}

}  // namespace

// Files as the common tools write them, made here from binary data: srec_cat ends a file
// that has no start address with a count record (S5, or S6 beyond 65,535 records) and no
// end record; objcopy writes an end record and no count. Each programs exactly what
// srec_cat reads in it. A file with neither record programs too, and the run says that
// its completeness could not be checked; a count that does not match is refused.
TEST_F(FirmwareRefusalTest, FilesFromCommonToolsProgramAsTheyRead) {
  if (!platform_test::RunsLinuxTools()) GTEST_SKIP() << "srec_cat and objcopy are Linux's";
  OfferSample();
  const fs::path small = dir / "small.bin", large = dir / "large.bin";
  WriteImageData(small, 40000, 11);
  WriteImageData(large, 1100000, 12);
  const std::string fw = "'" + firmware.string() + "'";
  const std::string smallBin = "'" + small.string() + "' -binary -offset 0x02400000";
  const std::string largeBin = "'" + large.string() + "' -binary -offset 0x02400000";
  const std::string note = "The firmware file " + firmware.string() +
                           " has neither an end record (S7, S8 or S9) nor a count record (S5 or "
                           "S6): its completeness could not be checked.";
  const struct {
    const char* name;
    std::string make;
    const char* lastRecord;  // how the file made ends, to be sure the case is the one meant
    bool unknown;
  } cases[] = {
      {"srec_cat, the command a user ran",
       "srec_cat " + smallBin + " -o " + fw + " -motorola -address-length=4", "S5", false},
      {"srec_cat, default output", "srec_cat " + smallBin + " -o " + fw, "S5", false},
      {"srec_cat, over 65,535 records", "srec_cat " + largeBin + " -o " + fw + " -motorola -obs=16",
       "S6", false},
      {"srec_cat, with a start address",
       "srec_cat " + smallBin + " -execution-start-address=0x02400000 -o " + fw, "S7", false},
      {"objcopy, default output",
       "objcopy -I binary -O srec --change-addresses 0x02400000 '" + small.string() + "' " + fw,
       "S7", false},
      {"srec_cat's file cut after 100 lines",
       "srec_cat " + smallBin + " -o " + fw + " && head -n 100 " + fw + " > " + fw +
           ".cut && cat " + fw + ".cut > " + fw,
       "S3", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Shell(c.make));
    const std::vector<std::string> lines = Lines(ReadText(firmware));
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.back().substr(0, 2), c.lastRecord);
    const Bytes expected = Expected(firmware);
    ASSERT_FALSE(expected.empty());

    EXPECT_TRUE(PressNext().empty()) << "the page lets it through";
    const RunOutcome run = Upgrade();
    ASSERT_EQ(run.result, OPERATION_SUCCEEDED) << (run.boxes.empty() ? "" : run.boxes[0].text);
    EXPECT_EQ(run.statuses.back(), kUpgradeDone);
    EXPECT_TRUE(ProgramFlash() == expected);
    const bool said =
        std::find(run.statuses.begin(), run.statuses.end(), note) != run.statuses.end();
    EXPECT_EQ(said, c.unknown);
    if (c.unknown) {
      EXPECT_EQ(run.statuses.front(), note) << "said before the device is touched";
    }
  }

  // srec_cat's count, one too high: refused with the line, before the port opens.
  ASSERT_TRUE(Shell("srec_cat " + smallBin + " -o " + fw));
  std::vector<std::string> lines = Lines(ReadText(firmware));
  ASSERT_EQ(lines.back().substr(0, 4), "S503");
  const long countLine = static_cast<long>(lines.size());
  const unsigned records = static_cast<unsigned>(lines.size() - 2);
  const std::uint8_t count[2] = {static_cast<std::uint8_t>((records + 1) >> 8),
                                 static_cast<std::uint8_t>(records + 1)};
  const std::string s5 = up::RecordLine('5', 0, 0, count, 2);
  lines.back() = s5.substr(0, s5.size() - 2);
  WriteText(firmware, Join(lines));
  const RunOutcome run = Upgrade();
  EXPECT_EQ(run.result, OPERATION_FAILED);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_NE(run.boxes[0].text.find("[416]"), std::string::npos);
  EXPECT_NE(run.boxes[0].text.find("Line " + std::to_string(countLine) + " of the file counts " +
                                   std::to_string(records + 1) + " data records; the file has " +
                                   std::to_string(records) + " before it."),
            std::string::npos)
      << run.boxes[0].text;
  EXPECT_EQ(h.Simulator(), nullptr) << "the port was never opened";
}

// The file is read once, checked, and kept: cut on disk while the flash is erased, as
// `head -n 100 fw.x > cut; cat cut > fw.x` does, it is not read again. The run fails and
// says why, and nothing of the changed file reaches the device.
TEST_F(FirmwareRefusalTest, FileCutWhileTheFlashIsErasedFailsAndLoadsNothingOfIt) {
  if (!platform_test::RunsLinuxTools())
    GTEST_SKIP() << "srec_cat, the reference reader, is Linux's";
  OfferSample();
  const std::vector<std::string> good = Lines(sample);
  const std::string cut = Join(std::vector<std::string>(good.begin(), good.begin() + 100));
  h.WhenStatus("Erasing program flash...", [&] {
    std::ofstream out(firmware, std::ios::binary | std::ios::trunc);  // the same file, emptied
    out << cut;
  });
  const RunOutcome run = Upgrade();
  EXPECT_EQ(run.result, OPERATION_FAILED);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_NE(run.boxes[0].text.find(
                "[416] - There was an error with the specified software file.\n\nSelect another "
                "file and try again.\n\nThe file changed after the upgrade checked it (another "
                "program wrote, replaced or removed it); nothing of the change was loaded."),
            std::string::npos)
      << run.boxes[0].text;
  EXPECT_EQ(run.statuses.back(), kFailed);
  EXPECT_EQ(
      std::count(run.statuses.begin(), run.statuses.end(), "Updating the software of the KV70..."),
      0);
  const Bytes flash = ProgramFlash();
  EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + (up::kErasedEnd - kFlash),
                          [](std::uint8_t b) { return b == 0xFF; }))
      << "erased, and nothing programmed";
  EXPECT_EQ(ReadText(firmware), cut);
}

// Another program removes the entry's file and puts a different one of the same name in
// its place while the flash is erased: the run programs neither that file nor a mixture,
// and fails with the reason.
TEST_F(FirmwareRefusalTest, FileReplacedWhileTheFlashIsErasedFailsAndLoadsNothingOfIt) {
  OfferSample();
  std::vector<std::string> other = Lines(sample);
  other.erase(other.begin() + 200, other.begin() + 260);
  h.WhenStatus("Erasing program flash...", [&] {
    // Windows refuses to remove a file the run holds open; it is then written over.
    std::error_code refused;
    fs::remove(firmware, refused);
    WriteText(firmware, Join(other));
  });
  const RunOutcome run = Upgrade();
  EXPECT_EQ(run.result, OPERATION_FAILED);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_NE(run.boxes[0].text.find("changed after the upgrade checked it"), std::string::npos)
      << run.boxes[0].text;
  const Bytes flash = ProgramFlash();
  EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + (up::kErasedEnd - kFlash),
                          [](std::uint8_t b) { return b == 0xFF; }));
}

// A second user, on the page while the upgrade erases: the entry that upgrade loads can
// be neither deleted nor registered anew under its name (which would put another file
// where its copy lies). The upgrade goes on and loads the file it checked; afterwards the
// entry can go.
TEST_F(FirmwareRefusalTest, TheEntryARunLoadsIsNeitherDeletedNorReplacedUnderIt) {
  if (!platform_test::RunsLinuxTools())
    GTEST_SKIP() << "srec_cat, the reference reader, is Linux's";
  OfferSampleCopy();
  const std::string copy = ReadText(firmware);
  fs::create_directories(dir / "elsewhere");
  const fs::path different = dir / "elsewhere" / "velmora-sample.x";
  {
    std::vector<std::string> lines = Lines(sample);
    lines.erase(lines.begin() + 200, lines.begin() + 260);
    WriteText(different, Join(lines));
  }
  const std::string inUse =
      "Sample is in use: a software upgrade that is running now is loading it, or another "
      "program holds its file " +
      firmware.string() +
      " open. It cannot be deleted or replaced while it is.\n\nTry again when that upgrade "
      "has ended or that program has let go of the file.";
  std::vector<std::string> deleting, registering;
  h.WhenStatus("Erasing program flash...", [&] {
    h.Ui().SetQuestionAnswer(IDYES);
    deleting = OnThePage([](CPropertyPage& page) {
      uimodel::SelectItem(page, IDC_SOFTWARE_LIST, 0);
      uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_DELETE);
    });
    h.Ui().QueueDialog(IDD_REGISTER_FIRMWARE, [&](CDialog& dialog) {
      uimodel::TypeText(dialog, IDC_FIRMWARE_DESCRIPTION, "Sample");
      uimodel::TypeText(dialog, IDC_FIRMWARE_PATH, different.string().c_str());
      uimodel::ClickButton(dialog, IDC_ADD_ENTRY);
    });
    registering = OnThePage(
        [](CPropertyPage& page) { uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_INSERT); });
  });
  const RunOutcome run = Upgrade();
  EXPECT_EQ(deleting, std::vector<std::string>{inUse});
  EXPECT_EQ(registering, std::vector<std::string>{inUse});
  ASSERT_EQ(run.result, OPERATION_SUCCEEDED);
  EXPECT_EQ(ReadText(firmware), copy);
  EXPECT_TRUE(ProgramFlash() == Expected(firmware));

  // The run has ended: its entry goes as any other.
  const std::vector<std::string> after = OnThePage([](CPropertyPage& page) {
    uimodel::SelectItem(page, IDC_SOFTWARE_LIST, 0);
    uimodel::KeyDown(page, IDC_SOFTWARE_LIST, VK_DELETE);
  });
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].rfind("This operation will unregister Sample", 0), 0u) << after[0];
  EXPECT_FALSE(fs::exists(firmware));
}
