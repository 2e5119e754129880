// RunOperation: the outcome of a body becomes a result, a failure box and a final status.
#include "plugin/run_operation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "framework/afx.h"
#include "operations/operation.h"
#include "reporting/failures.h"
#include "reporting/testing/recording_host.h"
#include "resources/testing/kv70_test_module.h"

namespace {

using kv70::testing::BoxEvent;
using kv70::testing::RecordingHost;
using kv70::testing::StatusEvent;

constexpr UINT kFailureBoxStyle = 0x00010030;

int gDestroyed = 0;

// Failure objects that count their end, to see that RunOperation ends each one.
class CountedCancel : public CUserException {
 public:
  ~CountedCancel() override { ++gDestroyed; }
};
class CountedFailure : public DeviceException {
 public:
  CountedFailure() : DeviceException(500, 1) {}
  ~CountedFailure() override { ++gDestroyed; }
};

class ScriptedOperation : public COperation {
 public:
  explicit ScriptedOperation(std::function<bool(RunRecord*)> body, const char* completion = nullptr)
      : COperation(0), body_(std::move(body)), completion_(completion) {}
  const char* GetName() override { return "scripted"; }
  const char* GetDescription() override { return "scripted"; }
  bool Execute(RunRecord* record) override { return body_(record); }
  bool GetText(int index, char* buffer, UINT length) override {
    if (index == TEXT_COMPLETION && completion_) return CopyText(completion_, buffer, length);
    return COperation::GetText(index, buffer, length);
  }

 private:
  std::function<bool(RunRecord*)> body_;
  const char* completion_;
};

class RunOperationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kv70::testing::UseKV70Resources();
    record_ = {3, 0, host_.hwnd(), nullptr};
    gDestroyed = 0;
  }
  int Run(ScriptedOperation op) { return RunOperation(&op, &record_); }
  std::string Failed(const char* text) { return std::string("DevKV70 Version: \n\n") + text; }

  RecordingHost host_;
  RunRecord record_{};
};

TEST_F(RunOperationTest, SuccessSendsTheCompletionTextAsFinalStatus) {
  EXPECT_EQ(Run(ScriptedOperation([](RunRecord*) { return true; }, "All done.")),
            OPERATION_SUCCEEDED);
  EXPECT_EQ(host_.events(), std::vector{StatusEvent("All done.")});
}

TEST_F(RunOperationTest, SuccessWithoutOwnCompletionTextUsesTheDefault) {
  EXPECT_EQ(Run(ScriptedOperation([](RunRecord*) { return true; })), OPERATION_SUCCEEDED);
  EXPECT_EQ(host_.events(), std::vector{StatusEvent("The operation was completed successfully.")});
}

TEST_F(RunOperationTest, CompletionTextIsLimitedTo255Characters) {
  const std::string longText(400, 'c');
  EXPECT_EQ(Run(ScriptedOperation([](RunRecord*) { return true; }, longText.c_str())),
            OPERATION_SUCCEEDED);
  EXPECT_EQ(host_.events(), std::vector{StatusEvent(std::string(255, 'c'))});
}

TEST_F(RunOperationTest, FalseFailsWithoutAnyFinalStatus) {
  EXPECT_EQ(Run(ScriptedOperation([](RunRecord*) { return false; })), OPERATION_FAILED);
  EXPECT_TRUE(host_.events().empty());
}

TEST_F(RunOperationTest, UserCancelEndsAsCancelledWithoutABox) {
  EXPECT_EQ(Run(ScriptedOperation([](RunRecord*) -> bool { throw new CountedCancel; })),
            OPERATION_CANCELED);
  EXPECT_EQ(host_.events(), std::vector{StatusEvent("The operation was canceled.")});
  EXPECT_EQ(gDestroyed, 1);
}

TEST_F(RunOperationTest, FailureShowsTheBoxBeforeTheFinalStatus) {
  EXPECT_EQ(Run(ScriptedOperation([](RunRecord*) -> bool { throw new CountedFailure; })),
            OPERATION_FAILED);
  EXPECT_EQ(host_.events(), (std::vector{BoxEvent(Failed("Operation failure!"), "DevKV70",
                                                  kFailureBoxStyle, host_.hwnd()),
                                         StatusEvent("There was a failure with the operation!")}));
  EXPECT_EQ(gDestroyed, 1);
}

struct FailureRow {
  const char* name;
  std::function<CException*()> make;
  std::string text;
};

TEST_F(RunOperationTest, EveryFailureClassReachesTheBoxWithItsText) {
  char fileText[256];
  {
    CFileException probe(CFileException::fileNotFound, 2, "dump.log");
    probe.GetErrorMessage(fileText, 255);
  }
  char memoryText[256];
  {
    CMemoryException probe;
    probe.GetErrorMessage(memoryText, 255);
  }
  const FailureRow rows[] = {
      {"serial", [] { return new CSerialComException(3, 2, 301); },
       "COM Failure! [301] There was a failure [2] attempting to open COM3.\n\nRestart your "
       "computer and try again."},
      {"flash monitor", [] { return new CFlashMonException(406); },
       "KV70 reboot failure! [406] - There was a timeout waiting for a response from the KV70."},
      {"upload", [] { return new BDException(800, 3); }, "Operation Failure!"},
      {"file", [] { return new CFileException(CFileException::fileNotFound, 2, "dump.log"); },
       fileText},
      {"memory", [] { return new CMemoryException; }, memoryText},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingHost host;
    RunRecord record{3, 0, host.hwnd(), nullptr};
    auto make = row.make;
    ScriptedOperation op([&](RunRecord*) -> bool { throw make(); });
    EXPECT_EQ(RunOperation(&op, &record), OPERATION_FAILED);
    EXPECT_EQ(
        host.events(),
        (std::vector{BoxEvent(Failed(row.text.c_str()), "DevKV70", kFailureBoxStyle, host.hwnd()),
                     StatusEvent("There was a failure with the operation!")}));
  }
}

// The framework's containers and strings run out of memory with std::bad_alloc: the
// same box and status as the framework's own memory failure.
TEST_F(RunOperationTest, MemoryExhaustionThrownTheStandardWayGetsTheMemoryFailureBox) {
  char memoryText[256];
  {
    CMemoryException probe;
    probe.GetErrorMessage(memoryText, 255);
  }
  EXPECT_EQ(Run(ScriptedOperation([](RunRecord*) -> bool { throw std::bad_alloc(); })),
            OPERATION_FAILED);
  EXPECT_EQ(host_.events(),
            (std::vector{BoxEvent(Failed(memoryText), "DevKV70", kFailureBoxStyle, host_.hwnd()),
                         StatusEvent("There was a failure with the operation!")}));
}

TEST_F(RunOperationTest, FailureTextIsCutTo254Characters) {
  // A file failure names its file; a long path makes a long message.
  const std::string path = "/" + std::string(300, 'p') + "/dump.log";
  EXPECT_EQ(Run(ScriptedOperation([&](RunRecord*) -> bool {
              throw new CFileException(CFileException::badPath, 3, path.c_str());
            })),
            OPERATION_FAILED);
  auto events = host_.events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].text.size(), std::string("DevKV70 Version: \n\n").size() + 254);
}

}  // namespace
