// The run's plan as every front end follows it: how a run's end is said and counted, how
// long it may stand still, and the checks that refuse it before anything is shown.
#include "host/core/run_plan.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "framework/plugin_abi.h"
#include "host/core/exit_codes.h"
#include "platform/registry.h"
#include "platform/testing/system_for_tests.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

TEST(RunPlan, AnOutcomeIsCountedAndSaidTheSameEverywhere) {
  struct Case {
    int result;
    bool gaveUp;
    int exitStatus;
    const char* word;
    const char* line;
  };
  const Case cases[] = {
      {OPERATION_SUCCEEDED, false, kExitSucceeded, "succeeded", "Log save succeeded."},
      {OPERATION_CANCELED, false, kExitCancelled, "cancelled", "Log save was cancelled."},
      {OPERATION_FAILED, false, kExitFailed, "failed", "Log save failed."},
      // Given up is no user's cancel: a script must not take it for one.
      {OPERATION_CANCELED, true, kExitFailed, "failed",
       "Log save failed: no progress for 300 s: gave up."},
  };
  for (const Case& c : cases) {
    const RunOutcome outcome =
        OutcomeOf("Log save", c.result, c.gaveUp, "no progress for 300 s: gave up");
    EXPECT_EQ(outcome.exitStatus, c.exitStatus) << c.line;
    EXPECT_EQ(outcome.word, c.word) << c.line;
    EXPECT_EQ(outcome.line, c.line);
  }
}

TEST(RunPlan, ARunGivesUpAfterTheLimitGivenElseOnlyWhenNobodyWatches) {
  EXPECT_EQ(GiveUpLimit(std::nullopt, false), kDefaultGiveUpSeconds);
  EXPECT_EQ(GiveUpLimit(std::nullopt, true), std::nullopt);
  EXPECT_EQ(GiveUpLimit(0u, false), std::nullopt);
  EXPECT_EQ(GiveUpLimit(5u, true), 5u);
}

TEST(RunPlan, TheRecordStartsWithWhatThePagesHeld) {
  EXPECT_EQ(StartOfRun("Dump", 2, "", "fs.log").firmware, std::nullopt);
  EXPECT_EQ(StartOfRun("Upgrade", 2, "App 3.0", "").firmware, "App 3.0");
}

class RunPlanChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform_test::MakeTempDir("run-plan-");
    ASSERT_FALSE(dir_.empty());
    platform_test::SetEnv("VELMORA_REGISTRY", (dir_ / "registry.db").string().c_str());
    ASSERT_EQ(platform::CheckRegistryStore(), ERROR_SUCCESS);
  }
  void TearDown() override {
    platform_test::UnsetEnv("VELMORA_REGISTRY");
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(RunPlanChecks, OutputsThatWouldDestroySomethingAreUsageErrorsNamedByTheirOption) {
  const std::string log = (dir_ / "fs.log").string();
  EXPECT_EQ(CheckDeviceAndOutputs(1, std::nullopt, {{"--trace", ""}, {"--log-file", log}}),
            std::nullopt);
  const std::optional<PlanRefusal> directory =
      CheckDeviceAndOutputs(1, std::nullopt, {{"--log-file", dir_.string()}});
  ASSERT_TRUE(directory);
  EXPECT_EQ(directory->status, kExitUsage);
  EXPECT_EQ(directory->text.rfind("--log-file " + dir_.string() + ": ", 0), 0u) << directory->text;
  const std::optional<PlanRefusal> twice =
      CheckOutputClash({{"--trace", log}, {"--log-file", log}});
  ASSERT_TRUE(twice);
  EXPECT_EQ(twice->status, kExitUsage);
  EXPECT_EQ(CheckOutputClash({{"--trace", ""}, {"--log-file", ""}}), std::nullopt);
}

}  // namespace
}  // namespace velmora
