// The tracing port: a decorator that reports what actually crossed the line.
#include "platform/comm_trace.h"

#include <atomic>

#include "platform/clock.h"

namespace platform {

namespace {

std::atomic<WireTap*> gTap{nullptr};

class TracingPort final : public CommPort {
 public:
  explicit TracingPort(std::unique_ptr<CommPort> inner) : inner_(std::move(inner)) {}

  DWORD GetState(DCB& dcb) override { return inner_->GetState(dcb); }

  DWORD SetState(const DCB& dcb) override {
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
      if (WireTap* tap = CurrentWireTap()) tap->OnRead(buffer, read);
    }
    return error;
  }

  DWORD Write(const BYTE* buffer, DWORD count, DWORD& written) override {
    written = 0;
    DWORD error = inner_->Write(buffer, count, written);
    if (written > 0) {
      if (WireTap* tap = CurrentWireTap()) tap->OnWrite(buffer, written);
    }
    return error;
  }

  DWORD Purge(DWORD flags) override { return inner_->Purge(flags); }

  DWORD SetBreak() override {
    DWORD error = inner_->SetBreak();
    if (error == ERROR_SUCCESS && !breakOn_) {
      breakOn_ = true;
      breakStartUs_ = GetClock().NowUs();
    }
    return error;
  }

  DWORD ClearBreak() override {
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
    errors = 0;
    DWORD error = inner_->ClearError(errors);
    if (error == ERROR_SUCCESS && (errors & CE_BREAK) != 0) {
      if (WireTap* tap = CurrentWireTap()) tap->OnBreakReceived();
    }
    return error;
  }

 private:
  std::unique_ptr<CommPort> inner_;
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
