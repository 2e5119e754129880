// The simulated KV70: boot ROM, ROM monitor, processor, memory and flash, the flash
// monitor, the serial line between it and the PC, and the faults of the settings. This
// class ties them together: it runs the time line, restarts the device, sends the boot
// ROM's breaks and passes each byte the line brings to the program that runs. The line
// is SerialLine (serial_line.h), the programs BootRom and FlashMonitor.
//
// A discrete-event model with no clock of its own: every call carries the time of the
// device's time line (nanoseconds) and the device first catches up to it (delivers the
// bytes whose wire time has passed, fires timed events such as boot breaks), then acts.
//
// Not thread-safe: whoever shares a device across threads holds Mutex() around calls.
#pragma once
#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "sim/boot_rom.h"
#include "sim/flash_monitor.h"
#include "sim/machine.h"
#include "sim/serial_line.h"
#include "sim/settings.h"

namespace kv70sim {

class Device final : private SerialLine::DeviceEnd {
 public:
  // Builds the device at time `ns` (the origin of pull-ms) and starts it as the settings
  // say. Throws SettingsError when an image file cannot be read or does not fit.
  Device(Settings settings, std::uint64_t ns);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Restarts the device at `ns` as `state` says: into the boot ROM, or with a flash
  // monitor left running.
  void Restart(std::uint64_t ns);

  // --- The PC's end of the line.
  void AdvanceTo(std::uint64_t ns) {
    if (ns < NextEventNs()) {
      if (ns > nowNs_) nowNs_ = ns;
      return;
    }
    CatchUp(ns);
  }
  // Sends bytes from `ns` at the PC's line speed; returns the time the last one has
  // crossed the line (the device has acted on them by then).
  std::uint64_t PcWrite(const std::uint8_t* data, std::size_t count, std::uint64_t ns);
  // Bytes that have arrived at the PC and were not yet taken.
  std::size_t PcAvailable() const { return machine_.line.PcAvailable(); }
  std::size_t PcTake(std::uint8_t* out, std::size_t max) { return machine_.line.PcTake(out, max); }
  // Arrival time of the next byte still on its way to the PC, if any.
  bool NextArrival(std::uint64_t& ns) const { return machine_.line.NextPcArrival(ns); }
  // Time of the next thing the device will do on its own (a byte reaching the PC, a
  // break, a restart); UINT64_MAX when it only waits.
  std::uint64_t NextEventNs() const {
    std::uint64_t next = NextTimer();
    std::uint64_t delivery = machine_.line.NextDeliveryNs();
    return delivery < next ? delivery : next;
  }
  // The PC's line settings; `eightN1` false garbles everything both ways.
  void PcSetLine(std::uint32_t baud, bool eightN1, std::uint64_t ns);
  void PcSetBreak(bool on, std::uint64_t ns);
  // CE_* flags since the last call (CE_BREAK once per break received).
  std::uint32_t PcTakeErrors() { return machine_.line.PcTakeErrors(); }
  void PcPurgeReceived() { machine_.line.PcPurgeReceived(); }
  // A port newly opened: nothing received, no errors pending.
  void PcOpened() { machine_.line.PcOpened(); }
  // Marks a read by the PC: its next write starts a new exchange.
  void PcRead() { machine_.line.PcRead(); }

  // --- Inspection.
  std::mutex& Mutex() { return mutex_; }
  const Settings& GetSettings() const { return machine_.settings; }
  DeviceState State() const { return machine_.state; }
  const Counters& GetCounters() const { return machine_.counters; }
  const std::vector<Event>& Events() const { return machine_.log.Events(); }
  std::string Trace() const { return machine_.log.Trace(); }  // the events, one line each
  const Record& GetRecord() const { return machine_.record; }
  Bus& GetBus() { return machine_.bus; }
  std::span<const std::uint8_t> ProgFlash() const { return machine_.bus.ProgFlash().Bytes(); }
  std::span<const std::uint8_t> FsFlash() const { return machine_.bus.FsFlash().Bytes(); }
  std::uint32_t DeviceBaud() const { return machine_.line.DeviceTxBaud(); }
  std::uint32_t PcBaud() const { return machine_.line.PcBaud(); }
  bool IdentifiedReadOnly() const { return rom_.IdentifiedReadOnly(); }
  std::uint64_t NowNs() const { return nowNs_; }

  // Writes prog-out and fs-out if set; throws SettingsError naming a file that cannot
  // be written. The destructor does this too, and swallows the failure.
  void SaveOutputs();

 private:
  void Boot(std::uint64_t ns, StartState how);
  void CatchUp(std::uint64_t ns);
  std::uint64_t NextTimer() const {
    return breaksLeft_ > 0 && nextBreakNs_ < restartAtNs_ ? nextBreakNs_ : restartAtNs_;
  }
  void FireTimer(std::uint64_t ns);
  void StartRoutine(std::uint32_t address, std::uint64_t ns);

  // SerialLine::DeviceEnd
  void CatchUpTo(std::uint64_t ns) override { AdvanceTo(ns); }
  void Received(std::uint8_t byte, std::uint64_t ns) override;

  Machine machine_;
  BootRom rom_;
  FlashMonitor monitor_;
  std::mutex mutex_;
  std::uint64_t nowNs_ = 0;
  std::uint64_t lastRxNs_ = 0;  // when the last byte reached the device

  // Timed events.
  unsigned breaksLeft_ = 0;
  std::uint64_t nextBreakNs_ = 0;
  std::uint64_t restartAtNs_ = UINT64_MAX;
};

}  // namespace kv70sim
