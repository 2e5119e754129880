// The simulated KV70: boot ROM, ROM monitor, processor, memory and flash, the flash
// monitor, the serial line between it and the PC, and the faults of the settings.
//
// A discrete-event model with no clock of its own: every call carries the time of the
// device's time line (nanoseconds) and the device first catches up to it (delivers the
// bytes whose wire time has passed, fires timed events such as boot breaks), then acts.
// Each byte takes 10 bits at the line speed in force at its sender; a byte sent at a
// speed its receiver does not run at arrives garbled.
//
// Not thread-safe: whoever shares a device across threads holds Mutex() around calls.
#pragma once
#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "sim/bus.h"
#include "sim/config_record.h"
#include "sim/monitor_frames.h"
#include "sim/rom_frames.h"
#include "sim/settings.h"

namespace kv70sim {

enum class DeviceState {
  Resetting,     // between a reboot reply and the restart: deaf
  Booting,       // restarted, before the first break: deaf
  BootRom,       // waiting for an identification frame
  RomMonitor,    // identified: probes and ROM-monitor frames
  FlashMonitor,  // the uploaded monitor runs
  Halted,        // the processor stopped or idles; silent until restarted
};
const char* StateName(DeviceState state);

enum class EventKind {
  Restart, BreakSent, PcBreak, Identified, IdentificationRejected, FrameIgnored, BadFrame,
  Probe, RomRead, RomWrite, RomGo, BusError, RoutineReturned, ProcessorStopped, LineSpeed,
  MonitorStarted, Request, BadRequest, MalformedRequest, UnknownRequest,
};

// One thing the device did or saw. `code`, `address` and `value` depend on the kind:
// Request: code = command, value = first reply byte (or 0x100 for no data); RomRead /
// RomWrite / RomGo / BusError: address and value = count; LineSpeed: value = bit/s.
struct Event {
  std::uint64_t us = 0;
  EventKind kind = EventKind::Restart;
  std::uint32_t code = 0;
  std::uint32_t address = 0;
  std::uint32_t value = 0;
};
std::string Describe(const Event& event);

struct Counters {
  std::uint64_t restarts = 0;
  std::uint64_t reboots = 0;            // reboot commands carried out
  std::uint64_t breaksSent = 0;
  std::uint64_t identifications = 0;
  std::uint64_t probesAnswered = 0;
  std::uint64_t badFrames = 0;          // ROM-monitor frames and requests dropped
  std::uint64_t requests = 0;           // flash-monitor requests taken
  std::uint64_t replies = 0;
  std::uint64_t programRequests = 0;
  std::uint64_t erasePolls = 0;
  std::uint64_t garbageCollections = 0;
  std::uint64_t bytesToDevice = 0;
  std::uint64_t bytesToPc = 0;
  std::uint64_t bytesLost = 0;          // either way, to a pulled cable
  std::uint64_t bytesGarbled = 0;
  std::uint64_t exchanges = 0;
};

class Device {
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
  std::size_t PcAvailable() const { return rx_.size() - rxHead_; }
  std::size_t PcTake(std::uint8_t* out, std::size_t max) {
    if (max == 1 && rxHead_ < rx_.size()) {   // the loaders' byte-at-a-time reads
      *out = rx_[rxHead_++];
      return 1;
    }
    return TakeSlow(out, max);
  }
  // Arrival time of the next byte still on its way to the PC, if any.
  bool NextArrival(std::uint64_t& ns) const;
  // Time of the next thing the device will do on its own (a byte reaching the PC, a
  // break, a restart); UINT64_MAX when it only waits.
  std::uint64_t NextEventNs() const {
    std::uint64_t next = restartAtNs_;
    if (breaksLeft_ > 0 && nextBreakNs_ < next) next = nextBreakNs_;
    if (outHead_ < out_.size() && out_[outHead_].ns < next) next = out_[outHead_].ns;
    return next;
  }
  // The PC's line settings; `eightN1` false garbles everything both ways.
  void PcSetLine(std::uint32_t baud, bool eightN1, std::uint64_t ns);
  void PcSetBreak(bool on, std::uint64_t ns);
  // CE_* flags since the last call (CE_BREAK once per break received).
  std::uint32_t PcTakeErrors();
  void PcPurgeReceived() { rx_.clear(); rxHead_ = 0; }
  // A port newly opened: nothing received, no errors pending.
  void PcOpened() {
    PcPurgeReceived();
    lineErrors_ = 0;
    breaksPending_ = 0;
  }
  // Marks a read by the PC: its next write starts a new exchange.
  void PcRead() { readSinceWrite_ = true; }

  // --- Inspection.
  std::mutex& Mutex() { return mutex_; }
  const Settings& GetSettings() const { return s_; }
  DeviceState State() const { return state_; }
  const Counters& GetCounters() const { return counters_; }
  const std::vector<Event>& Events() const { return events_; }
  std::string Trace() const;   // the events, one line each
  const Record& GetRecord() const { return record_; }
  Bus& GetBus() { return bus_; }
  std::span<const std::uint8_t> ProgFlash() const { return bus_.ProgFlash().Bytes(); }
  std::span<const std::uint8_t> FsFlash() const { return bus_.FsFlash().Bytes(); }
  std::uint32_t DeviceBaud() const { return devTxBaud_; }
  std::uint32_t PcBaud() const { return pcBaud_; }
  bool IdentifiedReadOnly() const { return identifiedReadOnly_; }
  std::uint64_t NowNs() const { return nowNs_; }

  // Writes prog-out and fs-out if set; throws SettingsError naming a file that cannot
  // be written. The destructor does this too, and swallows the failure.
  void SaveOutputs();

 private:
  struct InFlight {
    std::uint64_t ns;
    std::uint32_t baud;
    std::uint8_t value;
    bool isBreak;
  };
  enum class Erase { None, Busy, Done, Failed };

  void Boot(std::uint64_t ns, StartState how);
  void CatchUp(std::uint64_t ns);
  std::size_t TakeSlow(std::uint8_t* out, std::size_t max);
  std::uint64_t NextTimer() const;
  void FireTimer(std::uint64_t ns);
  void Deliver(const InFlight& byte);
  bool LineCut(std::uint64_t ns) const;
  std::uint8_t Garble(std::uint8_t byte);
  std::uint64_t Rand();
  void Log(std::uint64_t ns, EventKind kind, std::uint32_t code = 0, std::uint32_t address = 0,
           std::uint32_t value = 0);

  void Receive(std::uint8_t byte, std::uint64_t ns, bool matches);
  void Send(std::span<const std::uint8_t> bytes, std::uint64_t readyNs);
  void FollowClockSelect(std::uint64_t ns);

  void OnRomByte(std::uint8_t byte, std::uint64_t ns);
  void OnRomFrame(std::uint64_t ns);
  void StartRoutine(std::uint32_t address, std::uint64_t ns);

  void OnMonitorByte(std::uint8_t byte, std::uint64_t ns);
  void OnRequest(std::uint64_t ns);
  void Reply(std::uint8_t code, std::span<const std::uint8_t> data, std::uint64_t ns);
  bool ProgramRefused() const;
  std::uint8_t EraseSectors(std::span<const std::uint8_t> data);
  std::uint8_t EraseStatus();

  Settings s_;
  std::mutex mutex_;
  Bus bus_;
  Record record_;
  DeviceState state_ = DeviceState::Booting;
  RomFrameReader rom_;
  MonitorRequestReader monitor_;
  std::uint64_t rng_;
  bool identifiedReadOnly_ = false;

  std::uint64_t nowNs_ = 0;
  std::uint64_t originNs_ = 0;

  // The line.
  std::uint32_t pcBaud_ = 9600;
  bool pcEightN1_ = true;
  bool pcBreak_ = false;
  std::uint64_t pcBreakStartNs_ = 0;
  std::uint64_t pcTxFreeNs_ = 0;
  std::uint32_t devRxBaud_ = 9600;
  std::uint32_t devTxBaud_ = 9600;
  std::uint64_t devTxFreeNs_ = 0;
  std::uint64_t lastRxNs_ = 0;
  std::vector<InFlight> out_;
  std::size_t outHead_ = 0;
  std::vector<std::uint8_t> rx_;
  std::size_t rxHead_ = 0;
  std::uint32_t lineErrors_ = 0;
  unsigned breaksPending_ = 0;          // reported one per ClearError
  std::uint64_t exchange_ = 0;
  bool readSinceWrite_ = true;

  // Timed events.
  unsigned breaksLeft_ = 0;
  std::uint64_t nextBreakNs_ = 0;
  std::uint64_t restartAtNs_ = UINT64_MAX;

  // Flash monitor.
  Erase erase_ = Erase::None;
  std::uint64_t erasePollsLeft_ = 0;
  std::vector<Sector> sectors_;
  std::vector<std::uint8_t> reply_;    // scratch, reused for every reply
  std::vector<std::uint8_t> data_;     // scratch for reply data

  Counters counters_;
  std::vector<Event> events_;
};

}  // namespace kv70sim
