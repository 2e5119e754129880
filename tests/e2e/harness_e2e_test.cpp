// The end-to-end harness itself: its cancel triggers, what it records, and what it puts
// back when it goes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "framework/uimodel.h"
#include "platform/testing/system_for_tests.h"
#include "resources/resource.h"
#include "tests/e2e/e2e_harness.h"
#include "tests/e2e/e2e_texts.h"

namespace {

using kv70::e2e::kCanceled;
using kv70::e2e::kEstablishing;

using kv70::e2e::Harness;
using kv70::e2e::HostEvent;
using kv70::e2e::kConfigRetrieval;
using kv70::e2e::RunOutcome;

std::optional<std::string> Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

TEST(E2eHarness, LoadsThePluginWithItsThreeOperations) {
  Harness h;
  ASSERT_TRUE(h.Loaded());
  EXPECT_EQ(h.GetExports().GetNumberOperations(), 3);
  char name[64] = {};
  EXPECT_EQ(h.GetExports().GetOperation(kConfigRetrieval, name, sizeof name), 1);
  EXPECT_STREQ(name, "Configuration retrieval");
  EXPECT_EQ(h.GetExports().GetNumberOfPages(kConfigRetrieval), 0);
}

TEST(E2eHarness, PutsTheEnvironmentBack) {
  platform_test::SetEnv("VELMORA_COM2", "/dev/null-before");
  platform_test::UnsetEnv("VELMORA_COM4");
  const auto registry = Env("VELMORA_REGISTRY");
  {
    Harness h;
    h.UseDevice("serial=X", 2);
    h.UseDevice("serial=Y", 4);
    h.UseDevice("serial=Z", 4);
    EXPECT_EQ(Env("VELMORA_COM2"), "sim:serial=X");
    EXPECT_EQ(Env("VELMORA_COM4"), "sim:serial=Z");
    ASSERT_FALSE(h.RegistryPath().empty());
    EXPECT_EQ(Env("VELMORA_REGISTRY"), h.RegistryPath());
  }
  EXPECT_EQ(Env("VELMORA_COM2"), "/dev/null-before");
  EXPECT_EQ(Env("VELMORA_COM4"), std::nullopt);
  EXPECT_EQ(Env("VELMORA_REGISTRY"), registry);
  platform_test::UnsetEnv("VELMORA_COM2");
}

// Where each trigger stops a configuration retrieval: the run's progress up to the
// cancellation point that noticed it.
struct TriggerCase {
  const char* name;
  void (*arm)(Harness&);
  std::vector<long> progress;
};

const TriggerCase kTriggerCases[] = {
    {"OnStatus", [](Harness& h) { h.CancelWhenStatus(kEstablishing); }, {0}},
    {"OnProgress", [](Harness& h) { h.CancelWhenProgress(15); }, {0, 5, 15}},
    {"AfterTwoProgressMessages", [](Harness& h) { h.CancelAfterProgressMessages(2); }, {0, 5}},
};

class E2eHarnessTriggerTest : public ::testing::TestWithParam<TriggerCase> {};

TEST_P(E2eHarnessTriggerTest, SignalsTheCancelEventWhileTheSenderWaits) {
  Harness h;
  ASSERT_TRUE(h.Loaded());
  h.UseDevice("");
  GetParam().arm(h);
  const RunOutcome run = h.Run(kConfigRetrieval);
  EXPECT_EQ(run.result, OPERATION_CANCELED);
  EXPECT_TRUE(run.cancelSignalled);
  EXPECT_EQ(run.progress, GetParam().progress);
  EXPECT_EQ(run.statuses.back(), kCanceled);
  EXPECT_TRUE(run.dialogs.empty());
}

INSTANTIATE_TEST_SUITE_P(Triggers, E2eHarnessTriggerTest, ::testing::ValuesIn(kTriggerCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(E2eHarness, ClearCancelLetsTheNextRunThrough) {
  Harness h;
  ASSERT_TRUE(h.Loaded());
  h.UseDevice("");
  h.SignalCancel();
  EXPECT_EQ(h.Run(kConfigRetrieval).result, OPERATION_CANCELED);
  h.ClearCancel();
  h.Ui().QueueDialog(IDD_CONFIGURATION, [](CDialog& d) { uimodel::ClickButton(d, IDOK); });
  const RunOutcome run = h.Run(kConfigRetrieval);
  EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
  EXPECT_FALSE(run.cancelSignalled);
  EXPECT_EQ(run.dialogs.size(), 1u) << "each outcome holds its own run's dialogs only";
}

TEST(E2eHarness, RecordsEveryMessageInOrderAndTheCompletionLast) {
  Harness h;
  ASSERT_TRUE(h.Loaded());
  h.UseDevice("");
  const RunOutcome run = h.Run(kConfigRetrieval);  // no script: the dialog gets Escape
  ASSERT_FALSE(run.events.empty());
  EXPECT_EQ(run.events.back().kind, HostEvent::Complete);
  size_t statuses = 0, progress = 0;
  for (const HostEvent& e : run.events) {
    statuses += e.kind == HostEvent::Status;
    progress += e.kind == HostEvent::Progress;
  }
  EXPECT_EQ(statuses, run.statuses.size());
  EXPECT_EQ(progress, run.progress.size());
}

TEST(E2eHarness, RecordAsGivenReachesTheExportsChecks) {
  Harness h;
  ASSERT_TRUE(h.Loaded());
  const RunOutcome run = h.RunRecordAsGiven({7, kConfigRetrieval, h.HostWindow(), nullptr});
  EXPECT_EQ(run.result, OPERATION_FAILED);
  EXPECT_EQ(run.Outline(), std::vector<std::string>{"C"}) << "COM7 is refused before any work";
}

}  // namespace
