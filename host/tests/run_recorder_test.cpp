#include "host/core/run_recorder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "framework/plugin_abi.h"
#include "host/core/message_box_text.h"
#include "host/core/run_warnings.h"
#include "host/core/sha256.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    path_ = fs::temp_directory_path() /
            ("velmora-recorder-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string File(const std::string& name, const std::string& content) const {
    const std::string p = (path_ / name).string();
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }

 private:
  fs::path path_;
};

// A store in memory that says what it was asked, or fails where told to.
class MemoryStore final : public RecordStore {
 public:
  explicit MemoryStore(std::map<std::int64_t, ServiceRecord>& rows, bool failBegin = false)
      : rows_(rows), failBegin_(failBegin) {}
  bool Begin(ServiceRecord& record, std::string& error) override {
    if (failBegin_) {
      error = "disk full";
      return false;
    }
    record.id = static_cast<std::int64_t>(rows_.size()) + 1;
    record.result = "interrupted";
    rows_[record.id] = record;
    return true;
  }
  bool Finish(const ServiceRecord& record, std::string&) override {
    rows_[record.id] = record;
    return true;
  }
  bool List(const RecordFilter&, std::vector<ServiceRecord>&, std::string&) override {
    return true;
  }

 private:
  std::map<std::int64_t, ServiceRecord>& rows_;
  bool failBegin_;
};

LineSummary LineWith(std::uint16_t fileSystemMb, std::uint64_t readBytes, bool erase) {
  LineSummary line;
  DeviceRecord record;
  record.serial = "KV70-0000042";
  record.owner1 = "Depot";
  record.fileSystemMb = fileSystemMb;
  record.applications = {ApplicationEntry{33, 25, 1, 5}, ApplicationEntry{40, 0xFFFF, 0, 0}};
  line.record = record;
  if (readBytes)
    line.read.push_back(AddressRange{0x02800000, static_cast<std::uint32_t>(readBytes)});
  line.eraseReached = erase;
  return line;
}

TEST(RunRecorderTest, FailureBoxesGiveTheirNumberAndLine) {
  const struct {
    const char* text;
    std::optional<int> number;
    const char* line;
  } cases[] = {
      {"Read config failure! [411] - No answer.", 411, "Read config failure! [411] - No answer."},
      {"First line\r\nProgram failure! [405] - Refused.\r\n", 405,
       "Program failure! [405] - Refused."},
      {"The operation was canceled.", std::nullopt, ""},
      {"Range [a1] is not a number; [] neither", std::nullopt, ""},
      {"Too long [1234567]", std::nullopt, ""},
  };
  for (const auto& c : cases) {
    const std::optional<ShownFailure> failure = FailureInBox(c.text);
    ASSERT_EQ(failure.has_value(), c.number.has_value()) << c.text;
    if (failure) {
      EXPECT_EQ(failure->number, *c.number);
      EXPECT_EQ(failure->text, c.line);
    }
  }
}

TEST(RunRecorderTest, TheEraseWarningFollowsTheLineNotTheStatusTexts) {
  LineSummary line;
  EXPECT_FALSE(ProgramMayBeIncomplete(OPERATION_FAILED, line));
  line.eraseReached = true;
  EXPECT_TRUE(ProgramMayBeIncomplete(OPERATION_FAILED, line));
  EXPECT_TRUE(ProgramMayBeIncomplete(OPERATION_CANCELED, line));
  EXPECT_FALSE(ProgramMayBeIncomplete(OPERATION_SUCCEEDED, line));
}

TEST(RunRecorderTest, OperationsAreNamedByTheirWord) {
  EXPECT_EQ(RecordOperation("Software upgrade"), "upgrade");
  EXPECT_EQ(RecordOperation("Show Configuration"), "config");
  EXPECT_EQ(RecordOperation("File system dump"), "dump");
  EXPECT_EQ(RecordOperation("Self Test"), "self test");
}

TEST(RunRecorderTest, SoftwareWordIsReadFromTheRecordsThatHoldIt) {
  TempDir dir;
  // The word straddles two S3 records; a bad checksum and an S2 line elsewhere are ignored.
  const std::string split = dir.File("split.x",
                                     "S00600004844521B\n"
                                     "S30702400420564DEF\n"
                                     "S3070240042200216F\n"
                                     "S30702400420FFFF00\n"  // bad checksum: not taken
                                     "S70502400000B8\n");
  EXPECT_EQ(SRecordWordAt(split, 0x02400420), std::optional<std::uint32_t>(0x564D0021));
  const std::string partial = dir.File("partial.x", "S30702400420564DEF\r\n");
  EXPECT_EQ(SRecordWordAt(partial, 0x02400420), std::nullopt);
  EXPECT_EQ(SRecordWordAt(dir.File("text.x", "not a record\n"), 0x02400420), std::nullopt);
  EXPECT_EQ(SRecordWordAt("/nonexistent/file.x", 0x02400420), std::nullopt);
}

TEST(RunRecorderTest, LogFileIsCompleteOnlyWhenItHoldsTheWholeFileSystem) {
  TempDir dir;
  const std::string whole = dir.File("whole.log", std::string(1024 * 1024, 'a'));
  const std::string cut = dir.File("cut.log", std::string(193536, 'a'));
  std::optional<LogFileFacts> facts = LogFileFactsOf(whole, LineWith(1, 1024 * 1024, false));
  ASSERT_TRUE(facts);
  EXPECT_TRUE(facts->complete);
  EXPECT_EQ(facts->bytes, 1024u * 1024u);
  std::string hex, error;
  std::uint64_t size = 0;
  ASSERT_TRUE(Sha256OfFile(whole, hex, size, error));
  EXPECT_EQ(facts->sha256, hex);
  facts = LogFileFactsOf(cut, LineWith(1, 193536, false));
  ASSERT_TRUE(facts);
  EXPECT_FALSE(facts->complete);
  EXPECT_EQ(facts->bytes, 193536u);
  // A file as large as the flash that the line never read is not taken as a dump.
  facts = LogFileFactsOf(whole, LineWith(1, 0, false));
  ASSERT_TRUE(facts);
  EXPECT_FALSE(facts->complete);
  // No configuration record: the size is unknown, so it is not complete either.
  facts = LogFileFactsOf(whole, LineSummary{});
  ASSERT_TRUE(facts);
  EXPECT_FALSE(facts->complete);
  EXPECT_FALSE(LogFileFactsOf("", LineSummary{}));
  EXPECT_FALSE(LogFileFactsOf(dir.File("x", "") + ".missing", LineSummary{}));
}

TEST(RunRecorderTest, ARunIsBegunInterruptedAndFinishedWithWhatTheLineTold) {
  TempDir dir;
  std::map<std::int64_t, ServiceRecord> rows;
  const std::string log = dir.File("fs.log", std::string(4096, 'x'));
  RunRecorder recorder([&rows](std::string&) { return std::make_unique<MemoryStore>(rows); });
  recorder.Begin(RunStart{"File system dump", 2, "sim:pull=4", std::nullopt, log});
  recorder.BoxShown("Read failure! [412] - Timeout.");
  std::string problem;
  const std::optional<std::int64_t> id =
      recorder.Finish(RunEnd{"failed", 1, LineWith(1, 4096, false)}, problem);
  ASSERT_TRUE(id) << problem;
  const ServiceRecord& r = rows.at(*id);
  EXPECT_EQ(r.operation, "dump");
  EXPECT_EQ(r.comPort, 2);
  EXPECT_EQ(r.port, "sim:pull=4");
  EXPECT_EQ(r.result, "failed");
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.failureNumber, 412);
  EXPECT_EQ(r.failureText, "Read failure! [412] - Timeout.");
  EXPECT_EQ(r.serial, "KV70-0000042");
  EXPECT_EQ(r.applications.size(), 1u) << "only installed entries";
  EXPECT_FALSE(r.ended.empty());
  ASSERT_TRUE(r.logFile);
  EXPECT_EQ(r.logFile->bytes, 4096u);
  EXPECT_FALSE(r.logFile->complete);
  EXPECT_FALSE(r.firmware);
  // Finishing twice is refused; nothing is rewritten.
  EXPECT_FALSE(recorder.Finish(RunEnd{"succeeded", 0, LineSummary{}}, problem));
  EXPECT_EQ(rows.at(*id).result, "failed");
}

TEST(RunRecorderTest, ASucceededRunKeepsNoFailureAndAnUpgradeSaysWhetherTheEraseCame) {
  std::map<std::int64_t, ServiceRecord> rows;
  RunRecorder recorder([&rows](std::string&) { return std::make_unique<MemoryStore>(rows); });
  recorder.Begin(RunStart{"Software upgrade", 1, "sim", std::nullopt, ""});
  recorder.BoxShown("Something [7] said");
  std::string problem;
  std::optional<std::int64_t> id = recorder.Finish(RunEnd{"succeeded", 0, LineSummary{}}, problem);
  ASSERT_TRUE(id);
  EXPECT_EQ(rows.at(*id).failureNumber, std::nullopt);
  EXPECT_EQ(rows.at(*id).eraseReached, std::optional<bool>(false));
  EXPECT_FALSE(rows.at(*id).logFile);
}

TEST(RunRecorderTest, AStoreThatCannotBeginSaysWhyAndTheRunGoesOn) {
  std::map<std::int64_t, ServiceRecord> rows;
  RunRecorder failing([&rows](std::string&) { return std::make_unique<MemoryStore>(rows, true); });
  failing.Begin(RunStart{"Show configuration", 1, "sim", std::nullopt, ""});
  std::string problem;
  EXPECT_FALSE(failing.Finish(RunEnd{"succeeded", 0, LineSummary{}}, problem));
  EXPECT_EQ(problem, "disk full");
  RunRecorder none([](std::string& error) {
    error = "not a registry database";
    return std::unique_ptr<RecordStore>();
  });
  none.Begin(RunStart{"Show configuration", 1, "sim", std::nullopt, ""});
  EXPECT_FALSE(none.Finish(RunEnd{"succeeded", 0, LineSummary{}}, problem));
  EXPECT_EQ(problem, "not a registry database");
  RunRecorder neverBegun;
  EXPECT_FALSE(neverBegun.Finish(RunEnd{"succeeded", 0, LineSummary{}}, problem));
}

}  // namespace
}  // namespace velmora
