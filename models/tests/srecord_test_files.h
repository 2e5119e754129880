// Scratch files for the S-record reader's tests: each lives in its own temporary
// directory and disappears with the object.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/testing/system_for_tests.h"

class ScratchFile {
 public:
  explicit ScratchFile(std::string_view contents, const char* name = "image.x") {
    dir_ = platform_test::MakeTempDir("srecord_test_");
    path_ = dir_ + "/" + name;
    std::ofstream out(path_, std::ios::binary);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  }
  ~ScratchFile() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const char* path() const { return path_.c_str(); }

 private:
  std::string dir_;
  std::string path_;
};

// Joins lines with the given line end after each.
inline std::string JoinLines(std::initializer_list<std::string_view> lines,
                             std::string_view end = "\n") {
  std::string out;
  for (auto line : lines) {
    out += line;
    out += end;
  }
  return out;
}
