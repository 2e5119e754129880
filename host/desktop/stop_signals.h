// SIGINT, SIGTERM and SIGHUP for velmora-gui: the first is the user's Cancel, handed to
// the event loop; a second ends velmora-gui at once, from the handler itself, whatever
// the event loop is doing. `timeout`, a closed terminal and Ctrl-C in the terminal that
// started velmora-gui all land here.
#pragma once
#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace velmora::desktop {

class StopSignals : public QObject {
 public:
  // `onFirst` runs on the event loop's thread when the first signal has come.
  explicit StopSignals(std::function<void()> onFirst);
  ~StopSignals() override;  // the signals end the program again, as by default
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  std::function<void()> onFirst_;
  std::unique_ptr<QSocketNotifier> notifier_;
  bool told_ = false;
};

}  // namespace velmora::desktop
