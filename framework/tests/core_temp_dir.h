// A scratch directory for one test, removed with everything in it afterwards.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/testing/system_for_tests.h"

class CoreTempDir {
 public:
  CoreTempDir() {
    path_ = platform_test::MakeTempDir("fwcore-");
    EXPECT_FALSE(path_.empty()) << "cannot create a scratch directory";
  }
  ~CoreTempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  CoreTempDir(const CoreTempDir&) = delete;
  CoreTempDir& operator=(const CoreTempDir&) = delete;

  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Dir() const { return path_; }

  std::string Write(const std::string& name, const std::string& content) const {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string path_;
};
