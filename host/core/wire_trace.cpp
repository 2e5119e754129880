#include "host/core/wire_trace.h"

#include <string>

#include "platform/clock.h"
#include "platform/file_io.h"

namespace velmora {

TraceFile::~TraceFile() {
  if (fd_ >= 0) platform::FileClose(fd_);
}

DWORD TraceFile::Open(const std::string& path) {
  int fd = -1;
  DWORD error = platform::FileOpen(path, platform::FileAccess::kWrite, true, fd);
  if (error != ERROR_SUCCESS) return error;
  platform::FileKind kind;
  error = platform::FileKindOf(fd, kind);
  // A device has nothing to empty (and refuses being truncated).
  if (error == ERROR_SUCCESS && kind.isRegular) error = platform::FileTruncate(fd);
  if (error != ERROR_SUCCESS) {
    platform::FileClose(fd);
    return error;
  }
  fd_ = fd;
  return ERROR_SUCCESS;
}

DWORD TraceFile::Write(const std::string& line) {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  return platform::FileWriteAll(fd_, line.data(), line.size());
}

DWORD TraceFile::Close() {
  if (fd_ < 0) return ERROR_SUCCESS;
  const DWORD synced = platform::FileSync(fd_);
  const DWORD closed = platform::FileClose(fd_);
  fd_ = -1;
  return synced != ERROR_SUCCESS ? synced : closed;
}

WireTrace::WireTrace(TraceOutput& out) : out_(out), startMs_(platform::GetClock().NowMs()) {}

WireTrace::~WireTrace() {
  Flush();
}

std::uint64_t WireTrace::Elapsed() const {
  const std::uint64_t now = platform::GetClock().NowMs();
  return now > startMs_ ? now - startMs_ : 0;
}

void WireTrace::WriteHeld() {
  if (held_.empty()) return;
  if (!finished_ && error_ == ERROR_SUCCESS) error_ = out_.Write(held_);
  held_.clear();
}

void WireTrace::Put(const std::string& line, std::uint64_t ms) {
  if (finished_ || error_ != ERROR_SUCCESS) return;
  if (held_.empty()) heldSinceMs_ = ms;
  held_ += line;
  if (held_.size() >= kHoldBytes || (ms >= heldSinceMs_ && ms - heldSinceMs_ >= kHoldMs))
    WriteHeld();
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
  Put(line, ms);
}

void WireTrace::Event(const std::string& text) {
  const std::uint64_t ms = Elapsed();
  held_ += std::to_string(ms) + " ! " + text + '\n';
  WriteHeld();
}

void WireTrace::FlushLocked() {
  if (burst_.empty()) return;
  Line(burstStartMs_, '<', burst_.data(), burst_.size());
  burst_.clear();
}

void WireTrace::Flush() {
  std::lock_guard lock(mutex_);
  FlushLocked();
  WriteHeld();
}

DWORD WireTrace::Finish() {
  std::lock_guard lock(mutex_);
  FlushLocked();
  WriteHeld();
  finished_ = true;
  return error_;
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
  if (finished_ || error_ != ERROR_SUCCESS) return;
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
