// velmora run --json: the run's status texts and progress as events, besides what the
// run view shows people (on standard error then).
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "host/core/json_events.h"
#include "host/core/run_session.h"

namespace velmora {

class JsonRunObserver final : public RunObserver {
 public:
  // `events` null: only the inner view sees the run.
  JsonRunObserver(RunObserver& inner, JsonEvents* events) : inner_(inner), events_(events) {}

  void Start() override { inner_.Start(); }
  void Caption(const std::string& caption) override { inner_.Caption(caption); }
  void Status(const std::string& text) override {
    if (events_) {
      // The device's serial number as soon as the line showed it: a station shows it
      // while the run goes on.
      if (!serialSaid_ && serialProbe_) {
        if (const std::optional<std::string> serial = serialProbe_()) {
          events_->Write(JsonLine("device").Str("serial", *serial));
          serialSaid_ = true;
        }
      }
      events_->Status(text);
    }
    inner_.Status(text);
  }
  // Asked at each status text until it names the serial number.
  void SerialProbe(std::function<std::optional<std::string>()> probe) {
    serialProbe_ = std::move(probe);
  }
  void Progress(long position) override {
    if (events_) events_->Progress(position);
    inner_.Progress(position);
  }
  void Tick() override { inner_.Tick(); }
  bool WantsTicks() override { return inner_.WantsTicks(); }
  void WakeWith(std::function<void()> wake) override { inner_.WakeWith(std::move(wake)); }
  void Notice(const std::string& text) override {
    if (events_) events_->Warning(text);
    inner_.Notice(text);
  }
  void Finish() override { inner_.Finish(); }
  bool CancelWanted() override { return inner_.CancelWanted(); }

 private:
  RunObserver& inner_;
  JsonEvents* events_;
  std::function<std::optional<std::string>()> serialProbe_;
  bool serialSaid_ = false;
};

}  // namespace velmora
