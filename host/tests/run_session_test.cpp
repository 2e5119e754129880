// A run as the host sees it: the worker's sends reach the view in order, the caption is
// followed, Ctrl-C signals the cancel event, and the result comes back.
#include "host/core/run_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "framework/plugin_abi.h"
#include "host/core/give_up.h"
#include "host/terminal/interrupts.h"
#include "host/terminal/run_view.h"
#include "host/tests/test_console.h"
#include "platform/clock.h"
#include "platform/comm_port.h"
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
  EXPECT_EQ(
      console_.Output(),
      "== Dumping ==\nReading file system...\nprogress 40%\nprogress 100%\nLine one\nLine two\n");
}

// The port's reason reaches the front end on its own thread while the run waits, before
// the run goes on (to the plug-in's failure box), and only during the run.
TEST_F(RunSessionTest, APortProblemReachesTheObserverBeforeTheRunGoesOn) {
  struct Observer : RunObserver {
    std::vector<std::string> seen;
    void Status(const std::string& text) override { seen.push_back("status " + text); }
    void PortProblem(const std::string& line) override { seen.push_back("port " + line); }
  } observer;
  // A device-path backend that refuses every port the way the real ones do.
  auto real = platform::RegisterCommBackend(
      "", [](const std::string& path, std::unique_ptr<platform::CommPort>&) -> DWORD {
        platform::ReportCommPortProblem(path, {path + " is not a serial port"}, true);
        return ERROR_NOT_SUPPORTED;
      });
  RunSession session(
      [](RunRecord& record) {
        std::unique_ptr<platform::CommPort> port;
        EXPECT_NE(platform::OpenCommPort("/dev/null", port), ERROR_SUCCESS);
        const char box[] = "the failure box";
        Send(record, WM_OPERATION_STATUS, reinterpret_cast<LPARAM>(box));
        return OPERATION_FAILED;
      },
      observer);
  EXPECT_EQ(session.Run({0, 3}), OPERATION_FAILED);
  EXPECT_EQ(observer.seen, (std::vector<std::string>{"port COM3: /dev/null is not a serial port.",
                                                     "status the failure box"}));
  std::unique_ptr<platform::CommPort> port;
  EXPECT_NE(platform::OpenCommPort("/dev/null", port), ERROR_SUCCESS);
  platform::RegisterCommBackend("", real);
  EXPECT_EQ(observer.seen.size(), 2u) << "no listener after the run";
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

// An observer that shows nothing between messages lets the pump sleep, and gets a wake:
// called from another thread, it ends the pump's wait at once. Pump waits without a
// limit here, so only the wake can end the first wait.
TEST_F(RunSessionTest, TheObserversWakeEndsThePumpsWait) {
  struct Observer : RunObserver {
    std::function<void()> wake;
    std::atomic<bool> cancel{false};
    bool WantsTicks() override { return false; }
    void WakeWith(std::function<void()> given) override { wake = std::move(given); }
    bool CancelWanted() override { return cancel.load(); }
  } observer;
  RunSession session(
      [](RunRecord& record) {
        platform::WaitForSingleObject(record.cancelEvent, INFINITE);
        return OPERATION_CANCELED;
      },
      observer);
  session.Begin({0, 1});
  ASSERT_TRUE(observer.wake);
  std::thread other([&observer] {
    observer.cancel = true;
    observer.wake();
  });
  while (session.Pump(INFINITE)) {
  }
  other.join();
  EXPECT_EQ(session.End(), OPERATION_CANCELED);
  EXPECT_TRUE(session.CancelRequested());
  // The terminal's view shows nothing between messages unless its output is a terminal.
  EXPECT_FALSE(view_.WantsTicks());
}

// The pump keeps asking the observer after the run was told to cancel: the terminal's
// view ends velmora at a second Ctrl-C while the plug-in still winds down, which it can
// only do when it is asked.
TEST_F(RunSessionTest, ThePumpKeepsAskingForACancelWhileTheRunWindsDown) {
  struct Observer : RunObserver {
    std::atomic<int> asks{0};
    bool CancelWanted() override {
      asks.fetch_add(1);
      return true;
    }
  } observer;
  int asksAtCancel = 0;
  RunSession session(
      [&](RunRecord& record) {
        platform::WaitForSingleObject(record.cancelEvent, INFINITE);
        asksAtCancel = observer.asks.load();
        // Winding down: each send is handled by the pump, which then looks again.
        for (int k = 0; k < 100 && observer.asks.load() == asksAtCancel; ++k)
          Send(record, WM_OPERATION_PROGRESS, k);
        return OPERATION_CANCELED;
      },
      observer);
  EXPECT_EQ(session.Run({0, 1}), OPERATION_CANCELED);
  EXPECT_GT(observer.asks.load(), asksAtCancel);
}

// A Ctrl-C calls the wake a run's view registered, on a thread of the interrupts' own
// (never inside the signal handler), and no longer once it is taken away.
TEST_F(RunSessionTest, ACtrlCCallsTheRegisteredWake) {
  std::promise<std::thread::id> called;
  std::atomic<int> calls{0};
  SetInterruptWake([&] {
    if (calls.fetch_add(1) == 0) called.set_value(std::this_thread::get_id());
  });
  RaiseInterruptForTest();
  std::future<std::thread::id> when = called.get_future();
  ASSERT_EQ(when.wait_for(std::chrono::seconds(60)), std::future_status::ready);
#ifndef _WIN32
  EXPECT_NE(when.get(), std::this_thread::get_id());
#endif
  SetInterruptWake(nullptr);
  RaiseInterruptForTest();
  EXPECT_EQ(calls.load(), 1);
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

// A run whose progress stands still for the limit is cancelled through its cancel
// event, measured on the platform clock (virtual here: the plug-in's waits move it).
TEST_F(RunSessionTest, ARunThatStandsStillIsGivenUpThroughTheCancelEvent) {
  std::uint64_t cancelledAtMs = 0;
  RunSession session(
      [&](RunRecord& record) {
        const char waiting[] = "Timeout getting response from KV!  Waiting for reconnect...";
        Send(record, WM_OPERATION_PROGRESS, 10);
        clock_.SleepMs(200 * 1000);
        Send(record, WM_OPERATION_PROGRESS, 11);  // progress: the wait starts again
        for (;;) {
          if (platform::WaitForSingleObject(record.cancelEvent, 0) == WAIT_OBJECT_0) break;
          Send(record, WM_OPERATION_PROGRESS, 11);  // the same position is no progress
          Send(record, WM_OPERATION_STATUS, reinterpret_cast<LPARAM>(waiting));
          clock_.SleepMs(1000);
        }
        cancelledAtMs = clock_.NowMs();
        return OPERATION_CANCELED;
      },
      view_);
  session.GiveUpAfter(300);
  EXPECT_EQ(session.Run({0, 1}), OPERATION_CANCELED);
  EXPECT_TRUE(session.GaveUp());
  EXPECT_EQ(session.GiveUpReason(), "no progress for 300 s: gave up");
  // 200 s of progress, then 300 s without; one more wait of the plug-in's at most.
  EXPECT_GE(cancelledAtMs, 500u * 1000);
  EXPECT_LE(cancelledAtMs, 502u * 1000);
  const std::string out = console_.Output();
  // The repeated status is printed once, then counted when something else comes. The
  // host's notice may come between a progress report and its status text, so one more
  // status can follow it.
  const std::string beforeNotice = out.substr(0, out.find("velmora: no progress"));
  EXPECT_EQ(beforeNotice.find("Waiting for reconnect...\n"),
            beforeNotice.rfind("Waiting for reconnect...\n"))
      << out;
  // One status a second from 200 s to 500 s; the host may notice just before the last.
  EXPECT_TRUE(out.find("Waiting for reconnect... (again, 300 times)\n") != std::string::npos ||
              out.find("Waiting for reconnect... (again, 299 times)\n") != std::string::npos)
      << out;
  EXPECT_NE(out.find("velmora: no progress for 300 s: gave up (cancelling the run)"),
            std::string::npos)
      << out;
}

TEST_F(RunSessionTest, WithoutALimitOrWithProgressNothingIsGivenUp) {
  for (std::optional<std::uint32_t> limit :
       {std::optional<std::uint32_t>(), std::optional<std::uint32_t>(60)}) {
    RunSession session(
        [&](RunRecord& record) {
          for (long position = 0; position <= 100; ++position) {
            clock_.SleepMs(59 * 1000);
            Send(record, WM_OPERATION_PROGRESS, position);
          }
          if (!limit) clock_.SleepMs(3600 * 1000);
          Send(record, WM_OPERATION_PROGRESS, 100);
          return platform::WaitForSingleObject(record.cancelEvent, 0) == WAIT_OBJECT_0
                     ? OPERATION_CANCELED
                     : OPERATION_SUCCEEDED;
        },
        view_);
    session.GiveUpAfter(limit);
    EXPECT_EQ(session.Run({0, 1}), OPERATION_SUCCEEDED);
    EXPECT_FALSE(session.GaveUp());
  }
}

TEST(ProgressWatch, OnlyAChangeOfPositionCounts) {
  ProgressWatch watch(300);
  watch.Start(1000);
  EXPECT_FALSE(watch.Due(300999));
  EXPECT_TRUE(watch.Due(301000));
  watch.Progress(5, 301000);
  EXPECT_FALSE(watch.Due(601000 - 1));
  watch.Progress(5, 500000);  // the same position again
  EXPECT_TRUE(watch.Due(601000));
  EXPECT_FALSE(ProgressWatch().Due(~0ull)) << "no limit: never";
  // How long a pump may sleep before the watch is due: in step with Due.
  ProgressWatch soon(2);
  soon.Start(1000);
  const struct {
    std::uint64_t now, left;
  } rows[] = {{1000, 2000}, {2999, 1}, {3000, 0}, {9000, 0}};
  for (const auto& row : rows) {
    EXPECT_EQ(soon.MsUntilDue(row.now), row.left) << row.now;
    EXPECT_EQ(soon.Due(row.now), row.left == 0) << row.now;
  }
  EXPECT_EQ(ProgressWatch().MsUntilDue(0), ~0ull);
  EXPECT_EQ(DefaultGiveUpSeconds(false), std::optional<std::uint32_t>(300));
  EXPECT_EQ(DefaultGiveUpSeconds(true), std::nullopt);
}

TEST(RepeatedStatus, IsPrintedOnceAndCounted) {
  testing::TestConsole console;
  RunView view(console.console());
  view.Start();
  for (int i = 0; i < 13; ++i) view.Status("Waiting...");
  view.Status("Two\nlines");
  view.Status("Two\nlines");
  view.Progress(50);
  view.Status("Waiting...");
  view.Status("Erasing program flash...");
  view.Status("Erasing program flash...");
  view.Finish();
  EXPECT_EQ(
      console.Output(),
      "Waiting...\nWaiting... (again, 12 times)\nTwo\nlines\nlines (again, 1 time)\nprogress 50%\n"
      "Waiting...\nErasing program flash...\nErasing program flash... (again, 1 time)\n");
}

}  // namespace
}  // namespace velmora
