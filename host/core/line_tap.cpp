#include "host/core/line_tap.h"

#include "platform/clock.h"

namespace velmora {

LineTap::LineTap(platform::WireTap* next) : next_(next), startMs_(platform::GetClock().NowMs()) {}

std::uint64_t LineTap::Elapsed() const {
  const std::uint64_t now = platform::GetClock().NowMs();
  return now > startMs_ ? now - startMs_ : 0;
}

void LineTap::OnWrite(const BYTE* data, DWORD count) {
  {
    std::lock_guard lock(mutex_);
    decoder_.ToDevice({data, count}, Elapsed());
  }
  if (next_) next_->OnWrite(data, count);
}

void LineTap::OnRead(const BYTE* data, DWORD count) {
  {
    std::lock_guard lock(mutex_);
    decoder_.FromDevice({data, count}, Elapsed());
  }
  if (next_) next_->OnRead(data, count);
}

void LineTap::OnBreakSent(DWORD ms) {
  {
    std::lock_guard lock(mutex_);
    decoder_.BreakSent(ms, Elapsed());
  }
  if (next_) next_->OnBreakSent(ms);
}

void LineTap::OnBreakReceived() {
  {
    std::lock_guard lock(mutex_);
    decoder_.BreakReceived(Elapsed());
  }
  if (next_) next_->OnBreakReceived();
}

void LineTap::OnSpeed(DWORD bitsPerSecond) {
  {
    std::lock_guard lock(mutex_);
    decoder_.Speed(bitsPerSecond, Elapsed());
  }
  if (next_) next_->OnSpeed(bitsPerSecond);
}

void LineTap::OnNote(const std::string& text) {
  if (next_) next_->OnNote(text);
}

bool LineTap::EraseReachedSoFar() {
  std::lock_guard lock(mutex_);
  return decoder_.Summary().eraseReached;
}

bool LineTap::PastBootRom() {
  std::lock_guard lock(mutex_);
  const LineSummary& line = decoder_.Summary();
  return line.monitorStartedAt || line.monitorAnswered || line.recordsRead > 0 ||
         line.eraseReached || !line.read.empty() || !line.programmed.empty() || line.rebootSent ||
         line.unknownBytes > 0 || line.badFrames > 0 || line.cutShort > 0;
}

LineSummary LineTap::Summary() {
  std::lock_guard lock(mutex_);
  decoder_.Finish();
  return decoder_.Summary();
}

}  // namespace velmora
