// What the boot ROM and its monitor read from the line: the raw probe and framed
// requests. A state machine fed one byte at a time; it does no I/O.
//
// Probe, raw:   05 0A 14 28 00 00                     answered 06
// Frame:        02 00 type L payload[L] sum 03 [00 00]
//   sum = (00 + type + L + payload bytes) mod 256; the 00 00 after 03 are skipped as idle.
//   type 0x6E  identification, L = 0x54, 84 characters       no answer
//   type 0x80  read: address(4) count(1), L = 5               02 00 92 n data sum 03
//   type 0x81  write: address(4) data, L = 4 + n              06
//   type 0x82  go: address(4), L = 4                          06
#pragma once
#include <array>
#include <cstdint>

namespace kv70sim {

constexpr std::uint8_t kRomIdentify = 0x6E;
constexpr std::uint8_t kRomRead = 0x80;
constexpr std::uint8_t kRomWrite = 0x81;
constexpr std::uint8_t kRomGo = 0x82;
constexpr std::uint8_t kRomReadReply = 0x92;
constexpr std::uint8_t kRomAck = 0x06;
constexpr std::uint8_t kRomIdentifyLength = 0x54;
constexpr std::uint8_t kRomMaxReadCount = 251;

class RomFrameReader {
 public:
  enum class Result { More, Probe, Frame, BadFrame };

  Result Feed(std::uint8_t byte);
  void Reset() { state_ = State::Hunt; }
  bool InFrame() const { return state_ != State::Hunt; }

  std::uint8_t Type() const { return type_; }
  std::uint8_t Length() const { return length_; }
  const std::uint8_t* Payload() const { return payload_.data(); }

 private:
  enum class State { Hunt, Probe, Zero, Type, Length, Payload, Sum, End };
  Result Bad();

  State state_ = State::Hunt;
  int probeMatched_ = 0;
  std::uint8_t type_ = 0, length_ = 0, sum_ = 0;
  int index_ = 0;
  std::array<std::uint8_t, 255> payload_{};
};

}  // namespace kv70sim
