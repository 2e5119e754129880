// One run: the host window on this thread, DoOperation on a worker thread, and this
// thread pumping the window's messages until the run has ended. Status texts, progress
// and caption changes go to the view; Ctrl-C signals the run's cancel event.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "framework/plugin_abi.h"
#include "host/run_view.h"

namespace velmora {

struct RunRequest {
  int operationIndex = 0;
  int comPort = 1;
};

// Calls DoOperation with the record; the plug-in library in practice, a stand-in in tests.
using RunFunction = std::function<int(RunRecord&)>;

class RunSession {
 public:
  RunSession(RunFunction run, RunView& view);
  // Cancel a run whose progress position stands still this long (give_up.h); none: never.
  void GiveUpAfter(std::optional<std::uint32_t> seconds) { giveUpSeconds_ = seconds; }
  // The plug-in's result (0 failed, 1 succeeded, 2 cancelled).
  int Run(const RunRequest& request);
  // Whether WM_OPERATION_COMPLETE reached the window during the last run.
  bool CompletionReceived() const { return completed_; }
  // Whether the user asked to cancel during the last run.
  bool CancelRequested() const { return cancelRequested_; }
  // Whether the host cancelled the last run because it stood still; why, if so.
  bool GaveUp() const { return !giveUpReason_.empty(); }
  const std::string& GiveUpReason() const { return giveUpReason_; }

 private:
  RunFunction run_;
  RunView& view_;
  bool completed_ = false;
  bool cancelRequested_ = false;
  std::string giveUpReason_;
  std::optional<std::uint32_t> giveUpSeconds_;
};

}  // namespace velmora
