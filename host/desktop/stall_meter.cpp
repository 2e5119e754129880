#include "host/desktop/stall_meter.h"

#include <QPushButton>

#include "host/desktop/desktop_app.h"

namespace velmora::desktop {

StallMeter::StallMeter(DesktopApp& app, int seconds) : app_(app), seconds_(seconds) {
  heartbeat_.setTimerType(Qt::PreciseTimer);
  heartbeat_.setInterval(1);
  connect(&heartbeat_, &QTimer::timeout, this, [this] { Beat(); });
  heartbeat_.start();
}

int StallMeter::progress() const {
  return app_.runWindow() ? app_.runWindow()->progress()->value() : -1;
}

void StallMeter::Beat() {
  RunWindow* run = app_.runWindow();
  if (!run || !run->running()) return;
  if (!running_.isValid()) {
    running_.start();
    sinceBeat_.start();
    return;
  }
  // Every gap between two beats beyond the interval is time the loop could not serve.
  const double stall = static_cast<double>(sinceBeat_.nsecsElapsed()) / 1e6 - 1.0;
  if (stall > longestMs_) {
    longestMs_ = stall;
    longestAtMs_ = running_.elapsed();
  }
  sinceBeat_.restart();
  ++ticks_;
  if (!cancelled_ && running_.elapsed() >= seconds_ * 1000LL) {
    cancelled_ = true;
    run->cancelButton()->click();
  }
}

}  // namespace velmora::desktop
