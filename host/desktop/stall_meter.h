// For the benchmark (velmora-gui --measure-stalls SECONDS): a heartbeat on the event loop
// that records the longest gap between two beats while a run is going on, and presses
// Cancel once the run has gone on for that long.
#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace velmora::desktop {

class DesktopApp;

class StallMeter : public QObject {
 public:
  StallMeter(DesktopApp& app, int seconds);
  double longestMs() const { return longestMs_; }
  long long longestAtMs() const { return longestAtMs_; }
  long ticks() const { return ticks_; }
  int progress() const;  // where the run's progress bar stood at the end

 private:
  void Beat();

  DesktopApp& app_;
  int seconds_;
  QTimer heartbeat_;
  QElapsedTimer sinceBeat_;
  QElapsedTimer running_;
  double longestMs_ = 0;
  long long longestAtMs_ = 0;
  long ticks_ = 0;
  bool cancelled_ = false;
};

}  // namespace velmora::desktop
