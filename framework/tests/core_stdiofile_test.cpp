// CStdioFile: text-mode CR LF folding (also across buffer refills), line reading,
// byte positions, seeking, and buffered writing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/afx.h"
#include "framework/tests/core_temp_dir.h"

namespace {

constexpr UINT kTextRead = CFile::modeRead | CFile::shareDenyWrite | CFile::typeText;
constexpr size_t kBuffer = 64 * 1024;  // the reader's buffer size: refills happen here

// What a text-mode read must deliver: every CR LF pair as '\n', everything else as is.
std::string Folded(const std::string& raw) {
  std::string out;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out += raw[i];
  }
  return out;
}

std::vector<std::string> ReadLines(CStdioFile& file) {
  std::vector<std::string> lines;
  CString line;
  while (file.ReadString(line)) lines.push_back(line.str());
  return lines;
}

class CoreStdioFile : public ::testing::Test {
 protected:
  CoreTempDir dir_;
};

TEST_F(CoreStdioFile, ReadStringStripsLineEnds) {
  struct Row {
    const char* content;
    std::vector<std::string> text;    // lines in text mode
    std::vector<std::string> binary;  // lines in binary mode
  };
  const Row rows[] = {
      {"", {}, {}},
      {"\n", {""}, {""}},
      {"a\nb\n", {"a", "b"}, {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}, {"a\r", "b\r"}},
      {"last line without end", {"last line without end"}, {"last line without end"}},
      {"a\r\nno end", {"a", "no end"}, {"a\r", "no end"}},
      {"lone\rCR\n", {"lone\rCR"}, {"lone\rCR"}},
      {"two\r\r\n", {"two\r"}, {"two\r\r"}},
      {"ends in CR\r", {"ends in CR\r"}, {"ends in CR\r"}},
      {"\n\n", {"", ""}, {"", ""}},
  };
  for (const Row& row : rows) {
    const std::string path = dir_.Write("lines.x", row.content);
    CStdioFile text(path.c_str(), kTextRead);
    EXPECT_EQ(ReadLines(text), row.text) << "text: " << row.content;
    CStdioFile binary(path.c_str(), CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary);
    EXPECT_EQ(ReadLines(binary), row.binary) << "binary: " << row.content;
  }
}

TEST_F(CoreStdioFile, DefaultModeIsText) {
  CStdioFile file(dir_.Write("d.x", "a\r\n").c_str(), CFile::modeRead);
  CString line;
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, "a");
}

TEST_F(CoreStdioFile, CrLfSplitByARefillStillFolds) {
  // The CR is the last byte of the first buffer load, its LF the first of the next.
  const std::string first(kBuffer - 1, 'x');
  const std::string path = dir_.Write("split.x", first + "\r\nnext\r\n");
  {
    CStdioFile file(path.c_str(), kTextRead);
    EXPECT_EQ(ReadLines(file), (std::vector<std::string>{first, "next"}));
  }
  {
    CStdioFile file(path.c_str(), kTextRead);
    std::string got(kBuffer + 8, '\0');
    got.resize(file.Read(got.data(), static_cast<UINT>(got.size())));
    EXPECT_EQ(got, first + "\nnext\n");
    EXPECT_EQ(file.GetPosition(), kBuffer + 7);
  }
}

TEST_F(CoreStdioFile, ReadFoldsAtEveryChunkSize) {
  // Line ends of every kind at every phase relative to the buffer, over several refills.
  std::string raw;
  const char* pieces[] = {"S1130000", "\r\n", "\r", "abc", "\n", "\r\r\n", "\n\r", "0123456789"};
  for (size_t i = 0; raw.size() < 3 * kBuffer + 100; i = (i * 7 + 3) % std::size(pieces))
    raw += pieces[i];
  const std::string path = dir_.Write("mixed.x", raw);
  const std::string want = Folded(raw);
  for (UINT chunk : {1u, 2u, 7u, 4096u, 65535u, 65536u, 200000u}) {
    CStdioFile file(path.c_str(), kTextRead);
    std::string got;
    std::vector<char> buffer(chunk);
    for (UINT n; (n = file.Read(buffer.data(), chunk)) > 0;) got.append(buffer.data(), n);
    EXPECT_EQ(got == want, true) << "chunk " << chunk;
    EXPECT_EQ(file.GetPosition(), raw.size()) << "chunk " << chunk;
  }
}

TEST_F(CoreStdioFile, PositionsAndLengthAreFileBytes) {
  const std::string path = dir_.Write("p.x", "S0\r\nS1\r\nlast");
  CStdioFile file(path.c_str(), kTextRead);
  EXPECT_EQ(file.GetLength(), 12u);
  CString line;
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(file.GetPosition(), 4u);
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(file.GetPosition(), 8u);
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, "last");
  EXPECT_EQ(file.GetPosition(), 12u);
  EXPECT_FALSE(file.ReadString(line));
  EXPECT_TRUE(line.IsEmpty());
}

TEST_F(CoreStdioFile, RecordShapeWalkWithRelativeSeeks) {
  // Header, count, skip 2 x count characters, then the line end: the way the firmware
  // reader checks a file.
  const std::string path = dir_.Write("r.x", "S00600004844521B\r\nS1130000");
  CStdioFile file(path.c_str(), kTextRead);
  char header[2];
  ASSERT_EQ(file.Read(header, 2), 2u);
  EXPECT_EQ(std::string(header, 2), "S0");
  char count[2];
  ASSERT_EQ(file.Read(count, 2), 2u);
  EXPECT_EQ(file.Seek(2 * 6, CFile::current), 16u);
  char end = 0;
  ASSERT_EQ(file.Read(&end, 1), 1u);
  EXPECT_EQ(end, '\n');
  EXPECT_EQ(file.GetPosition(), 18u);
  ASSERT_EQ(file.Read(header, 2), 2u);
  EXPECT_EQ(std::string(header, 2), "S1");
}

TEST_F(CoreStdioFile, SeekMovesWithinAndBeyondTheBuffer) {
  std::string raw;
  for (int i = 0; i < 20000; ++i) raw += "line " + std::to_string(i) + "\n";
  ASSERT_GT(raw.size(), 2 * kBuffer);
  const std::string path = dir_.Write("s.x", raw);
  CStdioFile file(path.c_str(), kTextRead);
  CString line;
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(file.Seek(0, CFile::begin), 0u);  // inside the loaded buffer
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, "line 0");

  const size_t at = raw.find("line 15000\n");
  EXPECT_EQ(file.Seek(static_cast<LONGLONG>(at), CFile::begin), at);  // far outside
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, "line 15000");

  EXPECT_EQ(file.SeekToEnd(), raw.size());
  EXPECT_FALSE(file.ReadString(line));
  file.SeekToBegin();
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, "line 0");

  try {
    file.Seek(-1, CFile::begin);
    ADD_FAILURE() << "seeked before the start";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::badSeek);
    e->Delete();
  }
  EXPECT_EQ(file.GetPosition(), 7u);  // a refused seek leaves the position
}

TEST_F(CoreStdioFile, WritesAreBufferedAndKeptAsWritten) {
  const std::string path = dir_.Path("w.txt");
  CStdioFile file(path.c_str(),
                  CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive | CFile::typeText);
  file.WriteString("one\n");
  file.WriteString("two\r\n");
  file.WriteString(nullptr);
  EXPECT_EQ(file.GetPosition(), 9u);
  EXPECT_EQ(file.GetLength(), 9u);
  file.Flush();
  EXPECT_EQ(CoreTempDir::Read(path), "one\ntwo\r\n");
  const std::string big(3 * kBuffer, 'b');
  file.Write(big.data(), static_cast<UINT>(big.size()));
  file.WriteString("end");
  file.Close();
  EXPECT_EQ(CoreTempDir::Read(path), "one\ntwo\r\n" + big + "end");
}

TEST_F(CoreStdioFile, DestructorWritesPendingData) {
  const std::string path = dir_.Path("dtor.txt");
  {
    CStdioFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite);
    file.WriteString("kept\n");
  }
  EXPECT_EQ(CoreTempDir::Read(path), "kept\n");
}

TEST_F(CoreStdioFile, WriteAfterReadGoesToTheReadPosition) {
  const std::string path = dir_.Write("rw.txt", "aaaa\nbbbb\ncccc\n");
  {
    CStdioFile file(path.c_str(), CFile::modeReadWrite | CFile::shareExclusive);
    CString line;
    ASSERT_TRUE(file.ReadString(line));
    file.WriteString("BBBB");
    EXPECT_EQ(file.GetPosition(), 9u);
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, "");  // the rest of the overwritten line: just its end
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, "cccc");
    file.SeekToBegin();
    EXPECT_EQ(ReadLines(file), (std::vector<std::string>{"aaaa", "BBBB", "cccc"}));
  }
  EXPECT_EQ(CoreTempDir::Read(path), "aaaa\nBBBB\ncccc\n");
}

TEST_F(CoreStdioFile, OpenFailuresReportLikeCFile) {
  CStdioFile file;
  CFileException error;
  EXPECT_FALSE(file.Open(dir_.Path("missing.x").c_str(), kTextRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  try {
    CStdioFile thrown(dir_.Path("no/dir.x").c_str(), kTextRead);
    ADD_FAILURE() << "opened";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::badPath);
    e->Delete();
  }
}

TEST_F(CoreStdioFile, DenyWriteReaderKeepsAnExclusiveWriterOut) {
  const std::string path = dir_.Write("fw.x", "S0\n");
  CStdioFile reader(path.c_str(), kTextRead);
  CFile writer;
  CFileException error;
  EXPECT_FALSE(writer.Open(path.c_str(),
                           CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive, &error));
  EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
  CString line;
  ASSERT_TRUE(reader.ReadString(line));
  EXPECT_EQ(line, "S0");
}

}  // namespace
