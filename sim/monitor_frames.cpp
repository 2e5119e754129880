#include "sim/monitor_frames.h"

namespace kv70sim {

namespace {
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
}  // namespace

MonitorRequestReader::Result MonitorRequestReader::Bad(std::uint8_t byte) {
  // The byte that broke the frame may be the start of the next one.
  state_ = byte == kStx ? State::Code : State::Hunt;
  return Result::BadFrame;
}

MonitorRequestReader::Result MonitorRequestReader::Feed(std::uint8_t b) {
  switch (state_) {
    case State::Hunt:
      if (b == kStx) state_ = State::Code;
      return Result::More;
    case State::Code:
      code_ = b;
      sum_ = b;
      state_ = State::LengthHigh;
      return Result::More;
    case State::LengthHigh:
      length_ = std::size_t{b} << 8;
      sum_ = static_cast<std::uint16_t>(sum_ + b);
      state_ = State::LengthLow;
      return Result::More;
    case State::LengthLow:
      length_ |= b;
      sum_ = static_cast<std::uint16_t>(sum_ + b);
      if (length_ > kMonitorMaxData) return Bad(b);
      index_ = 0;
      state_ = length_ ? State::Data : State::SumHigh;
      return Result::More;
    case State::Data:
      data_[index_++] = b;
      sum_ = static_cast<std::uint16_t>(sum_ + b);
      if (index_ == length_) state_ = State::SumHigh;
      return Result::More;
    case State::SumHigh:
      received_ = static_cast<std::uint16_t>(b << 8);
      state_ = State::SumLow;
      return Result::More;
    case State::SumLow:
      received_ = static_cast<std::uint16_t>(received_ | b);
      if (received_ != sum_) return Bad(b);
      state_ = State::End;
      return Result::More;
    case State::End:
      if (b != kEtx) return Bad(b);
      state_ = State::Pad;
      return Result::More;
    case State::Pad:
      if (b != 0x00) return Bad(b);
      state_ = State::Hunt;
      return Result::Request;
  }
  return Result::More;
}

void AppendReply(std::vector<std::uint8_t>& out, std::uint8_t code,
                 std::span<const std::uint8_t> data) {
  auto n = static_cast<std::uint16_t>(data.size());
  std::uint16_t sum = static_cast<std::uint16_t>(code + (n >> 8) + (n & 0xFF));
  out.push_back(kStx);
  out.push_back(code);
  out.push_back(static_cast<std::uint8_t>(n >> 8));
  out.push_back(static_cast<std::uint8_t>(n));
  for (std::uint8_t b : data) {
    out.push_back(b);
    sum = static_cast<std::uint16_t>(sum + b);
  }
  out.push_back(static_cast<std::uint8_t>(sum >> 8));
  out.push_back(static_cast<std::uint8_t>(sum));
  out.push_back(kEtx);
}

}  // namespace kv70sim
