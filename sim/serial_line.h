// The serial line between the PC and the device: the wire and the two UARTs on it. Each
// byte takes 10 bits at the speed its sender runs at; a byte sent at a speed (or framing)
// its receiver does not run at arrives garbled. Breaks go both ways: the PC's break holds
// the line and carries no characters, the device's breaks reach the PC as CE_BREAK. A
// pulled cable loses bytes either way, and line noise can precede what the device sends.
//
// The line has no clock of its own: the device's event loop asks it when the next byte
// reaches the PC (NextDeliveryNs) and has it delivered (DeliverNext); while the PC
// writes, the line brings the device's end up to each byte's arrival and hands it over.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "sim/random.h"
#include "sim/settings.h"

namespace kv70sim {

// What crossed the line; the device's counters include these.
struct LineCounters {
  std::uint64_t bytesToDevice = 0;
  std::uint64_t bytesToPc = 0;
  std::uint64_t bytesLost = 0;  // either way, to a pulled cable
  std::uint64_t bytesGarbled = 0;
  std::uint64_t exchanges = 0;  // PC writes that follow a PC read
};

class SerialLine {
 public:
  // The device's end, as the PC's bytes reach it.
  class DeviceEnd {
   public:
    // Everything the device does on its own before `ns` happens first.
    virtual void CatchUpTo(std::uint64_t ns) = 0;
    // A byte (garbled or not) reached the device's receiver at `ns`.
    virtual void Received(std::uint8_t byte, std::uint64_t ns) = 0;

   protected:
    ~DeviceEnd() = default;
  };

  // Pulls are timed from `originNs` and counted in the PC's exchanges; `random` garbles
  // and makes noise; `counters` is where the line counts.
  SerialLine(const Settings& settings, Random& random, LineCounters& counters,
             std::uint64_t originNs);

  // --- The PC's end.
  // Sends bytes from `ns` at the PC's speed, handing each to `device` as it arrives;
  // returns the time the last one has crossed.
  std::uint64_t PcWrite(const std::uint8_t* data, std::size_t count, std::uint64_t ns,
                        DeviceEnd& device);
  // Bytes that have arrived at the PC and were not yet taken.
  std::size_t PcAvailable() const { return rx_.size() - rxHead_; }
  std::size_t PcTake(std::uint8_t* out, std::size_t max) {
    if (max == 1 && rxHead_ < rx_.size()) {  // the loaders' byte-at-a-time reads
      *out = rx_[rxHead_++];
      return 1;
    }
    return TakeSlow(out, max);
  }
  // Arrival time of the next data byte (not a break) on its way to the PC, if any.
  bool NextPcArrival(std::uint64_t& ns) const;
  // The PC's speed and framing; `eightN1` false garbles everything both ways.
  void PcSetLine(std::uint32_t baud, bool eightN1) {
    pcBaud_ = baud;
    pcEightN1_ = eightN1;
  }
  // Sets or clears the PC's break at `ns`; false when it already stood so.
  bool PcSetBreak(bool on, std::uint64_t ns);
  // When the PC's current (or last) break began.
  std::uint64_t PcBreakStartNs() const { return pcBreakStartNs_; }
  // CE_* flags since the last call (CE_BREAK once per break received).
  std::uint32_t PcTakeErrors();
  void PcPurgeReceived() {
    rx_.clear();
    rxHead_ = 0;
  }
  // A port newly opened: nothing received, no errors pending.
  void PcOpened() {
    PcPurgeReceived();
    errors_ = 0;
    breaksPending_ = 0;
  }
  // Marks a read by the PC: its next write starts a new exchange.
  void PcRead() { readSinceWrite_ = true; }
  std::uint32_t PcBaud() const { return pcBaud_; }

  // --- The device's end.
  // The device's receive and transmit speeds (0: a rate its UART cannot make).
  void SetDeviceSpeeds(std::uint32_t rxBaud, std::uint32_t txBaud) {
    devRxBaud_ = rxBaud;
    devTxBaud_ = txBaud;
  }
  std::uint32_t DeviceRxBaud() const { return devRxBaud_; }
  std::uint32_t DeviceTxBaud() const { return devTxBaud_; }
  // Queues bytes to go out from `readyNs`, or once the transmitter is free.
  void DeviceSend(std::span<const std::uint8_t> bytes, std::uint64_t readyNs);
  // Holds the line in break for `lengthNs` from `ns`, or once the transmitter is free;
  // returns when the break begins.
  std::uint64_t DeviceSendBreak(std::uint64_t ns, std::uint64_t lengthNs);
  // When the device's transmitter has sent everything queued.
  std::uint64_t DeviceTxFreeNs() const { return devTxFreeNs_; }
  // Appends `count` bytes of line noise, none of which passes for a frame start (STX).
  void AppendNoise(std::vector<std::uint8_t>& out, unsigned count);

  // --- The device's event loop.
  // When the next byte or break reaches the PC; UINT64_MAX when none is on its way.
  std::uint64_t NextDeliveryNs() const {
    return outHead_ < out_.size() ? out_[outHead_].ns : UINT64_MAX;
  }
  // Lands that byte or break at the PC's end.
  void DeliverNext();
  // Drops what has been delivered (after a catch-up).
  void Compact();

 private:
  struct InFlight {
    std::uint64_t ns;
    std::uint32_t baud;
    std::uint8_t value;
    bool isBreak;
  };

  std::size_t TakeSlow(std::uint8_t* out, std::size_t max);
  bool Cut(std::uint64_t ns) const;
  std::uint8_t Garble(std::uint8_t byte);

  const Settings& s_;
  Random& random_;
  LineCounters& counters_;
  std::uint64_t originNs_;

  std::uint32_t pcBaud_ = 9600;
  bool pcEightN1_ = true;
  bool pcBreak_ = false;
  std::uint64_t pcBreakStartNs_ = 0;
  std::uint64_t pcTxFreeNs_ = 0;
  std::uint32_t devRxBaud_ = 9600;
  std::uint32_t devTxBaud_ = 9600;
  std::uint64_t devTxFreeNs_ = 0;

  std::vector<InFlight> out_;  // on their way to the PC, in arrival order
  std::size_t outHead_ = 0;
  std::vector<std::uint8_t> rx_;  // arrived at the PC
  std::size_t rxHead_ = 0;
  std::uint32_t errors_ = 0;
  unsigned breaksPending_ = 0;  // reported one per PcTakeErrors
  std::uint64_t exchange_ = 0;
  bool readSinceWrite_ = true;
};

}  // namespace kv70sim
