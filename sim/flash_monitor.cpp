#include "sim/flash_monitor.h"

#include <algorithm>

namespace kv70sim {

namespace {

constexpr std::uint32_t kSoftwareWordAddress = 0x02400420;
constexpr std::uint32_t kNoReplyData = 0x100;

// Status bytes of the flash monitor's replies.
constexpr std::uint8_t kStatusBusy = 0x00;
constexpr std::uint8_t kStatusOk = 0x01;
constexpr std::uint8_t kStatusFailed = 0x02;
constexpr std::uint8_t kProgramFailed = 0x00;
constexpr std::uint8_t kProgramOk = 0x01;

}  // namespace

// Request data -> reply data, per command (frames in monitor_frames.h; numbers big-endian).
const FlashMonitor::Command FlashMonitor::kCommands[] = {
    // 00 ping: -> nothing
    {kMonPing, Payload::Empty, &FlashMonitor::Ping},
    // 01 erase: N(1) sector-start(4) x N -> 01 erasing | 02 refused (not a sector start,
    // N = 0, flash not selected)
    {kMonErase, Payload::SectorList, &FlashMonitor::EraseSectors},
    // 02 erase status: -> 00 busy | 01 finished | 02 failed or nothing started
    {kMonEraseStatus, Payload::Empty, &FlashMonitor::EraseStatus},
    // 03 program: address(4) bytes(1..) -> 01 programmed | 00 refused
    {kMonProgram, Payload::AddressAndData, &FlashMonitor::Program},
    // 04 reboot: -> nothing; the device restarts into the boot ROM reset-ms after the reply
    {kMonReboot, Payload::Empty, &FlashMonitor::Reboot},
    // 05 read: address(4) count(2) -> count bytes | nothing (unreadable, count > 1024)
    {kMonRead, Payload::AddressAndCount, &FlashMonitor::Read},
    // 06 read configuration: -> the configuration record, config-len bytes
    {kMonReadConfig, Payload::Empty, &FlashMonitor::ReadConfig},
    // 07 collect garbage: -> 01
    {kMonCollectGarbage, Payload::Empty, &FlashMonitor::CollectGarbage},
    // 0A program done: -> 01 software word taken into the record | 00 busy (erase under
    // way, flash not selected)
    {kMonProgramDone, Payload::Empty, &FlashMonitor::ProgramDone},
    // 0D erase file system: -> 01 erased | 02 flash not selected
    {kMonEraseFileSystem, Payload::Empty, &FlashMonitor::EraseFileSystem},
};

FlashMonitor::FlashMonitor(Machine& machine)
    : machine_(machine), sectors_(SectorTable(machine.settings.flashType)) {
  reply_.reserve(kMonitorMaxData);
  frame_.reserve(2 * kMonitorMaxData + 64);
}

bool FlashMonitor::Fits(Payload payload, std::span<const std::uint8_t> d) {
  switch (payload) {
    case Payload::Empty:
      return d.empty();
    case Payload::SectorList:
      return !d.empty() && d.size() == 1 + 4u * d[0];
    case Payload::AddressAndData:
      return d.size() >= 5;
    case Payload::AddressAndCount:
      return d.size() == 6;
  }
  return false;
}

bool FlashMonitor::Receive(std::uint8_t byte, std::uint64_t ns) {
  switch (reader_.Feed(byte)) {
    case MonitorRequestReader::Result::More:
      break;
    case MonitorRequestReader::Result::Request:
      return OnRequest(ns);
    case MonitorRequestReader::Result::BadFrame:
      ++machine_.counters.badFrames;
      machine_.log.Add(ns, EventKind::BadRequest, reader_.Code());
      break;
  }
  return false;
}

bool FlashMonitor::OnRequest(std::uint64_t ns) {
  const std::uint8_t code = reader_.Code();
  const auto d = reader_.Data();
  ++machine_.counters.requests;
  const Command* command = std::find_if(std::begin(kCommands), std::end(kCommands),
                                        [code](const Command& c) { return c.code == code; });
  if (command == std::end(kCommands)) {
    machine_.log.Add(ns, EventKind::UnknownRequest, code);
    return false;
  }
  if (!Fits(command->payload, d)) {
    ++machine_.counters.badFrames;
    machine_.log.Add(ns, EventKind::MalformedRequest, code, 0,
                     static_cast<std::uint32_t>(d.size()));
    return false;
  }
  if (machine_.settings.monitorSilent) {
    machine_.log.Add(ns, EventKind::Request, code, 0, kNoReplyData);
    return false;
  }
  reply_.clear();
  rebooting_ = false;
  (this->*command->handler)(d);
  machine_.log.Add(ns, EventKind::Request, code, d.size() >= 4 ? Be32(d.data()) : 0,
                   reply_.empty() ? kNoReplyData : reply_[0]);
  Reply(code, ns);
  return rebooting_;
}

void FlashMonitor::Reply(std::uint8_t code, std::uint64_t ns) {
  const Settings& s = machine_.settings;
  const std::uint64_t number = ++machine_.counters.replies;
  frame_.clear();
  machine_.line.AppendNoise(frame_, s.noise);
  if (s.foreign) {
    static constexpr std::uint8_t kForeignData[] = {0x01, 0x00};
    AppendReply(frame_, static_cast<std::uint8_t>(code ^ 0x40), kForeignData);
  }
  const std::size_t frameStart = frame_.size();
  AppendReply(frame_, code, reply_);
  bool corrupt = std::any_of(s.badChecksum.begin(), s.badChecksum.end(),
                             [number](const Range& r) { return r.Contains(number); });
  if (s.badChecksumRate > 0.0 && machine_.random.Chance(s.badChecksumRate)) corrupt = true;
  if (corrupt) frame_[frameStart + 4 + reply_.size() + 1] ^= 0x5A;  // low checksum byte
  // Longer than the PC waits for a first byte: the reply comes while it has given up.
  constexpr std::uint64_t kLateReplyNs = 1500ull * 1000 * 1000;
  const bool late = std::any_of(s.lateReply.begin(), s.lateReply.end(),
                                [number](const Range& r) { return r.Contains(number); });
  machine_.Answer(frame_, late ? ns + kLateReplyNs : ns);
}

bool FlashMonitor::ProgramRefused() const {
  const Settings& s = machine_.settings;
  if (s.programRefuseAll) return true;
  for (const auto& r : s.programRefuse)
    if (r.Contains(machine_.counters.programRequests)) return true;
  return false;
}

// --- The commands ---------------------------------------------------------------------------

void FlashMonitor::Ping(std::span<const std::uint8_t>) {}

void FlashMonitor::EraseSectors(std::span<const std::uint8_t> d) {
  Bus& bus = machine_.bus;
  const std::size_t n = d[0];
  bool ok = bus.FlashSelected() && n > 0;
  for (std::size_t i = 0; ok && i < n; ++i) {
    std::uint32_t a = Be32(&d[1 + 4 * i]);
    ok = std::any_of(sectors_.begin(), sectors_.end(),
                     [a](const Sector& s) { return s.start == a; });
  }
  if (!ok) {
    erase_ = Erase::Failed;
    reply_.push_back(kStatusFailed);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) {
    std::uint32_t a = Be32(&d[1 + 4 * i]);
    for (const auto& s : sectors_)
      if (s.start == a) bus.ProgFlash().Erase(s.start, s.size);
  }
  erase_ = Erase::Busy;
  erasePollsLeft_ = machine_.settings.eraseBusy.value_or(0);
  reply_.push_back(kStatusOk);
}

void FlashMonitor::EraseStatus(std::span<const std::uint8_t>) {
  ++machine_.counters.erasePolls;
  std::uint8_t status = kStatusFailed;
  switch (erase_) {
    case Erase::Busy:
      if (!machine_.settings.eraseBusy) {
        status = kStatusBusy;
      } else if (erasePollsLeft_ > 0) {
        --erasePollsLeft_;
        status = kStatusBusy;
      } else {
        erase_ = Erase::Done;
        status = kStatusOk;
      }
      break;
    case Erase::Done:
      status = kStatusOk;
      break;
    case Erase::None:  // nothing was started, so nothing can finish
    case Erase::Failed:
      status = kStatusFailed;
      break;
  }
  reply_.push_back(status);
}

void FlashMonitor::Program(std::span<const std::uint8_t> d) {
  Bus& bus = machine_.bus;
  ++machine_.counters.programRequests;
  const std::uint32_t address = Be32(d.data());
  const auto bytes = d.subspan(4);
  NorFlash* flash = nullptr;
  if (bus.ProgFlash().Covers(address, bytes.size()))
    flash = &bus.ProgFlash();
  else if (bus.FsFlash().Size() && bus.FsFlash().Covers(address, bytes.size()))
    flash = &bus.FsFlash();
  bool ok = flash && bus.FlashSelected() && erase_ != Erase::Busy && !ProgramRefused() &&
            flash->Program(address, bytes);
  reply_.push_back(ok ? kProgramOk : kProgramFailed);
}

void FlashMonitor::Reboot(std::span<const std::uint8_t>) {
  machine_.state = DeviceState::Resetting;
  rebooting_ = true;
}

void FlashMonitor::Read(std::span<const std::uint8_t> d) {
  const std::uint32_t address = Be32(d.data());
  const std::size_t count = (std::size_t{d[4]} << 8) | d[5];
  // Unreadable or over-long: an empty reply, so that the loader learns at once.
  if (count <= kMonitorMaxData) {
    reply_.resize(count);
    if (!machine_.bus.Read(address, reply_.data(), count)) reply_.clear();
  }
}

void FlashMonitor::ReadConfig(std::span<const std::uint8_t>) {
  reply_.assign(machine_.record.begin(), machine_.record.end());
  reply_.resize(machine_.settings.configLen, 0x00);
}

void FlashMonitor::CollectGarbage(std::span<const std::uint8_t>) {
  ++machine_.counters.garbageCollections;
  reply_.push_back(kStatusOk);
}

void FlashMonitor::ProgramDone(std::span<const std::uint8_t>) {
  Bus& bus = machine_.bus;
  if (erase_ == Erase::Busy || !bus.FlashSelected()) {
    reply_.push_back(kStatusBusy);
    return;
  }
  ApplySoftwareWord(machine_.record, bus.ProgFlash().At(kSoftwareWordAddress));
  reply_.push_back(kStatusOk);
}

void FlashMonitor::EraseFileSystem(std::span<const std::uint8_t>) {
  Bus& bus = machine_.bus;
  if (bus.FlashSelected()) bus.FsFlash().EraseAll();
  reply_.push_back(bus.FlashSelected() ? kStatusOk : kStatusFailed);
}

}  // namespace kv70sim
