// The wire trace (--trace FILE): every byte on the line and every line event, one line
// per write or read burst:
//   <ms> > 7E 01 ...        PC to device
//   <ms> < 06 ...           device to PC
//   <ms> ! break-sent 1000  a break the PC held for that long
//   <ms> ! break-received
//   <ms> ! speed 38400
//   <ms> ! monitor-image file /path/monitor.bin   a note from the plug-in
// Milliseconds count from the trace's start on the clock in force (virtual time with
// the simulator). Reads that follow one another with nothing else between and no pause
// longer than kBurstGapMs form one burst.
#pragma once
#include <cstdint>
#include <mutex>
#include <ostream>
#include <vector>

#include "platform/comm_port.h"

namespace velmora {

class WireTrace final : public platform::WireTap {
 public:
  static constexpr std::uint64_t kBurstGapMs = 20;

  // Writes to `out`, which must outlive the trace; time starts now.
  explicit WireTrace(std::ostream& out);
  ~WireTrace() override;  // writes a pending read burst
  WireTrace(const WireTrace&) = delete;
  WireTrace& operator=(const WireTrace&) = delete;

  void OnWrite(const BYTE* data, DWORD count) override;
  void OnRead(const BYTE* data, DWORD count) override;
  void OnBreakSent(DWORD ms) override;
  void OnBreakReceived() override;
  void OnSpeed(DWORD bitsPerSecond) override;
  // Control characters in the note become '?', so that it stays one line.
  void OnNote(const std::string& text) override;

  // Writes a pending read burst now.
  void Flush();

 private:
  std::uint64_t Elapsed() const;
  void FlushLocked();
  void Line(std::uint64_t ms, char direction, const BYTE* data, std::size_t count);
  void Event(const std::string& text);

  std::mutex mutex_;
  std::ostream& out_;
  std::uint64_t startMs_;
  std::vector<BYTE> burst_;
  std::uint64_t burstStartMs_ = 0;
  std::uint64_t burstLastMs_ = 0;
};

// Installs the tap (null: none) as the line's wire tap for its lifetime.
class WireTapScope {
 public:
  explicit WireTapScope(platform::WireTap* tap) { platform::SetWireTap(tap); }
  ~WireTapScope() { platform::SetWireTap(nullptr); }
  WireTapScope(const WireTapScope&) = delete;
  WireTapScope& operator=(const WireTapScope&) = delete;
};

}  // namespace velmora
