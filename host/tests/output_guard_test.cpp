// What velmora refuses to write over, the error texts of its own messages, and the
// simulator settings it refuses before a run.
#include "host/core/output_guard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/core/device_choice.h"
#include "platform/registry.h"
#include "platform/testing/system_for_tests.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

class OutputGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform_test::MakeTempDir("output-guard-");
    ASSERT_FALSE(dir_.empty());
    platform_test::SetEnv("VELMORA_REGISTRY", Path("registry.db").c_str());
    ASSERT_EQ(platform::CheckRegistryStore(), ERROR_SUCCESS);
  }
  void TearDown() override {
    platform_test::UnsetEnv("VELMORA_REGISTRY");
    fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(OutputGuardTest, RegistryDirectoriesAndFifosAreRefusedFilesAndDevicesTaken) {
  if (!platform_test::HasFifos() || !platform_test::RegistryIsAFile())
    GTEST_SKIP() << "no FIFOs and no registry file on this system";
  ASSERT_TRUE(platform_test::MakeFifo(Path("pipe")));
  fs::create_directory(Path("folder"));
  std::ofstream(Path("old.log")) << "old";
  const struct {
    std::string path;
    const char* problem;  // part of the refusal; null: accepted
  } rows[] = {
      {Path("registry.db"), "that is the registry database"},
      {Path("./folder/../registry.db"), "that is the registry database"},
      {Path("registry.db-wal"), "that is the registry database"},
      {Path("pipe"), "is a FIFO (named pipe), not a file"},
      {Path("folder"), "is a directory, not a file"},
      {Path("old.log"), nullptr},
      {Path("new.log"), nullptr},
      {"/dev/null", nullptr},
  };
  for (const auto& row : rows) {
    const std::optional<std::string> problem = OutputProblem(row.path);
    if (!row.problem) {
      EXPECT_FALSE(problem) << row.path << ": " << problem.value_or("");
    } else {
      ASSERT_TRUE(problem) << row.path;
      EXPECT_NE(problem->find(row.problem), std::string::npos) << *problem;
    }
  }
}

TEST(ErrorText, NamesTheErrorBesideItsNumber) {
  EXPECT_EQ(ErrorText(5), "5 (access denied)");
  EXPECT_EQ(ErrorText(2), "2 (not found)");
  EXPECT_EQ(ErrorText(112), "112 (disk full)");
  EXPECT_EQ(ErrorText(1009), "1009 (not a registry database)");
  EXPECT_EQ(ErrorText(4242), "4242");
}

TEST_F(OutputGuardTest, SimulatorFilesThatCannotBeUsedAreUsageErrors) {
  std::ofstream(Path("fs.bin")) << std::string(16, '\xFF');
  const struct {
    std::string value;
    const char* problem;  // null: accepted
  } rows[] = {
      {"sim:prog-out=" + Path("no-such-folder/p.bin"), "prog-out="},
      {"sim:fs-out=" + Path("no-such-folder/f.bin"), "there is no directory"},
      {"sim:fs-image=" + Path("missing.bin"), "fs-image="},
      {"sim:prog-image=" + Path("folder-less"), "no such file"},
      {"sim:prog-out=" + Path("registry.db"), "registry database"},
      {"sim:fs-image=" + Path("fs.bin") + ",prog-out=" + Path("p.bin"), nullptr},
  };
  for (const auto& row : rows) {
    // The system registry is no file that a simulator output could write over.
    if (row.value.find("registry.db") != std::string::npos && !platform_test::RegistryIsAFile())
      continue;
    std::string error;
    const std::optional<DeviceChoice> choice = ParseDeviceChoice(row.value, error);
    if (!row.problem) {
      EXPECT_TRUE(choice) << row.value << ": " << error;
    } else {
      EXPECT_FALSE(choice) << row.value;
      EXPECT_NE(error.find(row.problem), std::string::npos) << error;
    }
  }
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

class OutputGuardClashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform_test::MakeTempDir("output-clash-");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

// One file under any spelling is one file; two outputs on it, or an output on an input,
// is a clash named by its options.
TEST_F(OutputGuardClashTest, OneFileUnderAnySpellingClashes) {
  std::ofstream(Path("fw.x")) << "S0\n";
  fs::create_directory(Path("sub"));
  const std::string fw = Path("fw.x");
  const struct {
    const char* name;
    std::string a;
    std::string b;
    bool same;
  } rows[] = {
      {"the same name", fw, fw, true},
      {"with ./", fw, (dir_ / "." / "fw.x").string(), true},
      {"through ..", fw, (dir_ / "sub" / ".." / "fw.x").string(), true},
      {"a file not there yet, spelled twice", Path("new.log"), (dir_ / "." / "new.log").string(),
       true},
      {"another file", fw, Path("other.log"), false},
      {"another folder", Path("new.log"), Path("sub/new.log"), false},
  };
  for (const auto& r : rows) EXPECT_EQ(SameFile(r.a, r.b), r.same) << r.name;

  EXPECT_EQ(OutputClash(
                {{"--trace", Path("t.log")}, {"--log-file", (dir_ / "." / "t.log").string()}}, {}),
            "--trace " + Path("t.log") + " and --log-file " + (dir_ / "." / "t.log").string() +
                " name one file; each would write over the other. Give each its own file.");
  EXPECT_EQ(OutputClash({{"--trace", fw}}, {{"the firmware file given with --firmware", fw}}),
            "--trace " + fw +
                ": that is the firmware file given with --firmware, which this run reads; writing "
                "there would destroy it. Choose another file.");
  EXPECT_EQ(OutputClash({{"--trace", Path("t.log")}, {"--log-file", Path("fs.log")}},
                        {{"the firmware file given with --firmware", fw}}),
            std::nullopt);
}

}  // namespace
}  // namespace velmora
