// The decoder against the simulated KV70: each operation run through velmora's own run
// command with a wire trace, the trace read back, and what it says compared with what the
// simulator holds. With faults on the line, a field is right or absent, never wrong.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "host/core/json_events.h"
#include "host/core/line_decoder.h"
#include "host/core/line_tap.h"
#include "host/core/run_recorder.h"
#include "host/core/trace_reader.h"
#include "host/terminal/commands.h"
#include "host/terminal/interrupts.h"
#include "host/tests/test_console.h"
#include "platform/environment.h"
#include "platform/testing/system_for_tests.h"
#include "sim/config_record.h"
#include "sim/flash.h"
#include "sim/sim_port.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFirmware = "Sample application 2.1";
constexpr std::uint32_t kFsBase = 0x02800000;

// The S3 records of an S-record file as merged address ranges.
std::vector<AddressRange> FileRanges(const std::string& path) {
  std::ifstream in(path);
  std::vector<AddressRange> ranges;
  for (std::string line; std::getline(in, line);) {
    if (line.size() < 12 || line[0] != 'S' || line[1] != '3') continue;
    const unsigned count = std::stoul(line.substr(2, 2), nullptr, 16);
    const std::uint32_t address = std::stoul(line.substr(4, 8), nullptr, 16);
    AddRange(ranges, address, count - 5);
  }
  return ranges;
}

std::vector<AddressRange> SectorRanges(std::uint16_t flashType) {
  std::vector<AddressRange> ranges;
  for (const kv70sim::Sector& s : kv70sim::SectorTable(flashType))
    AddRange(ranges, s.start, s.size);
  return ranges;
}

class RecordsSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallInterruptHandler();
    dir_ = fs::temp_directory_path() / ("records_sim_" + platform_test::UniqueName(""));
    fs::create_directories(dir_);
    platform::SetEnvironment("VELMORA_REGISTRY", (dir_ / "registry.db").string());
    platform::SetEnvironment("HOME", dir_.string());
    trace_ = (dir_ / "trace.txt").string();
  }
  void TearDown() override {
    kv70sim::ForgetInstances();
    fs::remove_all(dir_);
  }

  void RegisterFirmware() {
    const fs::path target = dir_ / "velmora-sample.x";
    fs::copy_file(KV70_SAMPLE_FIRMWARE, target);
    const fs::path reg = dir_ / "firmware.reg";
    std::ofstream out(reg);
    out << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora]\n\"InstallDirectory\"=\""
        << dir_.string() << "\"\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell\\Velmora\\Firmware\\"
        << kFirmware << "]\n\"Description\"=\"" << kFirmware
        << "\"\n\"DeviceType\"=\"KV70\"\n\"FirmwarePath\"=\"" << target.string()
        << "\"\n\"OriginalInstall\"=dword:00000000\n";
    out.close();
    testing::TestConsole console;
    ASSERT_EQ(RegistryImportCommand(reg.string(), console.console()), 0) << console.Output();
  }

  // Runs `operation` on "sim:<settings>" with the wire trace; the exit status. With
  // `json`, the events' lines go there.
  int Run(const std::string& operation, const std::string& settings,
          std::vector<std::string>* json = nullptr) {
    RunOptions options;
    std::FILE* events = json ? std::tmpfile() : nullptr;
    JsonEvents writer(events);
    if (json) options.json = &writer;
    options.operation = operation;
    options.device = "sim:" + settings;
    options.plugin = KV70_PLUGIN_PATH;
    options.trace = trace_;
    options.yes = true;
    if (operation == "upgrade") options.firmware = kFirmware;
    if (operation == "dump") options.logFile = (dir_ / "fs.log").string();
    testing::TestConsole console;
    const int status = RunCommand(options, console.console());
    output_ = console.Output();
    if (json) {
      std::rewind(events);
      char buffer[4096];
      while (std::fgets(buffer, sizeof buffer, events)) {
        std::string line = buffer;
        if (!line.empty() && line.back() == '\n') line.pop_back();
        json->push_back(line);
      }
      std::fclose(events);
    }
    return status;
  }

  LineSummary Decode(const std::string& path) {
    LineDecoder decoder;
    std::string error;
    EXPECT_TRUE(FeedTraceFile(path, decoder, error)) << error;
    return decoder.Summary();
  }

  // The record the device sent, as the simulator built it from its settings.
  kv70sim::Record SentRecord() {
    return kv70sim::BuildRecord(kv70sim::LastInstance()->GetSettings());
  }

  // Whatever the decoder took from the record must be what the device sent.
  void ExpectRecordRightOrAbsent(const LineSummary& s) {
    if (!s.record) return;
    const kv70sim::Record sent = SentRecord();
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), s.record->raw.begin()));
  }

  fs::path dir_;
  std::string trace_;
  std::string output_;
};

TEST_F(RecordsSimTest, ConfigurationRetrievalGivesTheRecordTheSimulatorSent) {
  ASSERT_EQ(Run("config",
                "serial=KV70-4242,owner1=Depot North,owner2=~,info0=502,"
                "app-id=1,options=0100FF0100,flash-type=8900,fs-mb=2"),
            0)
      << output_;
  const LineSummary s = Decode(trace_);
  ASSERT_TRUE(s.record);
  const DeviceRecord& r = *s.record;
  const kv70sim::Record sent = SentRecord();
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), r.raw.begin()));
  EXPECT_EQ(r.serial, "KV70-4242");
  EXPECT_EQ(r.owner1, "Depot North");
  EXPECT_EQ(r.owner2, std::nullopt);
  EXPECT_EQ(r.info0, 502);
  EXPECT_EQ(r.flashType, 8900);
  EXPECT_EQ(r.fileSystemMb, 2);
  EXPECT_EQ(r.applicationId, 1);
  EXPECT_EQ(r.installedOptions, (std::vector<int>{0, 3, 4, 7, 33}));  // 4 and 7: off is 0xFF
  EXPECT_EQ(s.readOnlyIdentification, true);
  EXPECT_EQ(s.monitorBytesWritten, 8554u);
  EXPECT_FALSE(s.eraseReached);
  EXPECT_TRUE(s.programmed.empty());
  EXPECT_TRUE(s.read.empty());
  EXPECT_TRUE(s.rebootSent && s.rebootAnswered);
  EXPECT_EQ(s.badFrames + s.cutShort + s.unknownBytes, 0u);
}

TEST_F(RecordsSimTest, AnUpgradeGivesTheEraseAndProgramRanges) {
  RegisterFirmware();
  ASSERT_EQ(Run("upgrade", "flash-type=91,serial=KV70-0000009"), 0) << output_;
  const LineSummary s = Decode(trace_);
  ASSERT_TRUE(s.record);
  EXPECT_EQ(s.record->serial, "KV70-0000009");
  EXPECT_EQ(s.readOnlyIdentification, false);
  EXPECT_TRUE(s.eraseReached && s.eraseAccepted && s.eraseFinished);
  EXPECT_TRUE(s.garbageCollected);  // FlashType 91 always collects first
  EXPECT_EQ(s.eraseRanges, SectorRanges(91));
  EXPECT_EQ(s.eraseSectors.size(), kv70sim::SectorTable(91).size());
  const std::vector<AddressRange> file = FileRanges(KV70_SAMPLE_FIRMWARE);
  EXPECT_EQ(s.programmed, file);
  EXPECT_TRUE(s.programDone);
  // What the decoder says was programmed is what the flash holds.
  const auto flash = kv70sim::LastInstance()->ProgFlash();
  for (const AddressRange& r : s.programmed) {
    const std::size_t at = r.start - 0x02400000;
    EXPECT_FALSE(std::all_of(flash.begin() + at, flash.begin() + at + r.length,
                             [](std::uint8_t b) { return b == 0xFF; }));
  }
  EXPECT_EQ(s.badFrames + s.cutShort + s.unknownBytes, 0u);
}

TEST_F(RecordsSimTest, ADumpGivesTheReadRangeAndByteCount) {
  ASSERT_EQ(Run("dump", "fs-mb=1"), 0) << output_;
  const LineSummary s = Decode(trace_);
  EXPECT_EQ(s.read, (std::vector<AddressRange>{{kFsBase, 1u << 20}}));
  EXPECT_EQ(s.ReadBytes(), fs::file_size(dir_ / "fs.log"));
  EXPECT_FALSE(s.eraseReached);
}

// Replays a trace's lines through the taps of a live run: bytes and line events in the
// order they crossed. Notes are left out; they never cross the line.
void Replay(const std::vector<std::string>& lines, platform::WireTap& tap) {
  for (const std::string& line : lines) {
    std::istringstream in(line);
    std::string ms, kind;
    in >> ms >> kind;
    if (kind == ">" || kind == "<") {
      std::vector<BYTE> bytes;
      for (std::string hex; in >> hex;)
        bytes.push_back(static_cast<BYTE>(std::stoul(hex, nullptr, 16)));
      if (kind == ">")
        tap.OnWrite(bytes.data(), static_cast<DWORD>(bytes.size()));
      else
        tap.OnRead(bytes.data(), static_cast<DWORD>(bytes.size()));
    } else if (kind == "!") {
      std::string event;
      DWORD value = 0;
      in >> event >> value;
      if (event == "speed")
        tap.OnSpeed(value);
      else if (event == "break-sent")
        tap.OnBreakSent(value);
      else if (event == "break-received")
        tap.OnBreakReceived();
    }
  }
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The record's gate holds the run where the device could start to change: after the boot
// ROM's conversation, before the flash monitor's first request (and so before any
// erase), whatever the operation. A line the decoder cannot place holds it at once.
TEST_F(RecordsSimTest, TheRecordGateHoldsBeforeTheFirstFlashMonitorRequest) {
  RegisterFirmware();
  for (const char* operation : {"upgrade", "config", "dump"}) {
    SCOPED_TRACE(operation);
    ASSERT_EQ(Run(operation, "fs-mb=1,serial=KV70-0000011"), 0) << output_;
    const std::vector<std::string> lines = Lines(trace_);
    // Where the first flash-monitor request crossed, by a decoder fed line by line.
    std::size_t firstRequest = lines.size();
    {
      std::size_t at = 0;
      LineDecoder decoder([&](const DecodedFrame& f) {
        if (f.kind == DecodedFrame::Kind::Request && firstRequest == lines.size())
          firstRequest = at;
      });
      for (; at < lines.size(); ++at) FeedTraceLine(lines[at], decoder);
      decoder.Finish();
    }
    ASSERT_LT(firstRequest, lines.size());

    LineTap lineTap(nullptr);
    FirstWriteGate gate(&lineTap);
    std::size_t heldAfter = lines.size();
    std::size_t replayed = 0;
    gate.onFirstWrite = [&] { heldAfter = replayed; };
    gate.mayChangeDevice = [&] { return lineTap.PastBootRom(); };
    for (; replayed < lines.size() && heldAfter == lines.size(); ++replayed)
      Replay({lines[replayed]}, gate);
    EXPECT_GT(heldAfter, 3u) << "held before the boot ROM's conversation was over";
    EXPECT_LT(heldAfter, firstRequest) << lines[heldAfter];
    EXPECT_NE(lines[heldAfter].find(" < "), std::string::npos)
        << "held on the monitor's answer to its start: " << lines[heldAfter];
  }

  // Bytes the decoder cannot place, and the gate without the line's word: at once.
  const std::vector<std::string> noise = {"0 ! speed 9600", "5 > 55 AA 55 AA", "9 < 00"};
  for (bool withLine : {true, false}) {
    LineTap lineTap(nullptr);
    FirstWriteGate gate(&lineTap);
    int held = 0;
    gate.onFirstWrite = [&] { ++held; };
    if (withLine) gate.mayChangeDevice = [&] { return lineTap.PastBootRom(); };
    Replay({noise[0]}, gate);
    EXPECT_EQ(held, withLine ? 0 : 1);
    Replay({noise[1], noise[2]}, gate);
    EXPECT_EQ(held, 1) << "once, and by the unplaced bytes at the latest";
  }
}

// velmora run --json: every line an event, the last the result with the exit status the
// run has without --json, the device's serial number, the failure's number and the
// service record's id (each run, with or without --json, makes one).
TEST_F(RecordsSimTest, JsonEventsEndWithTheResult) {
  struct Row {
    const char* settings;
    int exit;
    const char* result;
  };
  const Row rows[] = {
      {"serial=KV70-31337", 0,
       R"({"event":"result","version":1,"exit":0,"result":"succeeded","failure":null,)"
       R"("serial":"KV70-31337","record":1})"},
      {"config-len=100", 1,
       R"({"event":"result","version":1,"exit":1,"result":"failed","failure":{"number":411,)"
       R"("text":"Read config failure! [411] - There was a failure reading the product )"
       R"(information from the KV70."},"serial":null,"record":3})"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.settings);
    std::vector<std::string> lines;
    EXPECT_EQ(Run("config", row.settings, &lines), row.exit);
    EXPECT_EQ(Run("config", row.settings), row.exit);  // the same without --json
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front().rfind(R"({"event":"start","version":1,)", 0), 0u) << lines.front();
    for (const std::string& line : lines) {
      EXPECT_EQ(line.rfind(R"({"event":")", 0), 0u) << line;
      EXPECT_EQ(line.back(), '}') << line;
      EXPECT_EQ(line.find('\n'), std::string::npos);
    }
    EXPECT_EQ(lines.back(), row.result);
    // People's text is not in the events: the run's lines went to the console.
    EXPECT_NE(output_.find("Configuration retrieval"), std::string::npos);
  }
}

TEST(JsonEventsTest, TextsAreEscapedAndNothingFollowsTheResult) {
  std::FILE* out = std::tmpfile();
  JsonEvents events(out);
  events.Status(std::string("a\"b\\c\n\x01\xFF", 8));
  events.Result(2, "cancelled", std::nullopt);
  events.Status("late");
  std::rewind(out);
  char buffer[512];
  std::string text;
  while (std::fgets(buffer, sizeof buffer, out)) text += buffer;
  std::fclose(out);
  EXPECT_EQ(text,
            "{\"event\":\"status\",\"text\":\"a\\\"b\\\\c\\n\\u0001\\u00ff\"}\n"
            "{\"event\":\"result\",\"version\":1,\"exit\":2,\"result\":\"cancelled\","
            "\"failure\":null,\"serial\":null,\"record\":null}\n");
}

// Faults on the line: the plug-in gets through, the decoder shows what did not count
// and takes nothing wrong.
TEST_F(RecordsSimTest, FaultsOnTheLineAreShownAndNeverGiveAWrongField) {
  struct Row {
    const char* settings;
    bool bad, unknown, cut;
    bool certain;  // the run gets through (random faults may end it, in 411 say)
  };
  const Row rows[] = {
      {"noise=7,seed=3", false, true, false, true},
      {"bad-checksum=5-40", true, false, false, true},
      {"foreign=1", false, false, false, true},
      {"pull-ms=20000-23000", false, false, true, true},
      {"bad-checksum-rate=0.2,noise=2,seed=11", true, true, false, false},
      {"bad-checksum-rate=0.3,seed=5", true, false, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.settings);
    const int status = Run("dump", std::string("fs-mb=1,") + row.settings);
    const LineSummary s = Decode(trace_);
    ExpectRecordRightOrAbsent(s);
    for (const AddressRange& r : s.read) {
      EXPECT_GE(r.start, kFsBase);
      EXPECT_LE(r.End(), kFsBase + (1u << 20));
    }
    if (row.bad) {
      EXPECT_GT(s.badFrames, 0u);
    }
    if (row.unknown) {
      EXPECT_GT(s.unknownBytes, 0u);
    }
    if (row.cut) {
      EXPECT_GT(s.cutShort + s.unknownBytes, 0u);
    }
    if (!row.certain && status != 0) continue;
    ASSERT_EQ(status, 0) << output_;
    // The plug-in got the record and every block in the end; so did the decoder.
    ASSERT_TRUE(s.record);
    EXPECT_EQ(s.read, (std::vector<AddressRange>{{kFsBase, 1u << 20}}));
  }
}

// The trace itself damaged: bytes of replies changed at random. Whatever the decoder
// still takes is what the device sent; the read ranges only ever shrink.
TEST_F(RecordsSimTest, ADamagedTraceNeverGivesAWrongField) {
  ASSERT_EQ(Run("config", "serial=KV70-5150,owner1=Bench 4"), 0) << output_;
  std::ifstream in(trace_);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    std::vector<std::string> damaged = lines;
    for (std::string& line : damaged) {
      const std::size_t space = line.find(' ');
      if (space == std::string::npos || line.compare(space, 3, " < ") != 0) continue;
      // Each reply line: one hex digit in twenty changed.
      for (std::size_t i = space + 3; i < line.size(); ++i) {
        if (line[i] != ' ' && random() % 20 == 0) line[i] = "0123456789ABCDEF"[random() % 16];
      }
    }
    const std::string path = (dir_ / "damaged.txt").string();
    std::ofstream out(path);
    for (const std::string& line : damaged) out << line << '\n';
    out.close();
    const LineSummary s = Decode(path);
    ExpectRecordRightOrAbsent(s);
  }
}

}  // namespace
}  // namespace velmora
