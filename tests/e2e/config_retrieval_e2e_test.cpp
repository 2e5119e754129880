// The configuration retrieval from the host's side: DoOperation against the simulated
// KV70, the dialog as the user sees it, the reports to the host window, the restart.
#include <gtest/gtest.h>

#include <map>
#include <new>
#include <string>
#include <vector>

#include "framework/uimodel.h"
#include "resources/resource.h"
#include "tests/e2e/e2e_harness.h"
#include "tests/e2e/e2e_texts.h"

namespace {

using kv70::e2e::kCanceled;
using kv70::e2e::kConfigDone;
using kv70::e2e::kEstablishing;
using kv70::e2e::kFailed;
using kv70::e2e::kRebooting;

using kv70::e2e::Harness;
using kv70::e2e::kConfigRetrieval;
using kv70::e2e::RunOutcome;

// The option area as hex for the simulator's options= setting: every option off (each
// toggle at its off value, both dated options 0xFFFF), then the given bytes.
std::string OptionArea(const std::map<int, int>& bytes = {}) {
  std::vector<int> area(62, 0xFF);
  for (int number : {0, 1, 3}) area[static_cast<size_t>(number)] = 0x00;
  for (const auto& [offset, value] : bytes) area[static_cast<size_t>(offset)] = value;
  static const char* const digits = "0123456789ABCDEF";
  std::string hex;
  for (int b : area) {
    hex += digits[(b >> 4) & 0xF];
    hex += digits[b & 0xF];
  }
  return hex;
}

// Option bytes of a dated option's month index.
std::map<int, int> Month(int number, int index) {
  return {{number, index >> 8}, {number + 1, index & 0xFF}};
}

std::map<int, int> Merge(std::initializer_list<std::map<int, int>> parts) {
  std::map<int, int> all;
  for (const auto& part : parts) all.insert(part.begin(), part.end());
  return all;
}

std::vector<std::string> Rows(const ScriptedUi::ShownDialog& dialog) {
  std::vector<std::string> rows;
  if (const uimodel::ControlInfo* list = dialog.Find(IDC_INSTALLED_LIST)) {
    for (const CString& row : list->items) rows.push_back(row.str());
  }
  return rows;
}

class ConfigRetrievalE2eTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(h.Loaded()); }

  // The user reads the dialog and presses OK.
  RunOutcome RunPressingOk() {
    h.Ui().QueueDialog(IDD_CONFIGURATION,
                       [](CDialog& dialog) { EXPECT_TRUE(uimodel::ClickButton(dialog, IDOK)); });
    return h.Run(kConfigRetrieval);
  }

  Harness h;
};

TEST_F(ConfigRetrievalE2eTest, ShowsTheRecordThenRestartsTheDevice) {
  h.UseDevice("serial=KV70-0012345");  // shipped options: toggles 0 and 7, suite 1 from Jan 1999
  const RunOutcome run = RunPressingOk();

  EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
  EXPECT_EQ(run.caption, "Read Configuration");
  EXPECT_EQ(run.statuses,
            (std::vector<std::string>{kEstablishing, kEstablishing, kRebooting, kConfigDone}));
  EXPECT_EQ(run.Outline(),
            (std::vector<std::string>{"S:" + kEstablishing, "S:" + kEstablishing, "D:2013",
                                      "S:" + kRebooting, "S:" + kConfigDone, "C"}))
      << "the dialog closes before the restart, and the final text comes after it";
  EXPECT_EQ(run.completions, 1);
  EXPECT_TRUE(run.boxes.empty());

  ASSERT_EQ(run.dialogs.size(), 1u);
  const ScriptedUi::ShownDialog& dialog = run.dialogs[0];
  EXPECT_EQ(dialog.templateId, IDD_CONFIGURATION);
  EXPECT_EQ(dialog.caption, "Device Configuration");
  EXPECT_EQ(dialog.result, IDOK);
  EXPECT_EQ(dialog.Find(IDC_SERIAL_LABEL)->text, "KV70 S/N:");
  EXPECT_EQ(dialog.Find(IDC_SERIAL_NUMBER)->text, "KV70-0012345");
  EXPECT_EQ(dialog.Find(IDC_INSTALLED_LIST)->columns,
            (std::vector<CString>{"Option Name", "Value"}));
  EXPECT_EQ(Rows(dialog),
            (std::vector<std::string>{"Barcode Scanner\tEnabled", "Data Encryption\tEnabled",
                                      "Field Inspection Suite\tJan 1999"}));
  // Shortened, with only OK beside the list.
  EXPECT_EQ(dialog.VisibleButtons(), std::vector<int>{IDOK});
  EXPECT_FALSE(dialog.Find(IDC_TEMPORARY_GROUP)->visible);
  EXPECT_FALSE(dialog.Find(IDC_TEMPORARY_LIST)->visible);
  EXPECT_EQ(dialog.controls.front().rect.Height(),
            dialog.Find(IDC_INSTALLED_GROUP)->rect.bottom + 10);

  // Progress: 0 from the body, then 5, 15, 20, the upload rising towards 90, 100 when
  // the monitor runs and 100 when the record is in.
  ASSERT_GE(run.progress.size(), 7u);
  EXPECT_EQ(std::vector<long>(run.progress.begin(), run.progress.begin() + 4),
            (std::vector<long>{0, 5, 15, 20}));
  EXPECT_EQ(std::vector<long>(run.progress.end() - 2, run.progress.end()),
            (std::vector<long>{100, 100}));
  const std::vector<long> upload(run.progress.begin() + 4, run.progress.end() - 2);
  ASSERT_FALSE(upload.empty());
  EXPECT_TRUE(std::is_sorted(upload.begin(), upload.end()));
  EXPECT_GE(upload.front(), 20);
  EXPECT_LE(upload.back(), 90);
  EXPECT_GT(upload.back(), 80) << "the upload's last step comes close to 90";

  auto device = h.Simulator();
  ASSERT_NE(device, nullptr);
  std::lock_guard lock(device->Mutex());
  std::vector<std::uint32_t> identifications;
  for (const kv70sim::Event& e : device->Events()) {
    if (e.kind == kv70sim::EventKind::Identified) identifications.push_back(e.value);
  }
  EXPECT_EQ(identifications, std::vector<std::uint32_t>{1}) << "one read-only identification";
  EXPECT_EQ(device->GetCounters().reboots, 1u) << device->Trace();
}

struct DialogCase {
  const char* name;
  std::string settings;
  std::string serial;
  std::vector<std::string> rows;
};

const DialogCase kDialogCases[] = {
    {"UnsetSerialShowsNone",
     "serial=~",
     "None",
     {"Barcode Scanner\tEnabled", "Data Encryption\tEnabled", "Field Inspection Suite\tJan 1999"}},
    {"NoOptionInstalled", "options=" + OptionArea(), "KV70-0012345", {}},
    {"HiddenOptionsNeverAppear",
     "options=" + OptionArea({{2, 0}, {4, 0}, {5, 0}, {6, 0}, {10, 0}}),
     "KV70-0012345",
     {}},
    {"EveryOptionInstalled",
     "options=" + OptionArea(Merge(
                      {{{0, 1}, {1, 1}, {2, 0}, {3, 1}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {10, 0}},
                       Month(33, 25),
                       Month(40, 24)})),
     "KV70-0012345",
     {"Barcode Scanner\tEnabled", "Route Planner\tEnabled", "Signature Capture\tEnabled",
      "Data Encryption\tEnabled", "Field Inspection Suite\tJan 1999",
      "Meter Reading Suite\tDec 1998"}},
    {"MonthTwelveIsDecember1997",
     "options=" + OptionArea(Month(33, 12)),
     "KV70-0012345",
     {"Field Inspection Suite\tDec 1997"}},
    {"MonthThirteenIsJanuary1998",
     "options=" + OptionArea(Month(40, 13)),
     "KV70-0012345",
     {"Meter Reading Suite\tJan 1998"}},
    {"LongSerialNumber",
     "serial=ABCDEFGHIJKLMNOPQRSTUVWXYZ012345",
     "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345",
     {"Barcode Scanner\tEnabled", "Data Encryption\tEnabled", "Field Inspection Suite\tJan 1999"}},
};

class ConfigRetrievalDialogE2eTest : public ConfigRetrievalE2eTest,
                                     public ::testing::WithParamInterface<DialogCase> {};

TEST_P(ConfigRetrievalDialogE2eTest, ShowsWhatTheRecordHolds) {
  h.UseDevice(GetParam().settings);
  const RunOutcome run = RunPressingOk();
  EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].Find(IDC_SERIAL_NUMBER)->text, GetParam().serial);
  EXPECT_EQ(Rows(run.dialogs[0]), GetParam().rows);
  EXPECT_EQ(run.dialogs[0].Find(IDC_INSTALLED_LIST)->columns,
            (std::vector<CString>{"Option Name", "Value"}))
      << "the headers stay, rows or not";
}

INSTANTIATE_TEST_SUITE_P(Records, ConfigRetrievalDialogE2eTest, ::testing::ValuesIn(kDialogCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigRetrievalE2eTest, ClosingTheDialogAnyWayEndsInSuccess) {
  h.UseDevice("");
  h.Ui().QueueDialog(IDD_CONFIGURATION, [](CDialog& dialog) { uimodel::PressEscape(dialog); });
  const RunOutcome run = h.Run(kConfigRetrieval);
  EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].result, IDCANCEL);
  EXPECT_EQ(run.statuses.back(), kConfigDone);
  EXPECT_EQ(h.Simulator()->GetCounters().reboots, 1u);
}

// Memory running out while the dialog is built (the framework's strings and containers
// throw std::bad_alloc) is a failure the user is told of, not a silent end.
TEST_F(ConfigRetrievalE2eTest, MemoryExhaustionDuringTheRunShowsTheMemoryFailure) {
  h.UseDevice("");
  h.Ui().QueueDialog(IDD_CONFIGURATION, [](CDialog&) { throw std::bad_alloc(); });
  const RunOutcome run = h.Run(kConfigRetrieval);
  EXPECT_EQ(run.result, OPERATION_FAILED);
  ASSERT_EQ(run.boxes.size(), 1u);
  char memoryText[256];
  CMemoryException probe;
  probe.GetErrorMessage(memoryText, sizeof memoryText);
  EXPECT_EQ(run.boxes[0].text, "DevKV70 Version: 1.05\n\n" + std::string(memoryText));
  EXPECT_EQ(run.statuses.back(), kFailed);
  EXPECT_EQ(run.completions, 1);
  EXPECT_EQ(h.Simulator()->GetCounters().reboots, 0u);
}

TEST_F(ConfigRetrievalE2eTest, CancelWhileTheDialogIsOpenHasNoEffect) {
  h.UseDevice("");
  h.Ui().QueueDialog(IDD_CONFIGURATION, [this](CDialog& dialog) {
    h.SignalCancel();
    uimodel::ClickButton(dialog, IDOK);
  });
  const RunOutcome run = h.Run(kConfigRetrieval);
  EXPECT_TRUE(run.cancelSignalled);
  EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
  EXPECT_EQ(run.statuses.back(), kConfigDone);
  EXPECT_EQ(h.Simulator()->GetCounters().reboots, 1u);
}

TEST_F(ConfigRetrievalE2eTest, CancelDuringTheConnectionShowsNoDialogAndReleasesThePort) {
  // A named device survives the run, so a second run can show the port was let go.
  h.UseDevice("name=unit,on-open=restart");
  h.CancelWhenProgress(20);
  const RunOutcome cancelled = h.Run(kConfigRetrieval);
  EXPECT_EQ(cancelled.result, OPERATION_CANCELED);
  EXPECT_TRUE(cancelled.dialogs.empty());
  EXPECT_TRUE(cancelled.boxes.empty());
  EXPECT_EQ(cancelled.Outline(),
            (std::vector<std::string>{"S:" + kEstablishing, "S:" + kEstablishing, "S:" + kCanceled,
                                      "C"}));
  EXPECT_EQ(cancelled.progress, (std::vector<long>{0, 5, 15, 20}));
  EXPECT_EQ(h.Simulator("unit")->GetCounters().reboots, 0u);

  h.ClearCancel();
  const RunOutcome again = RunPressingOk();
  EXPECT_EQ(again.result, OPERATION_SUCCEEDED) << "the port was released by the cancelled run";
  EXPECT_EQ(again.dialogs.size(), 1u);
}

TEST_F(ConfigRetrievalE2eTest, CancelBeforeTheRunEndsItAtTheFirstCancellationPoint) {
  h.UseDevice("");
  h.SignalCancel();
  const RunOutcome run = h.Run(kConfigRetrieval);
  EXPECT_EQ(run.result, OPERATION_CANCELED);
  EXPECT_TRUE(run.dialogs.empty());
  EXPECT_EQ(run.statuses.back(), kCanceled);
}

struct FailureCase {
  const char* name;
  std::string settings;
  std::string code;  // appears in the failure box
};

const FailureCase kFailureCases[] = {
    {"UnknownFlashType", "flash-type=0", "519"},
    {"PortThatCannotBeOpened", "no-such-setting=1", "301"},
    {"CableOut", "pull-ms=0-100000000", "501"},
};

class ConfigRetrievalFailureE2eTest : public ConfigRetrievalE2eTest,
                                      public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ConfigRetrievalFailureE2eTest, FailsBeforeAnyDialog) {
  h.UseDevice(GetParam().settings);
  const RunOutcome run = h.Run(kConfigRetrieval);
  EXPECT_EQ(run.result, OPERATION_FAILED);
  EXPECT_TRUE(run.dialogs.empty());
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].owner, h.HostWindow());
  EXPECT_NE(run.boxes[0].text.find(GetParam().code), std::string::npos) << run.boxes[0].text;
  ASSERT_GE(run.events.size(), 3u);
  const auto outline = run.Outline();
  EXPECT_EQ(std::vector<std::string>(outline.end() - 2, outline.end()),
            (std::vector<std::string>{"S:" + kFailed, "C"}));
  EXPECT_EQ(outline[outline.size() - 3].substr(0, 2), "B:")
      << "the box comes before the final status";
  if (auto device = h.Simulator()) {
    EXPECT_EQ(device->GetCounters().reboots, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Devices, ConfigRetrievalFailureE2eTest, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigRetrievalE2eTest, ReachesAMonitorLeftRunningByAnEarlierRun) {
  h.UseDevice("state=monitor,serial=KV70-LEFT");
  const RunOutcome run = RunPressingOk();
  EXPECT_EQ(run.result, OPERATION_SUCCEEDED);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].Find(IDC_SERIAL_NUMBER)->text, "KV70-LEFT");
  EXPECT_EQ(run.progress, (std::vector<long>{0, 100}))
      << "no upload: only the end of the connection";
  EXPECT_EQ(h.Simulator()->GetCounters().reboots, 1u);
}

}  // namespace
