#include "host/desktop/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "host/core/exit_codes.h"

namespace velmora::desktop {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<int> gCount{0};
int gPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const int saved = errno;
  if (gCount.fetch_add(1) >= 1) {
    // The first asked the run to stop at its next safe point; whoever sends a second will
    // not wait for it.
    static const char kText[] =
        "\nvelmora-gui: stopped at your request; the device may need a restart.\n";
    [[maybe_unused]] ssize_t n = ::write(STDOUT_FILENO, kText, sizeof kText - 1);
    ::_exit(kExitCancelled);
  }
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(gPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

StopSignals::StopSignals(std::function<void()> onFirst) : onFirst_(std::move(onFirst)) {
  if (gPipe[0] < 0 && ::pipe2(gPipe, O_NONBLOCK | O_CLOEXEC) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(gPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
    char buffer[16];
    while (::read(gPipe[0], buffer, sizeof buffer) > 0) {
    }
    if (told_ || !onFirst_) return;
    told_ = true;
    onFirst_();
  });
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

StopSignals::~StopSignals() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
  gCount.store(0);
}

}  // namespace velmora::desktop
