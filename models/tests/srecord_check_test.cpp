// OpenAndCheck: the quick look at the first six lines, the length, the rewind and the
// failures of opening.
#include <gtest/gtest.h>

#include <string>

#include "models/srecord_file.h"
#include "models/tests/srecord_test_files.h"

namespace {

// Six well-formed records of mixed types.
const std::string_view R0 = "S00600004844521B";
const std::string_view R1 = "S30F024000000001020304050607080981";
const std::string_view R2 = "S30902400010DEADBEEF6C";
const std::string_view R3 = "S3090240042011223F0717";
const std::string_view R4 = "S1051234AABB4F";
const std::string_view R5 = "S205123456CC92";
const std::string_view R6 = "S70502400000B8";

struct CheckCase {
  const char* name;
  std::string contents;
  bool passes;
};

// Returns the cause of the CFileException that OpenAndCheck threw, or -1 when it passed.
int CheckCause(const std::string& contents, DWORD* length = nullptr, LONG* osError = nullptr,
               CString* fileName = nullptr) {
  ScratchFile file(contents);
  CSRecordFile srec(file.path());
  try {
    srec.OpenAndCheck();
  } catch (CFileException* e) {
    const int cause = e->m_cause;
    if (osError) *osError = e->m_lOsError;
    if (fileName) *fileName = e->m_strFileName;
    if (length) *length = srec.m_dwLength;
    e->Delete();
    return cause;
  }
  if (length) *length = srec.m_dwLength;
  return -1;
}

TEST(SRecordCheck, AcceptsAndRefusesByShapeOfFirstSixLines) {
  const std::string six = JoinLines({R0, R1, R2, R3, R4, R5});
  const CheckCase cases[] = {
      {"six records, LF", six, true},
      {"six records, CR LF", JoinLines({R0, R1, R2, R3, R4, R5}, "\r\n"), true},
      {"seven records", JoinLines({R0, R1, R2, R3, R4, R5, R6}), true},
      {"five records", JoinLines({R0, R1, R2, R3, R4}), false},
      {"five records, no final line end", JoinLines({R0, R1, R2, R3}) + std::string(R4), false},
      {"sixth line only S and digit", JoinLines({R0, R1, R2, R3, R4}) + "S3", true},
      {"sixth line garbage after header", JoinLines({R0, R1, R2, R3, R4}) + "S9zz\n", true},
      {"sixth line only S", JoinLines({R0, R1, R2, R3, R4}) + "S", false},
      {"empty file", "", false},
      {"leading blank line", "\n" + six, false},
      {"leading blank line, CR LF", "\r\n" + JoinLines({R0, R1, R2, R3, R4, R5}, "\r\n"), false},
      {"lower-case s", "s" + six.substr(1), false},
      {"SA header", "SA" + six.substr(2), false},
      {"letter in count", "S0G600004844521B\n" + JoinLines({R1, R2, R3, R4, R5}), false},
      {"blank in count", "S0 600004844521B\n" + JoinLines({R1, R2, R3, R4, R5}), false},
      {"trailing spaces on line 1", std::string(R0) + "  \n" + JoinLines({R1, R2, R3, R4, R5}),
       false},
      {"trailing spaces on line 5",
       JoinLines({R0, R1, R2, R3}) + std::string(R4) + " \n" + std::string(R5) + "\n", false},
      {"trailing spaces on line 6 are not looked at",
       JoinLines({R0, R1, R2, R3, R4}) + std::string(R5) + "   \n", true},
      {"count one too small", "S00500004844521B\n" + JoinLines({R1, R2, R3, R4, R5}), false},
      {"count one too large", "S00700004844521B\n" + JoinLines({R1, R2, R3, R4, R5}), false},
      // The check does not look at digits after the count nor at checksums.
      {"bad checksum passes the check", "S00600004844521C\n" + JoinLines({R1, R2, R3, R4, R5}),
       true},
      {"non-hex data passes the check", "S006zzzzzzzzzzzz\n" + JoinLines({R1, R2, R3, R4, R5}),
       true},
      {"binary junk", std::string("\x00\x01\x02S1\xff", 6), false},
  };
  for (const auto& c : cases) {
    const int cause = CheckCause(c.contents);
    EXPECT_EQ(cause, c.passes ? -1 : int{CFileException::invalidFile}) << c.name;
  }
}

TEST(SRecordCheck, RefusalCarriesNoOsErrorAndNoName) {
  LONG osError = 0;
  CString name("unchanged");
  ASSERT_EQ(CheckCause("", nullptr, &osError, &name), CFileException::invalidFile);
  EXPECT_EQ(osError, -1);
  EXPECT_TRUE(name.IsEmpty());
}

TEST(SRecordCheck, LengthIsFileBytesAndZeroAfterRefusal) {
  const struct {
    std::string contents;
    DWORD length;
  } cases[] = {
      {JoinLines({R0, R1, R2, R3, R4, R5}), 16 + 34 + 22 + 22 + 14 + 14 + 6},
      {JoinLines({R0, R1, R2, R3, R4, R5}, "\r\n"), 16 + 34 + 22 + 22 + 14 + 14 + 12},
      {JoinLines({R0, R1, R2, R3, R4}), 0},
  };
  for (const auto& c : cases) {
    DWORD length = 12345;
    CheckCause(c.contents, &length);
    EXPECT_EQ(length, c.length) << c.contents;
  }
}

TEST(SRecordCheck, EndsAtStartOfFile) {
  ScratchFile file(JoinLines({R0, R1, R2, R3, R4, R5}, "\r\n"));
  CSRecordFile srec(file.path());
  srec.OpenAndCheck();
  EXPECT_EQ(srec.GetPosition(), 0u);
  CString first;
  ASSERT_TRUE(srec.ReadString(first));
  EXPECT_EQ(first, CString(R0.data(), static_cast<int>(R0.size())));
}

TEST(SRecordCheck, MissingFileReportsTheOpenFailure) {
  ScratchFile neighbour("");
  const std::string missing = std::string(neighbour.path()) + ".missing";
  CSRecordFile srec(missing.c_str());
  try {
    srec.OpenAndCheck();
    FAIL() << "opened a missing file";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::fileNotFound);
    EXPECT_EQ(e->m_lOsError, static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(e->m_strFileName, missing.c_str());
    e->Delete();
  }
  EXPECT_EQ(srec.m_dwLength, 0u);
}

TEST(SRecordCheck, FileHeldExclusivelyByAnotherOpenerIsRefused) {
  ScratchFile file(JoinLines({R0, R1, R2, R3, R4, R5}));
  CFile writer(file.path(), CFile::modeReadWrite | CFile::shareExclusive);
  CSRecordFile srec(file.path());
  try {
    srec.OpenAndCheck();
    FAIL() << "opened a file held exclusively";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::sharingViolation);
    EXPECT_EQ(e->m_strFileName, file.path());
    e->Delete();
  }
}

TEST(SRecordCheck, CanBeRepeatedOnTheSameObject) {
  ScratchFile file(JoinLines({R0, R1, R2, R3, R4, R5}));
  CSRecordFile srec(file.path());
  srec.OpenAndCheck();
  SRecordLine line;
  BYTE type = 0;
  ASSERT_TRUE(srec.ReadNextRecord(line, type));
  srec.OpenAndCheck();
  EXPECT_EQ(srec.GetPosition(), 0u);
}

}  // namespace
