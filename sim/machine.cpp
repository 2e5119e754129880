#include "sim/machine.h"

#include <cstdio>

namespace kv70sim {

namespace {

constexpr std::size_t kMaxEvents = 1 << 20;

}  // namespace

const char* StateName(DeviceState state) {
  switch (state) {
    case DeviceState::Resetting:
      return "resetting";
    case DeviceState::Booting:
      return "booting";
    case DeviceState::BootRom:
      return "boot ROM";
    case DeviceState::RomMonitor:
      return "ROM monitor";
    case DeviceState::FlashMonitor:
      return "flash monitor";
    case DeviceState::Halted:
      return "halted";
  }
  return "?";
}

std::string Describe(const Event& e) {
  static const char* const kNames[] = {
      "restart",
      "break sent",
      "PC break",
      "identified",
      "identification rejected",
      "frame ignored",
      "bad frame",
      "probe",
      "ROM read",
      "ROM write",
      "ROM go",
      "bus error",
      "routine returned",
      "processor stopped",
      "line speed",
      "monitor started",
      "request",
      "bad request",
      "malformed request",
      "unknown request",
  };
  char text[160];
  std::snprintf(text, sizeof text, "%10llu.%03llu ms  %s code=0x%02X address=0x%08X value=%u",
                static_cast<unsigned long long>(e.us / 1000),
                static_cast<unsigned long long>(e.us % 1000), kNames[static_cast<int>(e.kind)],
                e.code, e.address, e.value);
  return text;
}

void EventLog::Add(std::uint64_t ns, EventKind kind, std::uint32_t code, std::uint32_t address,
                   std::uint32_t value) {
  if (events_.size() < kMaxEvents) events_.push_back({ns / 1000, kind, code, address, value});
}

std::string EventLog::Trace() const {
  std::string text;
  for (const auto& e : events_) text += Describe(e) + "\n";
  return text;
}

Machine::Machine(Settings s, std::uint64_t ns)
    : settings(std::move(s)),
      bus(settings.fsMb),
      record(BuildRecord(settings)),
      random(settings.seed),
      line(settings, random, counters, ns) {}

void Machine::FollowClockSelect(std::uint64_t ns) {
  std::uint8_t csr = bus.ClockSelectA();
  std::uint32_t rx = ClockSelectBaud(csr >> 4), tx = ClockSelectBaud(csr & 0x0F);
  if (rx != line.DeviceRxBaud() || tx != line.DeviceTxBaud())
    log.Add(ns, EventKind::LineSpeed, csr, 0, tx);
  line.SetDeviceSpeeds(rx, tx);
}

}  // namespace kv70sim
