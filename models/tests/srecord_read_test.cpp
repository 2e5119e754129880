// Record decoding: one line at a time through DecodeSRecordLine, and whole files through
// ReadNextRecord.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "models/srecord_file.h"
#include "models/tests/srecord_test_files.h"
#include "reporting/failures.h"

namespace {

// What one line decodes to: a record, the end of reading, a skipped line, or a failure
// code of CFlashMonException.
struct Outcome {
  enum Kind { record, end, skip, failure } kind;
  int type = 0;
  DWORD address = 0;
  std::string data = {};  // hex
  int code = 0;
};

Outcome Decode(const std::string& text) {
  SRecordLine line;
  BYTE type = 0xEE;
  try {
    switch (DecodeSRecordLine(text.data(), text.size(), line, type)) {
      case SRecordResult::skip:
        return {Outcome::skip};
      case SRecordResult::end:
        return {Outcome::end};
      case SRecordResult::record: {
        Outcome o{Outcome::record, type, line.address};
        static const char digits[] = "0123456789ABCDEF";
        for (int i = 0; i < line.length; ++i) {
          o.data += digits[line.data[i] >> 4];
          o.data += digits[line.data[i] & 15];
        }
        return o;
      }
    }
  } catch (CFlashMonException* e) {
    Outcome o{Outcome::failure};
    o.code = e->m_code;
    e->Delete();
    return o;
  }
  return {Outcome::skip};
}

const std::string ZEROS77(154, '0');
const std::string FIVE_A77 = [] {
  std::string s;
  for (int i = 0; i < 77; ++i) s += "5A";
  return s;
}();

struct LineCase {
  const char* name;
  std::string text;
  Outcome expected;
};

TEST(SRecordDecode, LinesDecodeAsTheirTypeSays) {
  const LineCase cases[] = {
      {"S0 header: no address, all bytes data",
       "S00600004844521B",
       {Outcome::record, 0, 0, "0000484452"}},
      {"S1 two-byte address", "S1051234AABB4F", {Outcome::record, 1, 0x1234, "AABB"}},
      {"S2 three-byte address", "S205123456CC92", {Outcome::record, 2, 0x123456, "CC"}},
      {"S3 four-byte address",
       "S30902400010DEADBEEF6C",
       {Outcome::record, 3, 0x02400010, "DEADBEEF"}},
      {"lower-case hex digits",
       "S30902400010deadbeef6c",
       {Outcome::record, 3, 0x02400010, "DEADBEEF"}},
      {"S5 count record", "S5030003F9", {Outcome::record, 5, 0, "0003"}},
      {"S7 address bytes come back as data", "S70502400000B8", {Outcome::record, 7, 0, "02400000"}},
      {"S8 address bytes come back as data", "S804024000B9", {Outcome::record, 8, 0, "024000"}},
      {"S9 address bytes come back as data", "S9030240BA", {Outcome::record, 9, 0, "0240"}},
      {"S3 with no data", "S30502400000B8", {Outcome::record, 3, 0x02400000, ""}},
      {"77 data bytes: count 0x52",
       "S35202400100" + ZEROS77 + "6A",
       {Outcome::record, 3, 0x02400100, ZEROS77}},
      {"77 data bytes of 5A",
       "S35202400100" + FIVE_A77 + "58",
       {Outcome::record, 3, 0x02400100, FIVE_A77}},
      {"S4 line", "S4030000FC", {Outcome::end}},
      {"S6 line", "S6030000FC", {Outcome::end}},
      {"SA line", "SA030000FC", {Outcome::end}},
      {"SF line", "SF030000FC", {Outcome::end}},
      {"non-hex type", "SZ030000FC", {Outcome::end}},
      {"empty line", "", {Outcome::skip}},
      {"too short for a count", "S30", {Outcome::skip}},
      {"not starting with S", "s30902400010DEADBEEF6C", {Outcome::skip}},
      {"comment line", "# built 1999-01-04", {Outcome::skip}},
      {"count not hex", "S3G902400010DEADBEEF6C", {Outcome::skip}},
      {"leading blank", " S30902400010DEADBEEF6C", {Outcome::skip}},
      {"wrong checksum", "S30902400010DEADBEEF6D", {Outcome::failure, 0, 0, "", 415}},
      {"non-hex checksum", "S30902400010DEADBEEFZZ", {Outcome::failure, 0, 0, "", 415}},
      {"trailing blanks move the checksum",
       "S30902400010DEADBEEF6C  ",
       {Outcome::failure, 0, 0, "", 415}},
      {"count 0x53: 78 data bytes",
       "S35302400100" + FIVE_A77 + "5AFD",
       {Outcome::failure, 0, 0, "", 416}},
      {"count smaller than the address wraps", "S3030240FC", {Outcome::failure, 0, 0, "", 416}},
      {"count 0 on an S0 wraps", "S000FF", {Outcome::failure, 0, 0, "", 416}},
      {"count 0xFF", "S1FF0000", {Outcome::failure, 0, 0, "", 416}},
      {"line shorter than its count", "S30902400010DEAD6C", {Outcome::failure, 0, 0, "", 416}},
      {"only the header and count", "S309", {Outcome::failure, 0, 0, "", 416}},
  };
  for (const auto& c : cases) {
    const Outcome got = Decode(c.text);
    ASSERT_EQ(got.kind, c.expected.kind) << c.name;
    if (got.kind == Outcome::record) {
      EXPECT_EQ(got.type, c.expected.type) << c.name;
      EXPECT_EQ(got.address, c.expected.address) << c.name;
      EXPECT_EQ(got.data, c.expected.data) << c.name;
    }
    if (got.kind == Outcome::failure) {
      EXPECT_EQ(got.code, c.expected.code) << c.name;
    }
  }
}

// A digit pair that is not hexadecimal keeps the value decoded before it; the checksum
// then decides whether the record stands.
TEST(SRecordDecode, NonHexDataByteRepeatsThePreviousByte) {
  // Bytes: count 06, address 0000, data 11 ?? 22 -> 11 11 22; sum 06+11+11+22 = 0x4A.
  const Outcome got = Decode(
      "S1060000"
      "11"
      "zz"
      "22"
      "B5");
  ASSERT_EQ(got.kind, Outcome::record);
  EXPECT_EQ(got.data, "111122");
}

TEST(SRecordDecode, NonHexAddressReadsAsZero) {
  // Address bytes "zz" "34": the walk sums 00 then 34 (the previous value is 0 at first).
  const Outcome got = Decode(
      "S105zz34AABB"
      "61");
  ASSERT_EQ(got.kind, Outcome::record);
  EXPECT_EQ(got.address, 0u);
  EXPECT_EQ(got.data, "AABB");
}

std::string FileOf(std::initializer_list<std::string_view> lines, std::string_view end = "\n") {
  return JoinLines(lines, end);
}

struct FileRecord {
  int type;
  DWORD address;
  std::string data;
};

// Reads the file to the end; `code` gets the failure code that stopped it, if any.
std::vector<FileRecord> ReadAll(const std::string& contents, int* code = nullptr) {
  ScratchFile file(contents);
  CSRecordFile srec(file.path());
  srec.OpenAndCheck();
  std::vector<FileRecord> out;
  SRecordLine line;
  BYTE type = 0;
  try {
    while (srec.ReadNextRecord(line, type)) {
      std::string hex;
      char buf[3];
      for (int i = 0; i < line.length; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", line.data[i]);
        hex += buf;
      }
      out.push_back({type, line.address, hex});
    }
  } catch (CFlashMonException* e) {
    if (code) *code = e->m_code;
    e->Delete();
  }
  return out;
}

const std::string_view H = "S00600004844521B";
const std::string_view A = "S30F024000000001020304050607080981";
const std::string_view B = "S30902400010DEADBEEF6C";
const std::string_view C = "S3090240042011223F0717";
const std::string_view D = "S1051234AABB4F";
const std::string_view E = "S205123456CC92";
const std::string_view END7 = "S70502400000B8";

TEST(SRecordRead, ReadsEveryRecordInFileOrder) {
  for (std::string_view lineEnd : {"\n", "\r\n"}) {
    const auto records = ReadAll(FileOf({H, A, B, C, D, E, END7}, lineEnd));
    ASSERT_EQ(records.size(), 7u) << "line end size " << lineEnd.size();
    EXPECT_EQ(records[1].address, 0x02400000u);
    EXPECT_EQ(records[1].data, "00010203040506070809");
    EXPECT_EQ(records[3].data, "11223F07");
    EXPECT_EQ(records[6].type, 7);
    EXPECT_EQ(records[6].data, "02400000");
  }
}

TEST(SRecordRead, Types4And6EndTheReadingLikeTheEndOfFile) {
  for (std::string_view stop : {"S4030000FC", "S6030000FC"}) {
    const auto records = ReadAll(FileOf({H, A, B, C, D, E, stop, END7}));
    EXPECT_EQ(records.size(), 6u) << stop;
  }
}

TEST(SRecordRead, SkipsLinesThatAreNoRecords) {
  const auto records = ReadAll(FileOf({H, A, B, C, D, E, "", "; trailer", "S", END7}));
  ASSERT_EQ(records.size(), 7u);
  EXPECT_EQ(records.back().type, 7);
}

TEST(SRecordRead, LastLineWithoutLineEndIsRead) {
  const auto records = ReadAll(FileOf({H, A, B, C, D, E}) + std::string(END7));
  ASSERT_EQ(records.size(), 7u);
}

TEST(SRecordRead, FailureStopsAtTheBadRecord) {
  const struct {
    const char* name;
    std::string contents;
    size_t before;
    int code;
  } cases[] = {
      {"checksum", FileOf({H, A, B, "S30902400010DEADBEEF00", D, E}), 3, 415},
      {"truncated after header", FileOf({H, A, B, C, D, "S3"}), 5, 0},
      {"truncated inside the data", FileOf({H, A, B, C, D, "S30F0240000000010203"}), 5, 416},
      {"lone CR kept in the line", FileOf({H, A, B, C, D, E}) + "S70502400000B8\r\r\n", 6, 415},
  };
  for (const auto& c : cases) {
    int code = 0;
    const auto records = ReadAll(c.contents, &code);
    EXPECT_EQ(records.size(), c.before) << c.name;
    EXPECT_EQ(code, c.code) << c.name;
  }
}

}  // namespace

namespace {

// Every line, the position after it, and every record, as a reader gives them.
std::vector<std::string> ReadingOf(CSRecordFile& f) {
  std::vector<std::string> out;
  f.SeekToBegin();
  CString line;
  while (f.ReadString(line))
    out.push_back(std::string(line.GetString()) + "@" + std::to_string(f.GetPosition()));
  f.SeekToBegin();
  SRecordLine record;
  BYTE type = 0;
  for (;;) {
    try {
      if (!f.ReadNextRecord(record, type)) break;
      out.push_back("type " + std::to_string(type) + " at " + std::to_string(record.address));
    } catch (CFlashMonException* e) {
      out.push_back("failure " + std::to_string(e->m_code));
      e->Delete();
    }
  }
  out.push_back("length " + std::to_string(f.GetLength()));
  return out;
}

}  // namespace

// A run keeps the file's content: it reads exactly as the file itself, line ends of every
// kind included, and no longer follows the file on disk.
TEST(SRecordKeptContent, ReadsAsTheFileAndNoLongerFollowsIt) {
  const std::string six =
      JoinLines({"S00600004844521B", "S1130000285F245F2212226A000424290008237C2A",
                 "S11300100002000800082629001853812341001813",
                 "S113002041E900084E42234300182342000824A952", "S107003000144ED492", "S5030004F8"});
  const std::string texts[] = {
      six + "S9030000FC\n", six + "S9030000FC\r\n\r\n",   six + "S9030000FC\r\r\n  \r",
      six + "S9030000FC",   six + "\r\n\r\nS9030000FC\r", six + "\x1A",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(::testing::PrintToString(text.substr(six.size())));
    ScratchFile scratch(text);
    CSRecordFile fromDisk(scratch.path());
    fromDisk.OpenAndCheck();
    const std::vector<std::string> expected = ReadingOf(fromDisk);
    fromDisk.Close();

    CSRecordFile kept(scratch.path());
    kept.OpenAndCheck();
    kept.KeepContent();
    EXPECT_EQ(ReadingOf(kept), expected);
    EXPECT_TRUE(kept.IsUnchangedOnDisk());
  }
}

TEST(SRecordKeptContent, AChangeOnDiskIsSeenAndNotRead) {
  const std::string text = JoinLines(
      {"S00600004844521B", "S1130000285F245F2212226A000424290008237C2A",
       "S11300100002000800082629001853812341001813", "S113002041E900084E42234300182342000824A952",
       "S107003000144ED492", "S5030004F8", "S9030000FC"},
      "\r\n");
  ScratchFile scratch(text);
  CSRecordFile kept(scratch.path());
  kept.OpenAndCheck();
  kept.KeepContent();
  const std::vector<std::string> before = ReadingOf(kept);
  const auto write = [&](const std::string& content) {
    std::ofstream(scratch.path(), std::ios::binary | std::ios::trunc) << content;
  };
  const struct {
    const char* name;
    std::string content;  // "-": the file removed
    bool unchanged;
  } cases[] = {
      {"cut short", text.substr(0, 60), false},
      {"emptied", "", false},
      {"one byte more", text + "\n", false},
      {"one digit changed", std::string(text).replace(20, 1, "9"), false},
      {"removed", "-", false},
      {"written back as it was", text, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.content == "-") {
      // Windows refuses to remove a file that a process holds open: nothing changed then.
      std::error_code refused;
      std::filesystem::remove(scratch.path(), refused);
      if (refused) continue;
    } else {
      write(c.content);
    }
    EXPECT_EQ(kept.IsUnchangedOnDisk(), c.unchanged);
    EXPECT_EQ(ReadingOf(kept), before) << "what was read stays what is read";
  }
  // Never kept: nothing to compare with.
  CSRecordFile plain(scratch.path());
  plain.OpenAndCheck();
  EXPECT_FALSE(plain.IsUnchangedOnDisk());
}
