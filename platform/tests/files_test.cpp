#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

namespace fs = std::filesystem;

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "platform-files-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::size_t EntryCount() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
  }
  fs::path dir;
};

TEST_F(Files, StatusOfFilesDirectoriesAndMissingPaths) {
  Write(Path("a.x"), "S00600004844521B\n");
  FileStatus status;
  ASSERT_TRUE(GetFileStatus(Path("a.x"), status));
  EXPECT_EQ(status.size, 17u);
  EXPECT_FALSE(status.isDirectory);
  EXPECT_GT(status.modifiedUs, 0);
  ASSERT_TRUE(GetFileStatus(dir.string(), status));
  EXPECT_TRUE(status.isDirectory);
  EXPECT_FALSE(GetFileStatus(Path("missing.x"), status));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(GetFileStatus(Path("a.x/inside"), status));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(Files, CopyReplacesOrRefusesAndLeavesNoTemporaryFiles) {
  Write(Path("src.x"), "new contents");
  Write(Path("dst.x"), "old");
  EXPECT_FALSE(CopyFile(Path("src.x").c_str(), Path("dst.x").c_str(), TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(Read(Path("dst.x")), "old");
  EXPECT_TRUE(CopyFile(Path("src.x").c_str(), Path("dst.x").c_str(), FALSE));
  EXPECT_EQ(Read(Path("dst.x")), "new contents");
  EXPECT_TRUE(CopyFile(Path("src.x").c_str(), Path("fresh.x").c_str(), TRUE));
  EXPECT_EQ(Read(Path("fresh.x")), "new contents");
  EXPECT_EQ(EntryCount(), 3u);
}

TEST_F(Files, FailedCopiesLeaveTheDestinationAlone) {
  Write(Path("dst.x"), "keep me");
  EXPECT_FALSE(CopyFile(Path("missing.x").c_str(), Path("dst.x").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Read(Path("dst.x")), "keep me");
  // Onto itself: refused, not truncated.
  EXPECT_FALSE(CopyFile(Path("dst.x").c_str(), Path("dst.x").c_str(), FALSE));
  EXPECT_EQ(Read(Path("dst.x")), "keep me");
  EXPECT_FALSE(CopyFile(Path("dst.x").c_str(), Path("nodir/dst.x").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(CopyFile(dir.string().c_str(), Path("d.x").c_str(), FALSE));
  EXPECT_FALSE(CopyFile(nullptr, Path("d.x").c_str(), FALSE));
  EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(Files, CopyAcceptsBackslashPaths) {
  Write(Path("src.x"), "data");
  std::string src = Path("src.x"), dst = Path("dst.x");
  for (char& c : dst) c = c == '/' ? '\\' : c;
  EXPECT_TRUE(CopyFile(src.c_str(), dst.c_str(), FALSE));
  EXPECT_EQ(Read(Path("dst.x")), "data");
}

TEST_F(Files, DeleteAndCreateDirectory) {
  Write(Path("a.x"), "1");
  EXPECT_TRUE(DeleteFile(Path("a.x").c_str()));
  EXPECT_FALSE(DeleteFile(Path("a.x").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(CreateDirectory(Path("Firmware").c_str()));
  EXPECT_TRUE(CreateDirectory(Path("Firmware").c_str()));  // existing counts as success
  EXPECT_FALSE(DeleteFile(Path("Firmware").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(CreateDirectory(Path("a/b").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  Write(Path("file"), "");
  EXPECT_FALSE(CreateDirectory(Path("file").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
}

TEST(Paths, SplitPathLikeTheRuntime) {
  struct Row {
    const char* path;
    const char* dir;
    const char* fname;
    const char* ext;
  };
  const Row rows[] = {
      {"C:\\Tool\\Firmware\\kv70_2.x", "C:\\Tool\\Firmware\\", "kv70_2", ".x"},
      {"/home/u/dump.log", "/home/u/", "dump", ".log"},
      {"mixed/dir\\name.tar.gz", "mixed/dir\\", "name.tar", ".gz"},
      {"noext", "", "noext", ""},
      {"dir.d/noext", "dir.d/", "noext", ""},
      {"trailing/", "trailing/", "", ""},
      {"", "", "", ""},
  };
  for (const auto& row : rows) {
    std::string dir, fname, ext;
    SplitPath(row.path, &dir, &fname, &ext);
    EXPECT_EQ(dir, row.dir) << row.path;
    EXPECT_EQ(fname, row.fname) << row.path;
    EXPECT_EQ(ext, row.ext) << row.path;
  }
  std::string only;
  SplitPath("a/b.c", nullptr, &only, nullptr);
  EXPECT_EQ(only, "b");
  EXPECT_EQ(ToNativePath("C:\\Tool\\x.x"), "C:/Tool/x.x");
}

}  // namespace
}  // namespace platform
