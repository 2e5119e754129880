// The flash monitor's framing, from the device's side: a reader for requests (fed one
// byte at a time, no I/O) and the builder of replies.
//
// Request:  02 code nH nL data[n] sH sL 03 00
// Reply:    02 code nH nL data[n] sH sL 03
//   s = 16-bit wrapping sum of code, nH, nL and the data bytes; n <= 1024.
// A request counts only once its trailing 00 has arrived.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kv70sim {

constexpr std::size_t kMonitorMaxData = 1024;

// Command codes the flash monitor knows.
constexpr std::uint8_t kMonPing = 0x00;
constexpr std::uint8_t kMonErase = 0x01;
constexpr std::uint8_t kMonEraseStatus = 0x02;
constexpr std::uint8_t kMonProgram = 0x03;
constexpr std::uint8_t kMonReboot = 0x04;
constexpr std::uint8_t kMonRead = 0x05;
constexpr std::uint8_t kMonReadConfig = 0x06;
constexpr std::uint8_t kMonCollectGarbage = 0x07;
constexpr std::uint8_t kMonProgramDone = 0x0A;
constexpr std::uint8_t kMonEraseFileSystem = 0x0D;

class MonitorRequestReader {
 public:
  enum class Result { More, Request, BadFrame };

  Result Feed(std::uint8_t byte);
  void Reset() { state_ = State::Hunt; }
  bool InFrame() const { return state_ != State::Hunt; }

  std::uint8_t Code() const { return code_; }
  std::span<const std::uint8_t> Data() const { return {data_.data(), length_}; }

 private:
  enum class State { Hunt, Code, LengthHigh, LengthLow, Data, SumHigh, SumLow, End, Pad };
  Result Bad(std::uint8_t byte);

  State state_ = State::Hunt;
  std::uint8_t code_ = 0;
  std::size_t length_ = 0, index_ = 0;
  std::uint16_t sum_ = 0, received_ = 0;
  std::array<std::uint8_t, kMonitorMaxData> data_{};
};

// Appends a whole reply frame for `code` with `data` to `out`.
void AppendReply(std::vector<std::uint8_t>& out, std::uint8_t code,
                 std::span<const std::uint8_t> data);

}  // namespace kv70sim
