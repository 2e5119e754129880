// The whole-file check: which files are refused, with which failure, line and words, and
// that a refused file is found wherever its fault lies.
#include "models/srecord_checker.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "models/srecord_file.h"
#include "models/tests/srecord_test_files.h"
#include "reporting/failures.h"
#include "resources/testing/kv70_test_module.h"

namespace {

constexpr DWORD kStart = 0x02400000;
constexpr DWORD kEnd = 0x025FC000;

// One record line with its count and checksum computed: type digit, address and data in
// hex. `sumDelta` spoils the checksum.
std::string Rec(char type, const std::string& address, const std::string& data, int sumDelta = 0) {
  const std::string fields = address + data;
  const unsigned count = static_cast<unsigned>(fields.size() / 2 + 1);
  unsigned sum = count;
  for (std::size_t i = 0; i + 1 < fields.size(); i += 2)
    sum += std::stoul(fields.substr(i, 2), nullptr, 16);
  char tail[8];
  std::snprintf(tail, sizeof tail, "%02X", (~sum + static_cast<unsigned>(sumDelta)) & 0xFF);
  char head[8];
  std::snprintf(head, sizeof head, "S%c%02X", type, count);
  return head + fields + tail;
}

// The line with its hex digits in lower case.
std::string Lower(std::string line) {
  for (std::size_t i = 1; i < line.size(); ++i) line[i] = static_cast<char>(std::tolower(line[i]));
  return line;
}

const std::string kHeader = Rec('0', "0000", "6B7637302D74657374");
const std::string kEndRecord = Rec('7', "02400000", "");

struct FileCase {
  const char* name;
  std::vector<std::string> lines;
  int code;          // 0: passes
  long line;         // the fault's line
  std::string says;  // part of the detail
};

SRecordFault CheckLines(const std::vector<std::string>& lines) {
  CSRecordChecker checker(kStart, kEnd);
  for (const auto& l : lines)
    if (!checker.CheckLine(l.data(), l.size())) break;
  checker.Finish();
  return checker.Fault();
}

class SRecordCheckerTest : public ::testing::Test {
 protected:
  void SetUp() override { kv70::testing::UseKV70Resources(); }
};

TEST_F(SRecordCheckerTest, FilesAndTheirVerdicts) {
  const std::string d1 = Rec('3', "02400000", "00112233");
  const std::string d2 = Rec('3', "02400004", "44556677");
  const FileCase cases[] = {
      {"plain", {kHeader, d1, d2, kEndRecord}, 0, 0, ""},
      {"blank lines anywhere", {"", kHeader, "", d1, d2, kEndRecord, ""}, 0, 0, ""},
      {"lower-case hex digits",
       {kHeader, Lower(Rec('3', "02400000", "AABBCCDD")), kEndRecord},
       0,
       0,
       ""},
      {"S5 counting the data records",
       {kHeader, d1, d2, Rec('5', "0002", ""), kEndRecord},
       0,
       0,
       ""},
      {"S0, S5 and end records after the end",
       {kHeader, d1, kEndRecord, kHeader, Rec('5', "0001", ""), Rec('9', "0000", "")},
       0,
       0,
       ""},
      {"the same bytes twice", {kHeader, d1, d1, kEndRecord}, 0, 0, ""},
      {"empty data record", {kHeader, Rec('3', "02400000", ""), kEndRecord}, 0, 0, ""},
      {"last byte of the flash", {kHeader, Rec('3', "025FBFFF", "AB"), kEndRecord}, 0, 0, ""},
      {"spaces and tabs on blank lines",
       {" ", kHeader, "\t", d1, " \t  \t", d2, kEndRecord, "   "},
       0,
       0,
       ""},
      {"Ctrl-Z after the end record", {kHeader, d1, kEndRecord, "\x1A"}, 0, 0, ""},
      {"Ctrl-Z after blank lines and a header after the end",
       {kHeader, d1, kEndRecord, "", " \t", kHeader, "\x1A"},
       0,
       0,
       ""},

      {"unknown type S4",
       {kHeader, d1, Rec('4', "02400004", "44"), d2, kEndRecord},
       416,
       3,
       "type S4"},
      {"S6 counting records that are not there",
       {kHeader, Rec('6', "000001", ""), kEndRecord},
       416,
       2,
       "counts 1 data records; the file has 0"},
      {"letter type SZ", {kHeader, "SZ0902400000001122336E", kEndRecord}, 416, 2, "type SZ"},
      {"lower-case s", {kHeader, "s30902400000001122336E", kEndRecord}, 416, 2, "not an S-record"},
      {"X3", {kHeader, "X30902400000001122336E", kEndRecord}, 416, 2, "not an S-record"},
      {"leading blank", {kHeader, " " + d1, kEndRecord}, 416, 2, "not an S-record"},
      {"only S", {kHeader, "S", kEndRecord}, 416, 2, "not an S-record"},
      {"form feed is no blank", {kHeader, "\f", kEndRecord}, 416, 2, "not an S-record"},
      {"lone CR is no blank", {kHeader, d1, "\r", kEndRecord}, 416, 3, "not an S-record"},
      {"Ctrl-Z before the end record",
       {kHeader, d1, "\x1A", kEndRecord},
       416,
       3,
       "not an S-record"},
      {"Ctrl-Z without an end record", {kHeader, d1, "\x1A"}, 0, 0, ""},
      {"record after the Ctrl-Z",
       {kHeader, d1, kEndRecord, "\x1A", kEndRecord},
       416,
       4,
       "Line 4 of the file is not an S-record"},
      {"blank line after the Ctrl-Z",
       {kHeader, d1, kEndRecord, "\x1A", ""},
       416,
       4,
       "Line 4 of the file is not an S-record"},
      {"two Ctrl-Z", {kHeader, d1, kEndRecord, "\x1A\x1A"}, 416, 4, "not an S-record"},
      {"Ctrl-Z after spaces", {kHeader, d1, kEndRecord, " \x1A"}, 416, 4, "not an S-record"},
      {"Ctrl-Z on the end record's line",
       {kHeader, d1, kEndRecord + "\x1A"},
       416,
       3,
       "15 characters long; its byte count says 14"},
      {"spaces inside a record", {kHeader, "S309 02400000001122336E", kEndRecord}, 416, 2, ""},
      {"line cut",
       {kHeader, d1.substr(0, 12), kEndRecord},
       416,
       2,
       "12 characters long; its byte count says 22"},
      {"trailing blank", {kHeader, d1 + " ", kEndRecord}, 416, 2, "23 characters long"},
      {"CR left in the line", {kHeader, d1 + "\r", kEndRecord}, 416, 2, "23 characters long"},
      {"non-hex count", {kHeader, "S3G902400000001122336E", kEndRecord}, 416, 2, "hexadecimal"},
      {"non-hex data", {kHeader, "S30902400000001G22336E", kEndRecord}, 416, 2, "hexadecimal"},
      {"non-hex checksum", {kHeader, "S3090240000000112233ZZ", kEndRecord}, 416, 2, "hexadecimal"},
      {"bad checksum",
       {kHeader, d1, Rec('3', "02400004", "44556677", 1), kEndRecord},
       415,
       3,
       "has the checksum"},
      {"count without room for the address",
       {kHeader, "S3030240BA", kEndRecord},
       416,
       2,
       "byte count (3)"},
      {"end record with data", {kHeader, d1, Rec('9', "0000", "00")}, 416, 3, "byte count (4)"},
      {"S5 with a 3-byte count",
       {kHeader, d1, Rec('5', "000001", ""), kEndRecord},
       416,
       3,
       "byte count (4)"},
      {"78 data bytes",
       {kHeader, Rec('3', "02400000", std::string(156, '0')), kEndRecord},
       416,
       2,
       "byte count"},
      {"S1 data", {kHeader, Rec('1', "0000", "00"), kEndRecord}, 416, 2, "at 0x00000000, outside"},
      {"S2 data",
       {kHeader, Rec('2', "FFFFFF", "00"), kEndRecord},
       416,
       2,
       "outside the program flash"},
      {"below the flash",
       {kHeader, Rec('3', "023FFFFF", "00"), kEndRecord},
       416,
       2,
       "0x023FFFFF, outside"},
      {"past its end",
       {kHeader, Rec('3', "025FBFFF", "0000"), kEndRecord},
       416,
       2,
       "(0x02400000 to 0x025FBFFF)"},
      {"wrapping the address space",
       {kHeader, Rec('3', "FFFFFFFF", "0000"), kEndRecord},
       416,
       2,
       "outside"},
      {"data after the end record",
       {kHeader, d1, kEndRecord, "", d2},
       416,
       5,
       "after the end record on line 3"},
      {"S5 miscounting",
       {kHeader, d1, Rec('5', "0002", ""), kEndRecord},
       416,
       3,
       "counts 2 data records"},
      {"another value for a byte",
       {kHeader, d1, Rec('3', "02400003", "34"), kEndRecord},
       416,
       3,
       "byte at 0x02400003"},
      {"S5 counting, no end record", {kHeader, d1, d2, Rec('5', "0002", "")}, 0, 0, ""},
      {"S6 counting, no end record", {kHeader, d1, d2, Rec('6', "000002", "")}, 0, 0, ""},
      {"S6, then an end record", {kHeader, d1, Rec('6', "000001", ""), kEndRecord}, 0, 0, ""},
      {"S5 counting, blank lines and Ctrl-Z after it",
       {kHeader, d1, Rec('5', "0001", ""), " ", "\x1A"},
       0,
       0,
       ""},
      {"S6 miscounting",
       {kHeader, d1, d2, Rec('6', "000003", "")},
       416,
       4,
       "counts 3 data records; the file has 2"},
      {"S5 with a 4-byte count", {kHeader, d1, Rec('5', "00000001", "")}, 416, 3, "byte count (5)"},
      {"data after an S6, where the reading stops",
       {kHeader, d1, Rec('6', "000001", ""), d2, kEndRecord},
       416,
       4,
       "Line 4 of the file holds data after the count record (S6) on line 3"},
      {"data after the last count, no end record",
       {kHeader, d1, Rec('5', "0001", ""), d2},
       416,
       4,
       "no count record after its last data record on line 4: it may have been cut short"},
      {"neither end nor count record", {kHeader, d1, d2}, 0, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SRecordFault fault = CheckLines(c.lines);
    EXPECT_EQ(fault.code, c.code) << fault.detail.GetString();
    if (c.code == 0) continue;
    EXPECT_EQ(fault.line, c.line);
    EXPECT_NE(std::string(fault.detail.GetString()).find(c.says), std::string::npos)
        << fault.detail.GetString();
  }
}

// Whole files end with an end record or, from tools that write no start address, with a
// count record; a file with neither passes, but says that nobody can tell whether it is.
TEST_F(SRecordCheckerTest, CompletenessIsKnownOnlyFromAnEndOrACountRecord) {
  const std::string d1 = Rec('3', "02400000", "00112233");
  const struct {
    const char* name;
    std::vector<std::string> lines;
    bool unknown;
  } cases[] = {
      {"end record", {kHeader, d1, kEndRecord}, false},
      {"S5 last", {kHeader, d1, Rec('5', "0001", "")}, false},
      {"S6 last", {kHeader, d1, Rec('6', "000001", "")}, false},
      {"S5 before the end record", {kHeader, d1, Rec('5', "0001", ""), kEndRecord}, false},
      {"data records only", {kHeader, d1}, true},
      {"data records and a Ctrl-Z", {kHeader, d1, "\x1A"}, true},
      {"no records at all", {"", " "}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SRecordFault fault = CheckLines(c.lines);
    EXPECT_EQ(fault.code, 0) << fault.detail.GetString();
    EXPECT_EQ(fault.completenessUnknown, c.unknown);
  }
}

TEST_F(SRecordCheckerTest, TheFirstFaultStands) {
  CSRecordChecker checker(kStart, kEnd);
  const std::string bad = "S4";
  EXPECT_FALSE(checker.CheckLine(bad.data(), bad.size()));
  EXPECT_FALSE(checker.CheckLine(kEndRecord.data(), kEndRecord.size()));
  EXPECT_FALSE(checker.Finish());
  EXPECT_EQ(checker.Fault().line, 1);
  EXPECT_EQ(std::string(checker.Fault().detail.GetString()),
            "Line 1 of the file has the unknown record type S4.");
}

// The file is read in the lines the programming reads: CR LF and LF both end a line, a
// lone CR does not, a last line without its end counts.
TEST_F(SRecordCheckerTest, WholeFilesAsTheReaderSplitsThem) {
  const std::string d1 = Rec('3', "02400000", "00112233");
  std::vector<std::string> six(5, d1);
  six.insert(six.begin(), kHeader);
  auto file = [&](const std::string& sep, const std::string& last) {
    std::string text;
    for (const auto& l : six) text += l + sep;
    return text + last;
  };
  const struct {
    const char* name;
    std::string text;
    int code;
    long line;
  } cases[] = {
      {"LF", file("\n", kEndRecord + "\n"), 0, 0},
      {"CR LF", file("\r\n", kEndRecord + "\r\n"), 0, 0},
      {"end record without a line end", file("\r\n", kEndRecord), 0, 0},
      {"mixed", file("\n", "") + "\r\n" + kEndRecord + "\r\n", 0, 0},
      {"lone CR", file("\n", kEndRecord + "\r" + kEndRecord + "\n"), 416, 7},
      {"bad checksum near the end",
       file("\n", Rec('3', "02400010", "01", 2) + "\n" + kEndRecord + "\n"), 415, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFile scratch(c.text);
    CSRecordFile f(scratch.path());
    f.OpenAndCheck();
    const SRecordFault fault = f.CheckAllRecords(kStart, kEnd);
    EXPECT_EQ(fault.code, c.code) << fault.detail.GetString();
    EXPECT_EQ(fault.line, c.line);
    // Back at the start: the reader reads the header first.
    SRecordLine line;
    BYTE type = 0xEE;
    ASSERT_TRUE(f.ReadNextRecord(line, type));
    EXPECT_EQ(type, 0);
  }
}

// The records ReadNextRecord gives, one "type address data" text each.
std::vector<std::string> ReaderRecords(const std::string& text) {
  ScratchFile scratch(text);
  CSRecordFile f(scratch.path());
  f.OpenAndCheck();
  std::vector<std::string> records;
  SRecordLine line;
  BYTE type = 0;
  while (f.ReadNextRecord(line, type)) {
    char head[32];
    std::snprintf(head, sizeof head, "S%d %08lX ", type, static_cast<unsigned long>(line.address));
    std::string record = head;
    for (int i = 0; i < line.length; ++i) {
      char byte[3];
      std::snprintf(byte, sizeof byte, "%02X", line.data[i]);
      record += byte;
    }
    records.push_back(record);
  }
  return records;
}

// Files that programmed before the whole-file check existed: blank lines holding spaces
// or tabs, and a DOS Ctrl-Z closing the file. The check lets them through, and the
// reader gives exactly the records of the same file without them, so they program the
// same bytes. Anything else after the Ctrl-Z, or a Ctrl-Z elsewhere, stays refused.
TEST_F(SRecordCheckerTest, BlankLinesWithSpacesAndAClosingCtrlZProgramAsWithout) {
  const std::string d1 = Rec('3', "02400000", "00112233");
  const std::string d2 = Rec('3', "02400004", "44556677");
  std::string first;  // the six lines the quick open check reads
  for (const auto& l : {kHeader, d1, d2, d1, d2, d1}) first += l + "\r\n";
  const std::string plain = first + d2 + "\r\n" + kEndRecord + "\r\n";
  const struct {
    const char* name;
    std::string text;
    int code;
    long line;
  } cases[] = {
      {"spaces and tabs, CR LF",
       first + " \t \r\n" + d2 + "\r\n\t\r\n" + kEndRecord + "\r\n   \r\n", 0, 0},
      {"spaces and tabs, LF", first + "  \n" + d2 + "\n\t\t\n" + kEndRecord + "\n \n", 0, 0},
      {"spaces and tabs, no end on the last line", first + d2 + "\n" + kEndRecord + "\n \t", 0, 0},
      {"Ctrl-Z as the last byte", plain + "\x1A", 0, 0},
      {"Ctrl-Z after a blank line of spaces", plain + "  \r\n\x1A", 0, 0},
      {"Ctrl-Z with a line end after it", plain + "\x1A\r\n", 0, 0},
      {"Ctrl-Z before the end record", first + d2 + "\r\n\x1A\r\n" + kEndRecord + "\r\n", 416, 8},
      {"a blank line after the Ctrl-Z", plain + "\x1A\r\n\r\n", 416, 9},
      {"spaces after the Ctrl-Z", plain + "\x1A\r\n  ", 416, 9},
      {"Ctrl-Z right after the end record's digits", first + d2 + "\r\n" + kEndRecord + "\x1A", 416,
       8},
      {"a lone CR on a blank line", first + " \r \r\n" + d2 + "\r\n" + kEndRecord + "\r\n", 416, 7},
  };
  const std::vector<std::string> expected = ReaderRecords(plain);
  ASSERT_EQ(expected.size(), 8u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFile scratch(c.text);
    CSRecordFile f(scratch.path());
    f.OpenAndCheck();
    const SRecordFault fault = f.CheckAllRecords(kStart, kEnd);
    EXPECT_EQ(fault.code, c.code) << fault.detail.GetString();
    EXPECT_EQ(fault.line, c.line);
    if (c.code == 0) {
      EXPECT_EQ(ReaderRecords(c.text), expected);
    }
  }
}

TEST_F(SRecordCheckerTest, RefusalThrowsTheFlashMonitorFailureWithTheDetail) {
  SRecordFault fault;
  EXPECT_NO_THROW(ThrowIfRefused(fault));
  fault = {415, 7, "Line 7 of the file has the checksum 01; its bytes give 00."};
  try {
    ThrowIfRefused(fault);
    FAIL() << "no failure";
  } catch (CFlashMonException* e) {
    char text[256];
    e->GetErrorMessage(text, sizeof text);
    EXPECT_EQ(std::string(text),
              "Program failure! [415] - There was a checksum failure with the specified software "
              "file.\n\n"
              "Select another file and try again.\n\nLine 7 of the file has the checksum 01; its "
              "bytes give 00.");
    e->Delete();
  }
}

}  // namespace
