// A run as the host sees it: the worker's sends reach the view in order, the caption is
// followed, Ctrl-C signals the cancel event, and the result comes back.
#include <gtest/gtest.h>

#include <string>

#include "framework/plugin_abi.h"
#include "host/terminal/interrupts.h"
#include "host/core/run_session.h"
#include "host/terminal/run_view.h"
#include "host/tests/test_console.h"
#include "platform/clock.h"
#include "platform/sync.h"
#include "platform/window.h"

namespace velmora {
namespace {

void Send(const RunRecord& record, UINT msg, LPARAM lParam) {
  platform::SendMessage(record.hostWindow, msg, 0, lParam);
}

class RunSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallInterruptHandler(); }
  platform::VirtualClock clock_;
  platform::ScopedClock scope_{clock_};
  testing::TestConsole console_;
  RunView view_{console_.console()};
};

TEST_F(RunSessionTest, ShowsCaptionStatusAndProgressInOrder) {
  RunSession session(
      [](RunRecord& record) {
        EXPECT_EQ(record.comPort, 4);
        EXPECT_EQ(record.operationIndex, 2);
        platform::SetWindowText(record.hostWindow, "Dumping");
        std::string text = "Reading file system...";
        Send(record, WM_OPERATION_STATUS, reinterpret_cast<LPARAM>(text.c_str()));
        // The host copied the text during the send: changing it now changes nothing.
        text = "garbage";
        Send(record, WM_OPERATION_PROGRESS, 40);
        Send(record, WM_OPERATION_PROGRESS, 40);
        Send(record, WM_OPERATION_PROGRESS, 104);
        const char done[] = "Line one\nLine two";
        Send(record, WM_OPERATION_STATUS, reinterpret_cast<LPARAM>(done));
        platform::PostMessage(record.hostWindow, WM_OPERATION_COMPLETE, 0, 0);
        return OPERATION_SUCCEEDED;
      },
      view_);
  EXPECT_EQ(session.Run({2, 4}), OPERATION_SUCCEEDED);
  EXPECT_TRUE(session.CompletionReceived());
  EXPECT_FALSE(session.CancelRequested());
  // Output is not a terminal: plain lines, one per progress change, 104 shown as 100.
  EXPECT_EQ(console_.Output(),
            "== Dumping ==\nReading file system...\nprogress 40%\nprogress 100%\nLine one\nLine two\n");
}

TEST_F(RunSessionTest, CtrlCSignalsTheCancelEvent) {
  RunSession session(
      [](RunRecord& record) {
        RaiseInterruptForTest();
        // The main thread notices between two pumps; a send makes sure it pumps.
        while (platform::WaitForSingleObject(record.cancelEvent, 0) != WAIT_OBJECT_0) {
          Send(record, WM_OPERATION_PROGRESS, 1);
        }
        platform::PostMessage(record.hostWindow, WM_OPERATION_COMPLETE, 0, 0);
        return OPERATION_CANCELED;
      },
      view_);
  EXPECT_EQ(session.Run({0, 1}), OPERATION_CANCELED);
  EXPECT_TRUE(session.CancelRequested());
  EXPECT_NE(console_.Output().find("Cancelling"), std::string::npos);
}

TEST_F(RunSessionTest, ARunWithoutCompletionMessageStillEnds) {
  RunSession session([](RunRecord&) { return OPERATION_FAILED; }, view_);
  EXPECT_EQ(session.Run({0, 1}), OPERATION_FAILED);
  EXPECT_FALSE(session.CompletionReceived());
}

TEST_F(RunSessionTest, AnEscapingExceptionReachesTheCallerAfterTheWorkerEnded) {
  RunSession session([](RunRecord&) -> int { throw std::runtime_error("broken plug-in"); }, view_);
  EXPECT_THROW(session.Run({0, 1}), std::runtime_error);
}

}  // namespace
}  // namespace velmora
