// CFile: open modes, share-mode conflicts, creation that never truncates a file another
// opener holds, error causes, reading, writing, seeking and removal.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "framework/afx.h"
#include "framework/tests/core_temp_dir.h"
#include "platform/testing/system_for_tests.h"

namespace {

constexpr UINT kCreateExclusive = CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive;
constexpr UINT kReadDenyWrite = CFile::modeRead | CFile::shareDenyWrite;

struct OpenResult {
  bool opened;
  int cause;
  LONG osError;
  std::string fileName;
};

OpenResult TryOpen(CFile& file, const std::string& path, UINT flags) {
  CFileException error;
  const bool opened = file.Open(path.c_str(), flags, &error) != FALSE;
  return {opened, error.m_cause, error.m_lOsError, error.m_strFileName.str()};
}

class CoreFile : public ::testing::Test {
 protected:
  CoreTempDir dir_;
};

TEST_F(CoreFile, CreateWritesAndReadsBack) {
  const std::string path = dir_.Path("a.bin");
  {
    CFile file(path.c_str(), kCreateExclusive);
    file.Write("hello world", 11);
    EXPECT_EQ(file.GetPosition(), 11u);
    EXPECT_EQ(file.GetLength(), 11u);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
  }
  CFile file(path.c_str(), CFile::modeRead);
  char buffer[32] = {};
  EXPECT_EQ(file.Read(buffer, 5), 5u);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_EQ(file.Seek(-5, CFile::end), 6u);
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 5u);
  EXPECT_EQ(std::string(buffer, 5), "world");
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(file.Seek(2, CFile::begin), 2u);
  EXPECT_EQ(file.Seek(3, CFile::current), 5u);
  EXPECT_EQ(file.GetFilePath(), path.c_str());
}

TEST_F(CoreFile, CreateTruncatesUnlessNoTruncate) {
  const std::string path = dir_.Write("t.txt", "old contents");
  { CFile file(path.c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite); }
  EXPECT_EQ(CoreTempDir::Read(path), "old contents");
  { CFile file(path.c_str(), CFile::modeCreate | CFile::modeWrite); }
  EXPECT_EQ(CoreTempDir::Read(path), "");
}

TEST_F(CoreFile, SecondExclusiveOpenIsRefusedAndLeavesTheFileIntact) {
  const std::string path = dir_.Path("dump.log");
  CFile first(path.c_str(), kCreateExclusive);
  first.Write("first opener's data", 19);

  CFile second;
  const OpenResult r = TryOpen(second, path, kCreateExclusive);
  EXPECT_FALSE(r.opened);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(r.cause, CFileException::sharingViolation);
  EXPECT_EQ(r.osError, static_cast<LONG>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(r.fileName, path);
  EXPECT_EQ(CoreTempDir::Read(path), "first opener's data");

  first.Write("!", 1);
  first.Close();
  EXPECT_EQ(CoreTempDir::Read(path), "first opener's data!");
}

TEST_F(CoreFile, ShareModeConflicts) {
  const std::string path = dir_.Write("s.x", "S0");
  struct Row {
    const char* what;
    UINT first;
    UINT second;
    bool secondOpens;
  };
  const Row rows[] = {
      {"deny-write readers share", kReadDenyWrite, kReadDenyWrite, true},
      {"exclusive writer refuses deny-write reader", kCreateExclusive | CFile::modeNoTruncate,
       kReadDenyWrite, false},
      {"deny-write reader refuses exclusive writer", kReadDenyWrite, kCreateExclusive, false},
      {"deny-write reader refuses deny-write writer", kReadDenyWrite,
       CFile::modeWrite | CFile::shareDenyWrite, false},
      {"deny-none openers share", CFile::modeRead | CFile::shareDenyNone,
       CFile::modeReadWrite | CFile::shareDenyNone, true},
      {"exclusive refuses deny-none", CFile::modeRead | CFile::shareExclusive,
       CFile::modeRead | CFile::shareDenyNone, false},
      {"compatibility mode is exclusive", CFile::modeRead, kReadDenyWrite, false},
  };
  for (const Row& row : rows) {
    CFile first;
    ASSERT_TRUE(TryOpen(first, path, row.first).opened) << row.what;
    CFile second;
    const OpenResult r = TryOpen(second, path, row.second);
    EXPECT_EQ(r.opened, row.secondOpens) << row.what;
    if (!r.opened) {
      EXPECT_EQ(r.cause, CFileException::sharingViolation) << row.what;
    }
  }
  EXPECT_EQ(CoreTempDir::Read(path), "S0");
}

TEST_F(CoreFile, LockIsReleasedOnClose) {
  const std::string path = dir_.Path("r.log");
  { CFile first(path.c_str(), kCreateExclusive); }
  CFile again;
  EXPECT_TRUE(TryOpen(again, path, kCreateExclusive).opened);
}

TEST_F(CoreFile, OpenFailureCauses) {
  std::filesystem::permissions(dir_.Write("ro.txt", "x"), std::filesystem::perms::owner_read |
                                                              std::filesystem::perms::group_read |
                                                              std::filesystem::perms::others_read);
  struct Row {
    std::string path;
    UINT flags;
    int cause;
    LONG osError;
  };
  const Row rows[] = {
      {dir_.Path("missing.x"), kReadDenyWrite, CFileException::fileNotFound, 2},
      {dir_.Path("nodir/missing.x"), kReadDenyWrite, CFileException::badPath, 3},
      {dir_.Path("nodir/new.log"), kCreateExclusive, CFileException::badPath, 3},
      {dir_.Path("ro.txt/child"), kCreateExclusive, CFileException::badPath, 3},
      {dir_.Dir(), CFile::modeRead, CFileException::accessDenied, 5},
      {dir_.Dir(), kCreateExclusive, CFileException::accessDenied, 5},
      {"", CFile::modeRead, CFileException::badPath, 123},
  };
  for (const Row& row : rows) {
    CFile file;
    const OpenResult r = TryOpen(file, row.path, row.flags);
    EXPECT_FALSE(r.opened) << row.path;
    EXPECT_EQ(r.cause, row.cause) << row.path;
    EXPECT_EQ(r.osError, row.osError) << row.path;
  }
  if (!platform_test::MayWriteReadOnlyFiles()) {
    CFile file;
    const OpenResult r = TryOpen(file, dir_.Path("ro.txt"), kCreateExclusive);
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.cause, CFileException::accessDenied);
    EXPECT_EQ(CoreTempDir::Read(dir_.Path("ro.txt")), "x");
  }
}

TEST_F(CoreFile, ThrowingConstructorCarriesTheCause) {
  const std::string path = dir_.Path("none/x.log");
  try {
    CFile file(path.c_str(), kCreateExclusive);
    ADD_FAILURE() << "opened";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::badPath);
    EXPECT_EQ(e->m_strFileName, path.c_str());
    e->Delete();
  }
}

TEST_F(CoreFile, BackslashesSeparateDirectories) {
  dir_.Write("b.x", "data");
  std::string windowsStyle = dir_.Path("b.x");
  for (char& ch : windowsStyle) {
    if (ch == '/') ch = '\\';
  }
  CFile file;
  EXPECT_TRUE(TryOpen(file, windowsStyle, CFile::modeRead).opened);
  EXPECT_EQ(file.GetLength(), 4u);
}

TEST_F(CoreFile, OperationsOnAClosedFileFailWithInvalidFile) {
  CFile file;
  char buffer[4];
  auto expectInvalid = [](auto&& operation) {
    try {
      operation();
      ADD_FAILURE() << "no failure";
    } catch (CFileException* e) {
      EXPECT_EQ(e->m_cause, CFileException::invalidFile);
      e->Delete();
    }
  };
  expectInvalid([&] { file.Read(buffer, 4); });
  expectInvalid([&] { file.Write(buffer, 4); });
  expectInvalid([&] { file.Seek(0, CFile::begin); });
  expectInvalid([&] { file.GetLength(); });
  file.Close();  // closing a closed file is harmless
  file.Abort();
}

TEST_F(CoreFile, SeekBeforeTheStartIsABadSeek) {
  CFile file(dir_.Write("k.bin", "12345").c_str(), CFile::modeRead);
  try {
    file.Seek(-1, CFile::begin);
    ADD_FAILURE() << "seeked";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::badSeek);
    e->Delete();
  }
  EXPECT_EQ(file.GetPosition(), 0u);
}

TEST_F(CoreFile, WriteOnAReadOnlyDescriptorThrows) {
  CFile file(dir_.Write("w.bin", "abc").c_str(), CFile::modeRead);
  try {
    file.Write("x", 1);
    ADD_FAILURE() << "wrote";
  } catch (CFileException* e) {
    EXPECT_NE(e->m_cause, CFileException::none);
    e->Delete();
  }
}

TEST_F(CoreFile, FullDeviceIsDiskFull) {
  CFile file;
  if (!file.Open("/dev/full", CFile::modeWrite | CFile::shareDenyNone))
    GTEST_SKIP() << "no /dev/full";
  try {
    file.Write("x", 1);
    ADD_FAILURE() << "wrote";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::diskFull);
    EXPECT_EQ(e->m_lOsError, static_cast<LONG>(ERROR_DISK_FULL));
    e->Delete();
  }
}

TEST_F(CoreFile, Remove) {
  const std::string path = dir_.Write("gone.x", "x");
  CFile::Remove(path.c_str());
  EXPECT_FALSE(std::filesystem::exists(path));

  struct Row {
    std::string path;
    int cause;
  };
  const Row rows[] = {
      {dir_.Path("gone.x"), CFileException::fileNotFound},
      {dir_.Path("nodir/gone.x"), CFileException::badPath},
      {dir_.Dir(), CFileException::accessDenied},
  };
  for (const Row& row : rows) {
    try {
      CFile::Remove(row.path.c_str());
      ADD_FAILURE() << "removed " << row.path;
    } catch (CFileException* e) {
      EXPECT_EQ(e->m_cause, row.cause) << row.path;
      EXPECT_EQ(e->m_strFileName, row.path.c_str());
      e->Delete();
    }
  }
}

TEST_F(CoreFile, RemovingAFileInUseIsASharingViolation) {
  const std::string path = dir_.Path("busy.log");
  CFile holder(path.c_str(), kCreateExclusive);
  try {
    CFile::Remove(path.c_str());
    ADD_FAILURE() << "removed";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::sharingViolation);
    e->Delete();
  }
  EXPECT_TRUE(std::filesystem::exists(path));
  holder.Close();
  CFile::Remove(path.c_str());
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(CoreFile, ReopeningClosesThePreviousFile) {
  const std::string a = dir_.Path("a.log");
  const std::string b = dir_.Path("b.log");
  CFile file(a.c_str(), kCreateExclusive);
  ASSERT_TRUE(file.Open(b.c_str(), kCreateExclusive));
  CFile other;
  EXPECT_TRUE(TryOpen(other, a, kCreateExclusive).opened);  // a's lock went with it
}

}  // namespace
