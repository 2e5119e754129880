// The tracing port: a decorator that reports what actually crossed the line.
#include "platform/comm_trace.h"

#include <atomic>
#include <vector>

#include "platform/clock.h"

namespace platform {

namespace {

std::atomic<WireTap*> gTap{nullptr};

class TracingPort final : public CommPort {
 public:
  explicit TracingPort(std::unique_ptr<CommPort> inner) : inner_(std::move(inner)) {}
  ~TracingPort() override { HandOn(); }

  DWORD GetState(DCB& dcb) override { return inner_->GetState(dcb); }

  DWORD SetState(const DCB& dcb) override {
    HandOn();
    DWORD error = inner_->SetState(dcb);
    if (error == ERROR_SUCCESS && (!speedKnown_ || dcb.BaudRate != speed_)) {
      speedKnown_ = true;
      speed_ = dcb.BaudRate;
      if (WireTap* tap = CurrentWireTap()) tap->OnSpeed(speed_);
    }
    return error;
  }

  DWORD SetTimeouts(const COMMTIMEOUTS& timeouts) override { return inner_->SetTimeouts(timeouts); }

  DWORD Read(BYTE* buffer, DWORD count, DWORD& read) override {
    read = 0;
    DWORD error = inner_->Read(buffer, count, read);
    // Bytes that arrived count even when the call also reports an error.
    if (read > 0) {
      held_.insert(held_.end(), buffer, buffer + read);
      // The plug-in reads a byte at a time, and each byte through the taps (decoders,
      // the trace, a clock reading each) cost more than the port's whole receive. While
      // the port holds more of what came in, the next read follows within microseconds:
      // the taps hear of the whole lot when the port runs dry, or before anything else
      // happens on the line.
      if (error != ERROR_SUCCESS || held_.size() >= kMostHeld || inner_->Held() == 0) HandOn();
    }
    return error;
  }

  DWORD Write(const BYTE* buffer, DWORD count, DWORD& written) override {
    HandOn();
    written = 0;
    DWORD error = inner_->Write(buffer, count, written);
    if (written > 0) {
      if (WireTap* tap = CurrentWireTap()) tap->OnWrite(buffer, written);
    }
    return error;
  }

  DWORD Purge(DWORD flags) override {
    HandOn();
    return inner_->Purge(flags);
  }

  DWORD SetBreak() override {
    HandOn();
    DWORD error = inner_->SetBreak();
    if (error == ERROR_SUCCESS && !breakOn_) {
      breakOn_ = true;
      breakStartUs_ = GetClock().NowUs();
    }
    return error;
  }

  DWORD ClearBreak() override {
    HandOn();
    DWORD error = inner_->ClearBreak();
    if (error == ERROR_SUCCESS && breakOn_) {
      breakOn_ = false;
      std::uint64_t heldUs = GetClock().NowUs() - breakStartUs_;
      if (WireTap* tap = CurrentWireTap())
        tap->OnBreakSent(static_cast<DWORD>((heldUs + 500) / 1000));
    }
    return error;
  }

  DWORD ClearError(DWORD& errors) override {
    HandOn();
    errors = 0;
    DWORD error = inner_->ClearError(errors);
    if (error == ERROR_SUCCESS && (errors & CE_BREAK) != 0) {
      if (WireTap* tap = CurrentWireTap()) tap->OnBreakReceived();
    }
    return error;
  }

  DWORD Held() const override { return inner_->Held(); }
  void ExpectInput(DWORD count) override { inner_->ExpectInput(count); }

 private:
  static constexpr std::size_t kMostHeld = 4096;

  // The bytes read and not yet handed to the tap.
  void HandOn() {
    if (held_.empty()) return;
    if (WireTap* tap = CurrentWireTap())
      tap->OnRead(held_.data(), static_cast<DWORD>(held_.size()));
    held_.clear();
  }

  std::unique_ptr<CommPort> inner_;
  std::vector<BYTE> held_;
  bool speedKnown_ = false;
  DWORD speed_ = 0;
  bool breakOn_ = false;
  std::uint64_t breakStartUs_ = 0;
};

}  // namespace

WireTap* CurrentWireTap() {
  return gTap.load(std::memory_order_acquire);
}

void SetWireTap(WireTap* tap) {
  gTap.store(tap, std::memory_order_release);
}

void NoteOnWire(const std::string& text) {
  if (WireTap* tap = CurrentWireTap()) tap->OnNote(text);
}

std::unique_ptr<CommPort> MakeTracingPort(std::unique_ptr<CommPort> port) {
  return std::make_unique<TracingPort>(std::move(port));
}

}  // namespace platform
