#include "host/core/run_session.h"

#include <algorithm>
#include <utility>

#include "host/core/run_warnings.h"
#include "platform/clock.h"
#include "platform/comm_port.h"

namespace velmora {

namespace {

// How often a blocking Run looks at the observer (cancel, elapsed time) while nothing
// arrives from the run. This is the host's own pace, not a wait on the device.
constexpr DWORD kPumpSliceMs = 100;
// The same when the observer shows nothing between messages and wakes the pump for a
// cancel itself: only a caption changed without a message waits this long to be seen.
constexpr DWORD kIdleSliceMs = 1000;

// The host's own message to its run window: a port problem met on the run's thread,
// lParam = const char* text (valid until the send returns). The plug-in sends only its
// three messages, well apart from this one.
constexpr UINT kPortProblemMessage = WM_USER + 0x700;

}  // namespace

RunSession::RunSession(RunFunction run, RunObserver& observer)
    : run_(std::move(run)), observer_(observer) {}

RunSession::~RunSession() {
  if (worker_.joinable()) {
    Cancel();
    while (Pump(kPumpSliceMs)) {
    }
    worker_.join();
    platform::SetCommProblemListener(std::exchange(previousListener_, {}));
  }
  if (hwnd_) platform::DestroyWindowObject(hwnd_);
}

LRESULT RunSession::OnMessage(HWND, UINT msg, LPARAM lParam) {
  switch (msg) {
    case WM_OPERATION_STATUS:
      // The caption is read before each message is shown, so that a caption set just
      // before a status text is shown above it.
      FollowCaption();
      // The text lives only until this send returns: the observer copies it.
      observer_.Status(lParam ? reinterpret_cast<const char*>(lParam) : "");
      GiveUpWhenStill();
      return 0;
    case WM_OPERATION_PROGRESS:
      FollowCaption();
      observer_.Progress(static_cast<long>(lParam));
      watch_.Progress(static_cast<long>(lParam), platform::GetClock().NowMs());
      return 0;
    case WM_OPERATION_COMPLETE:
      completed_ = true;
      return 0;
    case kPortProblemMessage:
      observer_.PortProblem(
          PortProblemLine(record_.comPort, lParam ? reinterpret_cast<const char*>(lParam) : ""));
      return 0;
    default:
      return 0;
  }
}

void RunSession::FollowCaption() {
  const std::string now = platform::GetWindowText(hwnd_);
  if (now != caption_) {
    caption_ = now;
    observer_.Caption(now);
  }
}

// Looked at with every status text and every pump slice; the cancel event is the run's
// own way to stop, so the plug-in ends as it would for the user's Cancel.
void RunSession::GiveUpWhenStill() {
  if (cancelRequested_ || !cancel_ || !watch_.Due(platform::GetClock().NowMs())) return;
  cancelRequested_ = true;
  giveUpReason_ = watch_.Reason();
  cancel_->Set();
  observer_.Notice(programName_ + ": " + giveUpReason_ + " (cancelling the run)");
}

void RunSession::Begin(const RunRequest& request) {
  completed_ = false;
  cancelRequested_ = false;
  giveUpReason_.clear();
  watch_ = ProgressWatch(giveUpSeconds_);
  watch_.Start(platform::GetClock().NowMs());
  done_.store(false);
  result_ = OPERATION_FAILED;
  failure_ = nullptr;
  if (hwnd_) platform::DestroyWindowObject(hwnd_);
  hwnd_ = platform::CreateWindowObject(
      [this](HWND hwnd, UINT msg, WPARAM, LPARAM lParam) { return OnMessage(hwnd, msg, lParam); },
      "Velmora");
  cancel_ = std::make_unique<platform::Event>(true, false);
  record_ = RunRecord{request.comPort, request.operationIndex, hwnd_, cancel_->get()};
  caption_ = platform::GetWindowText(hwnd_);
  observer_.Start();
  const HWND hwnd = hwnd_;
  // A window that has gone makes this a no-op: the wake may come late.
  observer_.WakeWith([hwnd] { platform::WakeWindowThread(hwnd); });
  // The port's reason is shown when it is met, before the plug-in's failure box; the
  // send waits for the window's thread, so the order holds.
  previousListener_ = platform::SetCommProblemListener([hwnd](const std::string& text) {
    platform::SendMessage(hwnd, kPortProblemMessage, 0, reinterpret_cast<LPARAM>(text.c_str()));
  });
  worker_ = std::thread([this, hwnd] {
    try {
      result_ = run_(record_);
    } catch (...) {
      failure_ = std::current_exception();
    }
    done_.store(true);
    platform::WakeWindowThread(hwnd);
  });
}

void RunSession::Cancel() {
  if (cancelRequested_ || !cancel_) return;
  cancelRequested_ = true;
  cancel_->Set();
  observer_.Notice("Cancelling... (the run stops at its next safe point)");
}

bool RunSession::Pump(DWORD waitMs) {
  if (done_.load()) return false;
  platform::PumpMessages(waitMs > 0, waitMs);
  FollowCaption();
  // Asked on every turn, not only until the first cancel: an observer may have more to
  // do with a later request (the terminal's second Ctrl-C ends velmora while the run
  // still winds down). Cancel itself happens once.
  if (observer_.CancelWanted()) Cancel();
  GiveUpWhenStill();
  observer_.Tick();
  return !done_.load();
}

int RunSession::End() {
  if (worker_.joinable()) worker_.join();
  platform::SetCommProblemListener(std::exchange(previousListener_, {}));
  // The completion message was posted just before DoOperation returned.
  platform::PumpMessages(false);
  FollowCaption();
  observer_.Finish();
  platform::DestroyWindowObject(hwnd_);
  hwnd_ = nullptr;
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  return result_;
}

DWORD RunSession::SliceMs() {
  if (observer_.WantsTicks()) return kPumpSliceMs;
  if (!giveUpSeconds_) return kIdleSliceMs;
  platform::Clock& clock = platform::GetClock();
  // Virtual time moves with the run, not with the pump's wait: looked at as often as ever.
  if (clock.IsVirtual()) return kPumpSliceMs;
  const std::uint64_t left = watch_.MsUntilDue(clock.NowMs());
  return static_cast<DWORD>(std::min<std::uint64_t>(kIdleSliceMs, left + 1));
}

int RunSession::Run(const RunRequest& request) {
  Begin(request);
  while (Pump(SliceMs())) {
  }
  return End();
}

}  // namespace velmora
