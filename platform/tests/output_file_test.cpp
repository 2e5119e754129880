#include "platform/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/file_io.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class OutputFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "output-file-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::size_t EntryCount() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }
  fs::path dir_;
};

TEST_F(OutputFile, FilesAreReplacedWholeAndNewNamesCreated) {
  std::ofstream(Path("old.reg")) << "earlier content, longer than the new one";
  ASSERT_EQ(WriteOutputFile(Path("old.reg"), "new"), ERROR_SUCCESS);
  EXPECT_EQ(Read(Path("old.reg")), "new");
  ASSERT_EQ(WriteOutputFile(Path("fresh.reg"), std::string("a\0b", 3)), ERROR_SUCCESS);
  EXPECT_EQ(Read(Path("fresh.reg")), std::string("a\0b", 3));
  EXPECT_EQ(EntryCount(), 2u) << "no temporary file may stay behind";
  EXPECT_EQ(WriteOutputFile(Path("no-dir/x.reg"), "x"), ERROR_PATH_NOT_FOUND);
}

// Names that are no file are refused and stay what they were; nothing is left beside them.
TEST_F(OutputFile, FifosAndDirectoriesAreRefusedAndKeptAsTheyAre) {
  ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
  fs::create_directory(Path("folder"));
  const struct {
    const char* name;
    OutputKind kind;
    bool (*stillThere)(const fs::path&);
  } rows[] = {
      {"pipe", OutputKind::kFifo, [](const fs::path& p) { return fs::is_fifo(p); }},
      {"folder", OutputKind::kDirectory, [](const fs::path& p) { return fs::is_directory(p); }},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(KindOfOutput(Path(row.name)), row.kind) << row.name;
    EXPECT_EQ(WriteOutputFile(Path(row.name), "text"), kErrorNotAFile) << row.name;
    EXPECT_TRUE(row.stillThere(dir_ / row.name)) << row.name;
  }
  EXPECT_TRUE(IsPipeOrSocket(Path("pipe")));
  EXPECT_FALSE(IsPipeOrSocket(Path("folder")));
  EXPECT_EQ(EntryCount(), 2u);
}

// A character device is written in place: the node stays a device. /dev/null takes the
// bytes harmlessly; nothing else in /dev is touched.
TEST_F(OutputFile, ACharacterDeviceIsWrittenInPlace) {
  ASSERT_EQ(KindOfOutput("/dev/null"), OutputKind::kCharDevice);
  EXPECT_EQ(WriteOutputFile("/dev/null", std::string(100000, 'x')), ERROR_SUCCESS);
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "/dev/null must still be a character device";
}

// A device that takes nothing (Linux's "full", made in the test's own directory): the
// failed write is reported, and the node is neither replaced nor joined by a file.
TEST_F(OutputFile, AFailedWriteToACharacterDeviceIsReported) {
  if (::mknod(Path("full").c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0)
    GTEST_SKIP() << "mknod refused (not root?): cannot make a full device to write to";
  ASSERT_EQ(KindOfOutput(Path("full")), OutputKind::kCharDevice);
  for (const std::size_t size : {std::size_t{1}, std::size_t{100000}}) {
    EXPECT_EQ(WriteOutputFile(Path("full"), std::string(size, 'x')),
              static_cast<DWORD>(ERROR_DISK_FULL))
        << size << " bytes";
  }
  EXPECT_EQ(WriteOutputFile(Path("full"), ""), static_cast<DWORD>(ERROR_SUCCESS))
      << "nothing to write is no failure";
  EXPECT_TRUE(fs::is_character_file(Path("full")));
  EXPECT_EQ(EntryCount(), 1u);
}

// Opening a FIFO would wait for a reader for ever; the open says no at once, for every
// access, and the FIFO stays.
TEST_F(OutputFile, FileOpenRefusesAFifoWithoutWaiting) {
  ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
  for (FileAccess access : {FileAccess::kRead, FileAccess::kWrite, FileAccess::kReadWrite}) {
    for (bool create : {false, true}) {
      int fd = -1;
      EXPECT_EQ(FileOpen(Path("pipe"), access, create, fd), ERROR_ACCESS_DENIED);
      EXPECT_LT(fd, 0);
    }
  }
  EXPECT_TRUE(fs::is_fifo(Path("pipe")));
  int fd = -1;
  ASSERT_EQ(FileOpen("/dev/null", FileAccess::kWrite, true, fd), ERROR_SUCCESS);
  EXPECT_EQ(FileWriteAll(fd, "abc", 3), ERROR_SUCCESS);
  EXPECT_EQ(FileClose(fd), ERROR_SUCCESS);
}

}  // namespace
}  // namespace platform
