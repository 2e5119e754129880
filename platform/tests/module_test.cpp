#include "platform/module.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/testing/system_for_tests.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

const char kMagic[] = "VS_VERSION_INFO\0\xFE\xEF";  // 18 bytes without the literal's own zero

std::string Pairs(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string body;
  for (const auto& [key, value] : pairs) {
    body += key;
    body += '\0';
    body += value;
    body += '\0';
  }
  return body;
}

// A block with the given body; the length counts the body and the end mark.
std::string Block(const std::string& body, int lengthAdjust = 0) {
  std::size_t length = body.size() + 1 + static_cast<std::size_t>(lengthAdjust);
  std::string block(kMagic, 18);
  block += static_cast<char>(length & 0xFF);
  block += static_cast<char>(length >> 8);
  block += body;
  block += '\0';
  return block;
}

const std::string kGoodBody = Pairs({
    {"\\StringFileInfo\\040904B0\\FileDescription", "DevKV70 DLL"},
    {"\\StringFileInfo\\040904B0\\ProductVersion", "1.05"},
    {"\\StringFileInfo\\040904B0\\Comments", ""},
});

class VersionBlock : public ::testing::Test {
 protected:
  void SetUp() override {
    path =
        (fs::temp_directory_path() / ("platform-module-" + platform_test::UniqueName("") + ".so"))
            .string();
  }
  void TearDown() override { fs::remove(path); }
  void WriteFile(const std::string& contents) { std::ofstream(path, std::ios::binary) << contents; }
  std::string path;
};

TEST_F(VersionBlock, ReadsTheBlockEmbeddedInAFile) {
  std::string filler(5000, '\x7F');
  std::string block = Block(kGoodBody);
  WriteFile(filler + "VS_VERSION_INFO" + filler + block + filler);
  DWORD handle = 99;
  DWORD size = GetFileVersionInfoSize(path.c_str(), &handle);
  EXPECT_EQ(handle, 0u);
  ASSERT_EQ(size, block.size());
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfo(path.c_str(), handle, size, data.data()));
  EXPECT_FALSE(GetFileVersionInfo(path.c_str(), handle, size - 1, data.data()));

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(
      VerQueryValue(data.data(), "\\StringFileInfo\\040904B0\\ProductVersion", &value, &length));
  EXPECT_STREQ(static_cast<const char*>(value), "1.05");
  EXPECT_EQ(length, 5u);
  ASSERT_TRUE(
      VerQueryValue(data.data(), "\\stringfileinfo\\040904b0\\FILEDESCRIPTION", &value, &length));
  EXPECT_STREQ(static_cast<const char*>(value), "DevKV70 DLL");
  ASSERT_TRUE(VerQueryValue(data.data(), "\\StringFileInfo\\040904B0\\Comments", &value, &length));
  EXPECT_STREQ(static_cast<const char*>(value), "");
  EXPECT_FALSE(
      VerQueryValue(data.data(), "\\StringFileInfo\\040904B0\\CompanyName", &value, &length));
  EXPECT_FALSE(VerQueryValue(data.data(), "\\StringFileInfo\\040904B0", &value, &length));
}

TEST_F(VersionBlock, MalformedBlocksReadAsNone) {
  std::string good = Block(kGoodBody);
  struct Row {
    const char* what;
    std::string contents;
  };
  const Row rows[] = {
      {"no block", std::string(100, 'x')},
      {"empty file", ""},
      {"magic only", std::string(kMagic, 18)},
      {"length past the end of the file", Block(kGoodBody, 1)},
      {"length stops inside a value", Block(kGoodBody, -3)},
      {"end mark not last", Block(kGoodBody, 5) + "abcde"},
      {"key without value", Block(std::string("\\StringFileInfo\\040904B0\\ProductVersion\0", 40))},
      {"zero length", Block("", -1)},
      {"truncated file", good.substr(0, good.size() - 1)},
      {"damaged magic", "VS_VERSION_INFO" + std::string("\0\xFE\xEE", 3) + good.substr(18)},
  };
  for (const auto& row : rows) {
    WriteFile(row.contents);
    EXPECT_EQ(GetFileVersionInfoSize(path.c_str(), nullptr), 0u) << row.what;
    BYTE data[4096];
    EXPECT_FALSE(GetFileVersionInfo(path.c_str(), 0, sizeof data, data)) << row.what;
  }
  EXPECT_EQ(GetFileVersionInfoSize((path + ".missing").c_str(), nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(VersionBlock, ACorruptBlockBeforeAGoodOneIsSkipped) {
  WriteFile(Block(kGoodBody, 1000) + Block(kGoodBody));
  EXPECT_EQ(GetFileVersionInfoSize(path.c_str(), nullptr), Block(kGoodBody).size());
}

TEST(VerQueryValue, RefusesDataThatIsNotABlock) {
  BYTE junk[64] = {};
  void* value = nullptr;
  UINT length = 0;
  EXPECT_FALSE(VerQueryValue(junk, "\\StringFileInfo\\040904B0\\ProductVersion", &value, &length));
  EXPECT_FALSE(VerQueryValue(nullptr, "x", &value, &length));
}

const char kHello[] = "Hello";
const BYTE kBits[] = {1, 2, 3};
const ResourceEntry kTable[] = {
    {RT_STRING, 28, kHello, 5},
    {RT_BITMAP, 131, kBits, sizeof kBits},
};

TEST(Module, RegistersFindsResourcesAndNamesItsFile) {
  HMODULE module = RegisterModule("DevKV70", reinterpret_cast<const void*>(&kTable), kTable, 2);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(GetModuleName(module), "DevKV70");
  const ResourceEntry* entry = FindResource(module, 131, RT_BITMAP);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->data, kBits);
  EXPECT_EQ(FindResource(module, 131, RT_STRING), nullptr);
  EXPECT_EQ(FindResource(nullptr, 28, RT_STRING), &kTable[0]);

  // The address lies in this test program, so its file is the running executable.
  char buffer[4096];
  DWORD length = GetModuleFileName(module, buffer, sizeof buffer);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(fs::path(buffer), fs::path(platform_test::RunningProgramPath()));
  char small[4];
  EXPECT_EQ(GetModuleFileName(module, small, sizeof small), 3u);
  EXPECT_EQ(std::strlen(small), 3u);

  UnregisterModule(module);
  EXPECT_EQ(FindResource(module, 28, RT_STRING), nullptr);
  EXPECT_EQ(GetModuleFileName(module, buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetModuleName(module), "");
}

TEST(Module, AModuleInASharedLibraryNamesThatLibrary) {
  // An address inside libframework itself: the clock it keeps. (A function's address
  // taken here may be this program's call stub for it, on Windows.)
  HMODULE module =
      RegisterModule("framework", reinterpret_cast<const void*>(&GetClock()), nullptr, 0);
  char buffer[4096];
  ASSERT_GT(GetModuleFileName(module, buffer, sizeof buffer), 0u);
  EXPECT_NE(std::string(buffer).find("libframework"), std::string::npos) << buffer;
  EXPECT_TRUE(fs::path(buffer).is_absolute());
  UnregisterModule(module);
}

}  // namespace
}  // namespace platform
