// What a run's line says about a file-system dump: how large the device's file-system
// flash is (its configuration record says so) and whether blocks of it were asked for.
// The host knows the plug-in only through its exports, so it reads this from the flash
// monitor's frames as the device sees them; the log file itself says how much arrived.
#pragma once
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/comm_port.h"

namespace velmora {

// One direction of the flash monitor's framing, fed byte by byte:
//   02 | code | length (2, big-endian) | data | checksum (2, big-endian) | 03
// The checksum is the 16-bit sum of the code, the length bytes and the data. A request
// carries one more byte (00) after the 03, which the hunt for the next 02 skips.
class MonitorFrameReader {
 public:
  // True when `b` completed a frame with a good checksum; Code and Data then hold it.
  bool Feed(std::uint8_t b);
  // Back to hunting for the next frame's start; from now on only frames with this code
  // count (as a reply carries its request's code), or any when none is given.
  void Reset(std::optional<std::uint8_t> expected = std::nullopt) {
    state_ = State::kHunt;
    expected_ = expected;
  }
  std::uint8_t Code() const { return code_; }
  const std::vector<std::uint8_t>& Data() const { return data_; }

 private:
  enum class State { kHunt, kCode, kLengthHigh, kLengthLow, kData, kSumHigh, kSumLow, kEnd };
  State state_ = State::kHunt;
  std::optional<std::uint8_t> expected_;
  std::uint8_t code_ = 0;
  std::uint16_t length_ = 0;
  std::uint16_t sum_ = 0;
  std::uint16_t received_ = 0;
  std::vector<std::uint8_t> data_;
};

// A wire tap that watches for the dump and hands everything on to `next` (the wire
// trace, or none).
class DumpWatch final : public platform::WireTap {
 public:
  explicit DumpWatch(platform::WireTap* next = nullptr) : next_(next) {}

  void OnWrite(const BYTE* data, DWORD count) override;
  void OnRead(const BYTE* data, DWORD count) override;
  void OnBreakSent(DWORD ms) override;
  void OnBreakReceived() override;
  void OnSpeed(DWORD bitsPerSecond) override;
  void OnNote(const std::string& text) override;

  // The file-system flash in bytes, from the last configuration record the device sent;
  // nullopt before one came.
  std::optional<std::uint64_t> FileSystemBytes() const;
  // Whether a block of the file-system flash was asked for: the log file was open then.
  bool FileSystemReadAsked() const { return readAsked_.load(); }

 private:
  platform::WireTap* next_;
  MonitorFrameReader requests_;
  MonitorFrameReader replies_;
  std::atomic<std::int64_t> fileSystemBytes_{-1};
  std::atomic<bool> readAsked_{false};
};

// "The log file F holds N of M bytes: it is not a complete dump." for a run that read the
// file-system flash into `logFile` and left it shorter than the flash; empty otherwise.
std::string PartialDumpText(const std::string& logFile, const DumpWatch& watch);

}  // namespace velmora
