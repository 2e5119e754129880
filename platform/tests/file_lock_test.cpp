#include "platform/file_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

namespace {

class FileLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "file_lock_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Whether another open of the file (as another process would make) could lock it now.
  static bool Free(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
  }

  std::filesystem::path dir_;
};

TEST_F(FileLockTest, HoldsTheFileForItsLifeAndLeavesItBehind) {
  const std::string path = (dir_ / "store.db.lock").string();
  {
    platform::FileLock lock(path);
    EXPECT_TRUE(lock.IsHeld());
    EXPECT_FALSE(Free(path));
  }
  EXPECT_TRUE(Free(path));
  EXPECT_TRUE(std::filesystem::exists(path));
  // Taken again once let go.
  platform::FileLock again(path);
  EXPECT_TRUE(again.IsHeld());
  EXPECT_FALSE(Free(path));
}

TEST_F(FileLockTest, AnUnusablePathIsNotHeldAndLocksNothing) {
  const struct {
    const char* what;
    std::filesystem::path path;
  } rows[] = {
      {"missing directory", dir_ / "missing" / "lock"},
      {"a directory", dir_},
      {"empty path", std::filesystem::path()},
  };
  for (const auto& row : rows) {
    platform::FileLock lock(row.path.string());
    EXPECT_FALSE(lock.IsHeld()) << row.what;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
}

}  // namespace
