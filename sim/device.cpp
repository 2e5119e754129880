#include "sim/device.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "sim/cpu.h"
#include "sim/monitor_image.h"

namespace kv70sim {

namespace {

constexpr std::uint64_t kNsPerMs = 1000000;
constexpr std::uint64_t kBreakNs = 20 * kNsPerMs;  // how long the boot ROM holds a break

void LoadImage(const std::string& path, const char* key, std::span<std::uint8_t> flash) {
  if (path.empty()) return;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SettingsError(std::string(key) + ": cannot read '" + path + "'");
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw SettingsError(std::string(key) + ": cannot read '" + path + "'");
  if (bytes.size() > flash.size())
    throw SettingsError(std::string(key) + ": '" + path + "' holds " +
                        std::to_string(bytes.size()) + " bytes, more than the flash's " +
                        std::to_string(flash.size()));
  std::memcpy(flash.data(), bytes.data(), bytes.size());
}

void SaveImage(const std::string& path, const char* key, std::span<const std::uint8_t> flash) {
  if (path.empty()) return;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(flash.data()),
            static_cast<std::streamsize>(flash.size()));
  out.close();
  if (!out) throw SettingsError(std::string(key) + ": cannot write '" + path + "'");
}

// A file system that is not blank and not regular, so that a dump shows every block in
// its place: each 32-bit word holds its own address, mixed.
void FillPattern(std::span<std::uint8_t> flash, std::uint32_t base) {
  for (std::size_t i = 0; i + 4 <= flash.size(); i += 4) {
    std::uint32_t x = (base + static_cast<std::uint32_t>(i)) * 2654435761u;
    x ^= x >> 15;
    flash[i] = static_cast<std::uint8_t>(x >> 24);
    flash[i + 1] = static_cast<std::uint8_t>(x >> 16);
    flash[i + 2] = static_cast<std::uint8_t>(x >> 8);
    flash[i + 3] = static_cast<std::uint8_t>(x);
  }
}

}  // namespace

Device::Device(Settings settings, std::uint64_t ns)
    : machine_(std::move(settings), ns), rom_(machine_), monitor_(machine_), nowNs_(ns) {
  const Settings& s = machine_.settings;
  Bus& bus = machine_.bus;
  if (s.fsFill == FsFill::Pattern) FillPattern(bus.FsFlash().Bytes(), kFsFlashBase);
  LoadImage(s.progImage, "prog-image", bus.ProgFlash().Bytes());
  LoadImage(s.fsImage, "fs-image", bus.FsFlash().Bytes());
  Restart(ns);
}

Device::~Device() {
  try {
    SaveOutputs();
  } catch (const SettingsError&) {
    // Nobody is left to tell; kv70sim saves explicitly and reports.
  }
}

void Device::SaveOutputs() {
  SaveImage(machine_.settings.progOut, "prog-out", machine_.bus.ProgFlash().Bytes());
  SaveImage(machine_.settings.fsOut, "fs-out", machine_.bus.FsFlash().Bytes());
}

void Device::Restart(std::uint64_t ns) {
  AdvanceTo(ns);
  Boot(ns, machine_.settings.state);
}

void Device::Boot(std::uint64_t ns, StartState how) {
  const Settings& s = machine_.settings;
  Bus& bus = machine_.bus;
  ++machine_.counters.restarts;
  machine_.log.Add(ns, EventKind::Restart);
  rom_.Restart();
  monitor_.Start();
  restartAtNs_ = UINT64_MAX;
  if (how == StartState::Monitor) {
    bus.ConfigureAsSetUp();
    std::memcpy(bus.MainRam(), kBuiltInMonitor, kBuiltInMonitorSize);
    machine_.state = DeviceState::FlashMonitor;
    breaksLeft_ = 0;
  } else if (how == StartState::Rom) {
    bus.ResetRegisters();
    machine_.state = DeviceState::RomMonitor;
    breaksLeft_ = 0;
  } else {
    bus.ResetRegisters();
    machine_.state = DeviceState::Booting;
    breaksLeft_ = s.breaks;
    nextBreakNs_ = ns + s.bootMs * kNsPerMs;
    if (breaksLeft_ == 0) machine_.state = DeviceState::BootRom;
  }
  machine_.FollowClockSelect(ns);
}

// --- Time ---------------------------------------------------------------------------------

void Device::CatchUp(std::uint64_t ns) {
  for (;;) {
    std::uint64_t timer = NextTimer();
    std::uint64_t delivery = machine_.line.NextDeliveryNs();
    if (std::min(timer, delivery) > ns) break;
    if (delivery <= timer) {
      machine_.line.DeliverNext();
    } else {
      FireTimer(timer);
    }
  }
  machine_.line.Compact();
  nowNs_ = std::max(nowNs_, ns);
}

void Device::FireTimer(std::uint64_t ns) {
  nowNs_ = std::max(nowNs_, ns);
  if (restartAtNs_ <= ns) {
    restartAtNs_ = UINT64_MAX;
    ++machine_.counters.reboots;
    Boot(ns, StartState::Boot);  // the monitor's reboot always lands in the boot ROM
    return;
  }
  // A boot break: the line is held low; the ROM listens from the first one on.
  const std::uint64_t at = machine_.line.DeviceSendBreak(ns, kBreakNs);
  ++machine_.counters.breaksSent;
  machine_.log.Add(at, EventKind::BreakSent, 0, 0, machine_.settings.breaks - breaksLeft_ + 1);
  if (machine_.state == DeviceState::Booting) machine_.state = DeviceState::BootRom;
  --breaksLeft_;
  nextBreakNs_ += machine_.settings.breakIntervalMs * kNsPerMs;
}

// --- The PC's end -----------------------------------------------------------------------------

std::uint64_t Device::PcWrite(const std::uint8_t* data, std::size_t count, std::uint64_t ns) {
  AdvanceTo(ns);
  if (count == 0) return nowNs_;
  return machine_.line.PcWrite(data, count, ns, *this);
}

void Device::PcSetLine(std::uint32_t baud, bool eightN1, std::uint64_t ns) {
  AdvanceTo(ns);
  machine_.line.PcSetLine(baud, eightN1);
}

void Device::PcSetBreak(bool on, std::uint64_t ns) {
  AdvanceTo(ns);
  if (!machine_.line.PcSetBreak(on, ns)) return;
  if (on) {
    // A break is a framing error to every receiver: whatever frame was under way is lost.
    rom_.DropFrame();
    monitor_.DropFrame();
  } else {
    machine_.log.Add(ns, EventKind::PcBreak, 0, 0,
                     static_cast<std::uint32_t>((ns - machine_.line.PcBreakStartNs()) / kNsPerMs));
  }
}

// --- The device's end -------------------------------------------------------------------------

void Device::Received(std::uint8_t byte, std::uint64_t ns) {
  const bool stale = ns - std::min(ns, lastRxNs_) > machine_.settings.frameGapMs * kNsPerMs;
  lastRxNs_ = ns;
  switch (machine_.state) {
    case DeviceState::BootRom:
    case DeviceState::RomMonitor:
      if (stale) rom_.DropFrame();
      if (auto go = rom_.Receive(byte, ns)) StartRoutine(*go, machine_.line.DeviceTxFreeNs());
      break;
    case DeviceState::FlashMonitor:
      if (stale) monitor_.DropFrame();
      if (monitor_.Receive(byte, ns))
        restartAtNs_ = machine_.line.DeviceTxFreeNs() + machine_.settings.resetMs * kNsPerMs;
      break;
    default:
      break;
  }
}

// The processor runs the code a go frame named: the built-in flash monitor when RAM holds
// exactly its image, else whatever the few instructions of a loader's routine do.
void Device::StartRoutine(std::uint32_t address, std::uint64_t ns) {
  Bus& bus = machine_.bus;
  if (address == kMainRamBase && bus.ChipSelectRowOk(2) &&
      std::memcmp(bus.MainRam(), kBuiltInMonitor, kBuiltInMonitorSize) == 0) {
    machine_.state = DeviceState::FlashMonitor;
    monitor_.Start();
    machine_.log.Add(ns, EventKind::MonitorStarted, 0, address);
    return;
  }
  switch (RunRoutine(bus, address)) {
    case RunResult::Returned:
      machine_.log.Add(ns, EventKind::RoutineReturned, 0, address);
      machine_.FollowClockSelect(ns);
      break;
    case RunResult::Looping:
    case RunResult::Crashed:
      machine_.log.Add(ns, EventKind::ProcessorStopped, 0, address);
      machine_.FollowClockSelect(ns);
      machine_.state = DeviceState::Halted;
      break;
  }
}

}  // namespace kv70sim
