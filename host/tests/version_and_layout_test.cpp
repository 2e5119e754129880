// The project's version as the programs print it, and where a host finds the plug-in:
// beside itself in a build tree, in the private library folder when installed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "host/core/plugin_library.h"
#include "host/core/version.h"
#include "platform/dynamic_library.h"
#include "platform/testing/system_for_tests.h"
#include "project_version.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

TEST(ProjectVersion, IsThreeNumbersAndNamesTheProgram) {
  EXPECT_TRUE(std::regex_match(ProjectVersion(), std::regex(R"(\d+\.\d+\.\d+)")))
      << ProjectVersion();
  EXPECT_EQ(VersionLine("kv70sim"), std::string("kv70sim ") + ProjectVersion());
  // What a service record keeps as the software that did the run.
  EXPECT_EQ(VelmoraVersion(), ProjectVersion());
}

TEST(PluginPathFrom, BesideTheProgramFirstThenThePrivateLibraryFolder) {
  const fs::path root = platform_test::MakeTempDir("plugin-path-");
  ASSERT_FALSE(root.empty());
  const std::string name = platform::ModuleFileName("DevKV70");
  const fs::path bin = root / "bin";
  const fs::path privateDir = bin / VELMORA_PRIVATE_LIBDIR_FROM_BIN;
  fs::create_directories(bin);
  fs::create_directories(privateDir);
  const std::string binDir = bin.string() + "/";

  // Neither: the error will name the place beside the program.
  EXPECT_EQ(PluginPathFrom(binDir), binDir + name);
  // Installed: only the private folder has it.
  std::ofstream(privateDir / name).put('x');
  EXPECT_EQ(PluginPathFrom(binDir), binDir + VELMORA_PRIVATE_LIBDIR_FROM_BIN + "/" + name);
  // A build tree: the one beside the program wins.
  std::ofstream(bin / name).put('x');
  EXPECT_EQ(PluginPathFrom(binDir), binDir + name);
  // No folder: the current one.
  EXPECT_EQ(PluginPathFrom("").substr(0, 2), "./");

  std::error_code ignored;
  fs::remove_all(root, ignored);
}

}  // namespace
}  // namespace velmora
