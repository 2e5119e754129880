#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

class FileIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "file_io_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Make(const char* name, const char* text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }

  std::filesystem::path dir_;
};

TEST_F(FileIoTest, OpenAndRemoveTellAMissingFileFromAMissingDirectory) {
  const struct {
    const char* what;
    std::string path;
    DWORD error;
  } rows[] = {
      {"missing file", (dir_ / "none").string(), ERROR_FILE_NOT_FOUND},
      {"missing directory", (dir_ / "none" / "file").string(), ERROR_PATH_NOT_FOUND},
  };
  for (const auto& row : rows) {
    int fd = -1;
    EXPECT_EQ(platform::FileOpen(row.path, platform::FileAccess::kRead, false, fd), row.error)
        << row.what;
    EXPECT_LT(fd, 0) << row.what;
    EXPECT_EQ(platform::FileRemove(row.path), row.error) << row.what;
  }
  EXPECT_EQ(platform::FileRemove(dir_.string()), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(std::filesystem::exists(dir_));
}

TEST_F(FileIoTest, LocksShareOrExcludeAndAHeldFileIsNotRemoved) {
  const std::string path = Make("held", "data");
  int first = -1, second = -1;
  ASSERT_EQ(platform::FileOpen(path, platform::FileAccess::kRead, false, first), ERROR_SUCCESS);
  ASSERT_EQ(platform::FileOpen(path, platform::FileAccess::kRead, false, second), ERROR_SUCCESS);
  EXPECT_EQ(platform::FileTryLock(first, platform::FileLockKind::kShared), ERROR_SUCCESS);
  EXPECT_EQ(platform::FileTryLock(second, platform::FileLockKind::kShared), ERROR_SUCCESS);
  EXPECT_EQ(platform::FileRemove(path), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(platform::FileClose(second), ERROR_SUCCESS);
  ASSERT_EQ(platform::FileOpen(path, platform::FileAccess::kRead, false, second), ERROR_SUCCESS);
  EXPECT_EQ(platform::FileTryLock(second, platform::FileLockKind::kExclusive),
            ERROR_SHARING_VIOLATION);
  EXPECT_EQ(platform::FileClose(second), ERROR_SUCCESS);
  EXPECT_EQ(platform::FileClose(first), ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(platform::FileRemove(path), ERROR_SUCCESS);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(FileIoTest, ReadWriteSeekAndLengthAgree) {
  const std::string path = (dir_ / "data").string();
  int fd = -1;
  ASSERT_EQ(platform::FileOpen(path, platform::FileAccess::kReadWrite, true, fd), ERROR_SUCCESS);
  EXPECT_EQ(platform::FileWriteAll(fd, "abcdef", 6), ERROR_SUCCESS);
  std::uint64_t value = 0;
  EXPECT_EQ(platform::FileLength(fd, value), ERROR_SUCCESS);
  EXPECT_EQ(value, 6u);
  EXPECT_EQ(platform::FileSeek(fd, -2, platform::FileOrigin::kEnd, value), ERROR_SUCCESS);
  EXPECT_EQ(value, 4u);
  char buffer[8] = {};
  std::size_t got = 0;
  EXPECT_EQ(platform::FileReadSome(fd, buffer, sizeof buffer, got), ERROR_SUCCESS);
  EXPECT_EQ(std::string(buffer, got), "ef");
  EXPECT_EQ(platform::FileReadSome(fd, buffer, sizeof buffer, got), ERROR_SUCCESS);
  EXPECT_EQ(got, 0u);  // the end of the file
  EXPECT_EQ(platform::FileSeek(fd, -1, platform::FileOrigin::kBegin, value),
            platform::kErrorNegativeSeek);
  EXPECT_EQ(platform::FileSync(fd), ERROR_SUCCESS);
  EXPECT_EQ(platform::FileTruncate(fd), ERROR_SUCCESS);
  EXPECT_EQ(platform::FileLength(fd, value), ERROR_SUCCESS);
  EXPECT_EQ(value, 0u);
  platform::FileKind kind;
  EXPECT_EQ(platform::FileKindOf(fd, kind), ERROR_SUCCESS);
  EXPECT_TRUE(kind.isRegular);
  EXPECT_FALSE(kind.isDirectory);
  EXPECT_EQ(platform::FileClose(fd), ERROR_SUCCESS);
}

}  // namespace
