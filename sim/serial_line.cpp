#include "sim/serial_line.h"

#include <algorithm>
#include <cstring>

#include "platform/comm_port.h"

namespace kv70sim {

namespace {

constexpr std::uint64_t kNsPerMs = 1000000;
constexpr std::uint64_t kBitsPerByte = 10;  // start, 8 data, stop

std::uint64_t ByteNs(std::uint32_t baud) {
  if (baud == 0) baud = 9600;  // an unusable rate still occupies the line
  return kBitsPerByte * 1000000000ull / baud;
}

}  // namespace

SerialLine::SerialLine(const Settings& settings, Random& random, LineCounters& counters,
                       std::uint64_t originNs)
    : s_(settings), random_(random), counters_(counters), originNs_(originNs) {}

// --- The PC's end ---------------------------------------------------------------------------

std::uint64_t SerialLine::PcWrite(const std::uint8_t* data, std::size_t count, std::uint64_t ns,
                                  DeviceEnd& device) {
  if (readSinceWrite_) {
    readSinceWrite_ = false;
    ++exchange_;
    ++counters_.exchanges;
  }
  std::uint64_t t = std::max(ns, pcTxFreeNs_);
  const std::uint64_t per = ByteNs(pcBaud_);
  const bool eightN1 = pcEightN1_;
  for (std::size_t i = 0; i < count; ++i) {
    t += per;
    device.CatchUpTo(t);     // the device may have changed its speed meanwhile
    if (pcBreak_) continue;  // a line held in break carries no characters
    if (Cut(t)) {
      ++counters_.bytesLost;
      continue;
    }
    ++counters_.bytesToDevice;
    std::uint8_t byte = data[i];
    if (!eightN1 || pcBaud_ != devRxBaud_ || devRxBaud_ == 0) byte = Garble(byte);
    device.Received(byte, t);
  }
  pcTxFreeNs_ = t;
  return t;
}

std::size_t SerialLine::TakeSlow(std::uint8_t* out, std::size_t max) {
  std::size_t n = std::min(max, PcAvailable());
  if (n == 0) return 0;  // an empty buffer may have no storage: no memcpy from null
  std::memcpy(out, rx_.data() + rxHead_, n);
  rxHead_ += n;
  if (rxHead_ == rx_.size()) {
    rx_.clear();
    rxHead_ = 0;
  }
  return n;
}

bool SerialLine::NextPcArrival(std::uint64_t& ns) const {
  for (std::size_t i = outHead_; i < out_.size(); ++i) {
    if (!out_[i].isBreak) {
      ns = out_[i].ns;
      return true;
    }
  }
  return false;
}

bool SerialLine::PcSetBreak(bool on, std::uint64_t ns) {
  if (on == pcBreak_) return false;
  pcBreak_ = on;
  if (on) pcBreakStartNs_ = ns;
  return true;
}

std::uint32_t SerialLine::PcTakeErrors() {
  std::uint32_t e = errors_;
  errors_ = 0;
  if (breaksPending_ > 0) {
    --breaksPending_;
    e |= CE_BREAK;
  }
  return e;
}

// --- The device's end -----------------------------------------------------------------------

void SerialLine::DeviceSend(std::span<const std::uint8_t> bytes, std::uint64_t readyNs) {
  std::uint64_t t = std::max(readyNs, devTxFreeNs_);
  const std::uint64_t per = ByteNs(devTxBaud_);
  for (std::uint8_t b : bytes) {
    t += per;
    out_.push_back({t, devTxBaud_, b, false});
  }
  devTxFreeNs_ = t;
}

std::uint64_t SerialLine::DeviceSendBreak(std::uint64_t ns, std::uint64_t lengthNs) {
  std::uint64_t at = std::max(ns, devTxFreeNs_);
  out_.push_back({at, devTxBaud_, 0, true});
  devTxFreeNs_ = at + lengthNs;
  return at;
}

void SerialLine::AppendNoise(std::vector<std::uint8_t>& out, unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    std::uint8_t b = random_.NextByte();
    out.push_back(b == 0x02 ? 0x20 : b);
  }
}

// --- Faults ---------------------------------------------------------------------------------

bool SerialLine::Cut(std::uint64_t ns) const {
  for (const auto& r : s_.pullExchanges)
    if (r.Contains(exchange_)) return true;
  if (!s_.pullMs.empty()) {
    std::uint64_t ms = (ns - std::min(ns, originNs_)) / kNsPerMs;
    for (const auto& r : s_.pullMs)
      if (r.Contains(ms)) return true;
  }
  return false;
}

std::uint8_t SerialLine::Garble(std::uint8_t byte) {
  ++counters_.bytesGarbled;
  std::uint8_t g = random_.NextByte();
  return g == byte ? static_cast<std::uint8_t>(g ^ 0xA5) : g;
}

// --- The device's event loop ----------------------------------------------------------------

void SerialLine::DeliverNext() {
  const InFlight& b = out_[outHead_++];
  if (Cut(b.ns)) {
    ++counters_.bytesLost;
    return;
  }
  if (b.isBreak) {
    ++breaksPending_;
    return;
  }
  ++counters_.bytesToPc;
  std::uint8_t v = b.value;
  if (b.baud != pcBaud_ || !pcEightN1_) {
    v = Garble(v);
    errors_ |= CE_FRAME;
  }
  if (rxHead_ > 0 && rxHead_ == rx_.size()) {
    rx_.clear();
    rxHead_ = 0;
  }
  rx_.push_back(v);
}

void SerialLine::Compact() {
  if (outHead_ == out_.size()) {
    out_.clear();
    outHead_ = 0;
  } else if (outHead_ > 4096 && outHead_ * 2 > out_.size()) {
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(outHead_));
    outHead_ = 0;
  }
}

}  // namespace kv70sim
