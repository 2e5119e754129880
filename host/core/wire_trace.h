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
//
// Byte lines go to the output together, up to kHoldMs of the trace's time or kHoldBytes
// at once: a dump at line speed would otherwise write a line for each segment a device
// server sends (some 25 a second). A line event (speed, break, note), Flush and Finish
// write what is held first, so the file is whole at every event and at the end.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/comm_port.h"

namespace velmora {

// Where the trace's lines go, whole lines a call (one or more). Write returns a Windows
// error number, 0 when the lines were written.
class TraceOutput {
 public:
  virtual ~TraceOutput() = default;
  virtual DWORD Write(const std::string& line) = 0;
};

// The trace's file. A regular file is emptied and written in place; a character device
// is written in place too (what can reach here has passed OutputProblem). What it is
// given goes out at once, whole lines only, so a trace cut short by a hard exit still
// ends on a whole line.
class TraceFile final : public TraceOutput {
 public:
  TraceFile() = default;
  ~TraceFile() override;  // closes without looking, when Close was not called
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  DWORD Open(const std::string& path);
  DWORD Write(const std::string& line) override;
  // Writes the file out to the disk and closes it; the error of either.
  DWORD Close();

 private:
  int fd_ = -1;
};

class WireTrace final : public platform::WireTap {
 public:
  static constexpr std::uint64_t kBurstGapMs = 20;
  static constexpr std::uint64_t kHoldMs = 1000;
  static constexpr std::size_t kHoldBytes = 16384;

  // Writes to `out`, which must outlive the trace; time starts now.
  explicit WireTrace(TraceOutput& out);
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
  // Writes a pending read burst and takes nothing more; the first failed write's error,
  // 0 when every line was written. After a failure nothing more is written: a trace
  // with holes in it would mislead more than one that stops.
  DWORD Finish();

 private:
  std::uint64_t Elapsed() const;
  void FlushLocked();
  // A byte line: held, and written with those before it once enough is held.
  void Put(const std::string& line, std::uint64_t ms);
  // Writes what is held (a single write).
  void WriteHeld();
  void Line(std::uint64_t ms, char direction, const BYTE* data, std::size_t count);
  void Event(const std::string& text);

  std::mutex mutex_;
  TraceOutput& out_;
  std::uint64_t startMs_;
  std::vector<BYTE> burst_;
  std::uint64_t burstStartMs_ = 0;
  std::uint64_t burstLastMs_ = 0;
  std::string held_;  // whole lines not yet written
  std::uint64_t heldSinceMs_ = 0;
  DWORD error_ = 0;
  bool finished_ = false;
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
