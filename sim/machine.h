// What the device's programs (the boot ROM and its monitor, the flash monitor) run on and
// write to: the settings, memory and flash, the configuration record, the serial line,
// the source of chance, the state the device is in, its counters and its event log.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/bus.h"
#include "sim/config_record.h"
#include "sim/random.h"
#include "sim/serial_line.h"
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
  Restart,
  BreakSent,
  PcBreak,
  Identified,
  IdentificationRejected,
  FrameIgnored,
  BadFrame,
  Probe,
  RomRead,
  RomWrite,
  RomGo,
  BusError,
  RoutineReturned,
  ProcessorStopped,
  LineSpeed,
  MonitorStarted,
  Request,
  BadRequest,
  MalformedRequest,
  UnknownRequest,
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

// The device's own counts, and the line's (LineCounters).
struct Counters : LineCounters {
  std::uint64_t restarts = 0;
  std::uint64_t reboots = 0;  // reboot commands carried out
  std::uint64_t breaksSent = 0;
  std::uint64_t identifications = 0;
  std::uint64_t probesAnswered = 0;
  std::uint64_t badFrames = 0;  // ROM-monitor frames and requests dropped
  std::uint64_t requests = 0;   // flash-monitor requests taken
  std::uint64_t replies = 0;
  std::uint64_t programRequests = 0;
  std::uint64_t erasePolls = 0;
  std::uint64_t garbageCollections = 0;
};

// The events in the order they happened; the oldest million are kept.
class EventLog {
 public:
  void Add(std::uint64_t ns, EventKind kind, std::uint32_t code = 0, std::uint32_t address = 0,
           std::uint32_t value = 0);
  const std::vector<Event>& Events() const { return events_; }
  std::string Trace() const;  // one line each

 private:
  std::vector<Event> events_;
};

struct Machine {
  // Builds the hardware as the settings describe it, at time `ns` (the origin of pulls).
  Machine(Settings settings, std::uint64_t ns);
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Sends a program's answer to what arrived at `ns`, after the device's turnaround.
  void Answer(std::span<const std::uint8_t> bytes, std::uint64_t ns) {
    line.DeviceSend(bytes, ns + settings.turnaroundUs * 1000ull);
  }
  // Sets the line's speeds from the DUART's clock-select register, as the hardware does.
  void FollowClockSelect(std::uint64_t ns);

  Settings settings;
  Bus bus;
  Record record;
  Random random;
  Counters counters;
  EventLog log;
  SerialLine line;
  DeviceState state = DeviceState::Booting;
};

// Big-endian 32-bit number at `p`, as both monitors carry addresses.
inline std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

}  // namespace kv70sim
