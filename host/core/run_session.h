// One run: the host window on the calling thread, DoOperation on a worker thread, and the
// calling thread pumping the window's messages until the run has ended. Status texts,
// progress and caption changes go to the observer, which also says when the user wants
// to cancel; the session then signals the run's cancel event.
//
// A front end with a blocking loop of its own calls Run. One with an event loop (the
// desktop) calls Begin, then Pump from its loop until it returns false, then End: the
// host window is served by that loop's thread, which never waits for the run.
#pragma once
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "framework/plugin_abi.h"
#include "host/core/give_up.h"
#include "platform/sync.h"
#include "platform/window.h"

namespace velmora {

// What a front end shows of a run. Every call comes on the thread that runs the session.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void Start() {}  // the run begins
  virtual void Caption(const std::string& /*caption*/) {}
  virtual void Status(const std::string& /*text*/) {}  // copied: the text dies after the call
  virtual void Progress(long /*position*/) {}          // as sent: not clamped
  virtual void Tick() {}                               // between messages, at the pump's pace
  // Whether Tick shows anything now. When it does not, a blocking Run sleeps until a
  // message comes, the wake below is called, or the give-up is due, instead of waking ten
  // times a second for nothing.
  virtual bool WantsTicks() { return true; }
  // Given as the run begins: calling `wake` (from any thread, until Finish) makes the
  // pump look at CancelWanted at once. An observer whose cancel comes from outside the
  // run's messages (a signal) hands it to whatever notices that.
  virtual void WakeWith(std::function<void()> /*wake*/) {}
  virtual void Notice(const std::string& /*text*/) {}  // a line of the host's own
  // Why the port failed ("COM1: /dev/ttyUSB0 is in use by process 4242 (minicom)."), as
  // soon as the port meets it: before the plug-in's failure box.
  virtual void PortProblem(const std::string& /*line*/) {}
  virtual void Finish() {}  // the run has ended
  // Polled between messages for the whole run: true once the user asked to cancel.
  virtual bool CancelWanted() { return false; }
};

struct RunRequest {
  int operationIndex = 0;
  int comPort = 1;
};

// Calls DoOperation with the record; the plug-in library in practice, a stand-in in tests.
using RunFunction = std::function<int(RunRecord&)>;

class RunSession {
 public:
  RunSession(RunFunction run, RunObserver& observer);
  ~RunSession();  // waits for a run that was begun and not ended
  RunSession(const RunSession&) = delete;
  RunSession& operator=(const RunSession&) = delete;

  // The name the session's own lines start with ("velmora", "velmora-gui").
  void SetProgramName(std::string name) { programName_ = std::move(name); }

  // Cancel a run whose progress position stands still this long (give_up.h); none: never.
  void GiveUpAfter(std::optional<std::uint32_t> seconds) { giveUpSeconds_ = seconds; }

  // The plug-in's result (0 failed, 1 succeeded, 2 cancelled).
  int Run(const RunRequest& request);

  // The same in steps. Begin creates the host window on the calling thread and starts
  // the worker; Pump handles the window's messages (waiting up to waitMs for one) and
  // returns false once the run has ended; End joins the worker, handles what is left and
  // returns the result (rethrowing what the run function threw).
  void Begin(const RunRequest& request);
  bool Pump(DWORD waitMs);
  int End();
  // Signals the cancel event now (a Cancel button); the observer's CancelWanted does the
  // same when it turns true.
  void Cancel();

  // Whether WM_OPERATION_COMPLETE reached the window during the last run.
  bool CompletionReceived() const { return completed_; }
  // Whether the user asked to cancel during the last run.
  bool CancelRequested() const { return cancelRequested_; }
  // Whether the session cancelled the last run because it stood still; why, if so.
  bool GaveUp() const { return !giveUpReason_.empty(); }
  const std::string& GiveUpReason() const { return giveUpReason_; }
  // The host window of the run in progress (null outside one).
  HWND HostWindow() const { return hwnd_; }

 private:
  LRESULT OnMessage(HWND hwnd, UINT msg, LPARAM lParam);
  void FollowCaption();
  void GiveUpWhenStill();
  // How long a blocking Run's pump may wait for a message.
  DWORD SliceMs();

  RunFunction run_;
  RunObserver& observer_;
  std::string programName_ = "velmora";
  bool completed_ = false;
  bool cancelRequested_ = false;
  std::optional<std::uint32_t> giveUpSeconds_;
  ProgressWatch watch_;
  std::string giveUpReason_;
  HWND hwnd_ = nullptr;
  std::unique_ptr<platform::Event> cancel_;
  RunRecord record_{};
  std::string caption_;
  std::atomic<bool> done_{false};
  int result_ = OPERATION_FAILED;
  std::exception_ptr failure_;
  std::function<void(const std::string&)> previousListener_;
  std::thread worker_;
};

}  // namespace velmora
