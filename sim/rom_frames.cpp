#include "sim/rom_frames.h"

namespace kv70sim {

namespace {

constexpr std::uint8_t kProbe[] = {0x05, 0x0A, 0x14, 0x28, 0x00, 0x00};
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;

// Type, the only payload lengths it may carry (min, max).
struct TypeRow {
  std::uint8_t type;
  int minLength;
  int maxLength;
};
constexpr TypeRow kTypes[] = {
    {kRomIdentify, kRomIdentifyLength, kRomIdentifyLength},
    {kRomRead, 5, 5},
    {kRomWrite, 4, 4 + kRomMaxReadCount},
    {kRomGo, 4, 4},
};

}  // namespace

RomFrameReader::Result RomFrameReader::Bad() {
  state_ = State::Hunt;
  return Result::BadFrame;
}

RomFrameReader::Result RomFrameReader::Feed(std::uint8_t b) {
  switch (state_) {
    case State::Hunt:
      if (b == kProbe[0]) {
        probeMatched_ = 1;
        state_ = State::Probe;
      } else if (b == kStx) {
        state_ = State::Zero;
      }
      return Result::More;
    case State::Probe:
      if (b != kProbe[probeMatched_]) {
        state_ = State::Hunt;
        return Feed(b);  // the byte may start a frame or another probe
      }
      if (++probeMatched_ == static_cast<int>(sizeof kProbe)) {
        state_ = State::Hunt;
        return Result::Probe;
      }
      return Result::More;
    case State::Zero:
      if (b != 0x00) {
        state_ = State::Hunt;
        return Feed(b);
      }
      state_ = State::Type;
      return Result::More;
    case State::Type:
      type_ = b;
      sum_ = b;
      state_ = State::Length;
      for (const auto& row : kTypes)
        if (row.type == b) return Result::More;
      return Bad();
    case State::Length:
      length_ = b;
      sum_ = static_cast<std::uint8_t>(sum_ + b);
      for (const auto& row : kTypes) {
        if (row.type == type_ && (b < row.minLength || b > row.maxLength)) return Bad();
      }
      index_ = 0;
      state_ = length_ ? State::Payload : State::Sum;
      return Result::More;
    case State::Payload:
      payload_[index_++] = b;
      sum_ = static_cast<std::uint8_t>(sum_ + b);
      if (index_ == length_) state_ = State::Sum;
      return Result::More;
    case State::Sum:
      if (b != sum_) return Bad();
      state_ = State::End;
      return Result::More;
    case State::End:
      if (b != kEtx) return Bad();
      state_ = State::Hunt;
      return Result::Frame;
  }
  return Result::More;
}

}  // namespace kv70sim
