#include "host/core/wire_trace.h"

#include <string>

#include "platform/clock.h"

namespace velmora {

WireTrace::WireTrace(std::ostream& out) : out_(out), startMs_(platform::GetClock().NowMs()) {}

WireTrace::~WireTrace() {
  Flush();
}

std::uint64_t WireTrace::Elapsed() const {
  const std::uint64_t now = platform::GetClock().NowMs();
  return now > startMs_ ? now - startMs_ : 0;
}

void WireTrace::Line(std::uint64_t ms, char direction, const BYTE* data, std::size_t count) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string line = std::to_string(ms);
  line += ' ';
  line += direction;
  line.reserve(line.size() + count * 3 + 1);
  for (std::size_t i = 0; i < count; ++i) {
    line += ' ';
    line += kHex[data[i] >> 4];
    line += kHex[data[i] & 0x0F];
  }
  line += '\n';
  // Each line goes out whole at once, so that a trace cut short by a hard exit still
  // ends on a complete line.
  out_ << line << std::flush;
}

void WireTrace::Event(const std::string& text) {
  out_ << Elapsed() << " ! " << text << '\n' << std::flush;
}

void WireTrace::FlushLocked() {
  if (burst_.empty()) return;
  Line(burstStartMs_, '<', burst_.data(), burst_.size());
  burst_.clear();
}

void WireTrace::Flush() {
  std::lock_guard lock(mutex_);
  FlushLocked();
}

void WireTrace::OnWrite(const BYTE* data, DWORD count) {
  if (count == 0) return;
  std::lock_guard lock(mutex_);
  FlushLocked();
  Line(Elapsed(), '>', data, count);
}

void WireTrace::OnRead(const BYTE* data, DWORD count) {
  if (count == 0) return;
  std::lock_guard lock(mutex_);
  const std::uint64_t now = Elapsed();
  if (!burst_.empty() && now - burstLastMs_ > kBurstGapMs) FlushLocked();
  if (burst_.empty()) burstStartMs_ = now;
  burstLastMs_ = now;
  burst_.insert(burst_.end(), data, data + count);
}

void WireTrace::OnBreakSent(DWORD ms) {
  std::lock_guard lock(mutex_);
  FlushLocked();
  Event("break-sent " + std::to_string(ms));
}

void WireTrace::OnBreakReceived() {
  std::lock_guard lock(mutex_);
  FlushLocked();
  Event("break-received");
}

void WireTrace::OnSpeed(DWORD bitsPerSecond) {
  std::lock_guard lock(mutex_);
  FlushLocked();
  Event("speed " + std::to_string(bitsPerSecond));
}

void WireTrace::OnNote(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  std::lock_guard lock(mutex_);
  FlushLocked();
  Event(line);
}

}  // namespace velmora
