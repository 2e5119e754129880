#include "sim/boot_rom.h"

#include <cstring>
#include <span>

namespace kv70sim {

namespace {

// The two texts a loader identifies itself with; which one arrived tells whether the
// loader means to change the device.
constexpr char kReadOnlyText[] =
    "PRODUCT,ZELDLOAD;PORT,0,9600,9600,8,1,N,T;VERSION,5.03,1/17/97,1.0,1/17/97;COMM,NMEA";
constexpr char kUpgradeText[] =
    "PRODUCT,ZELDLOAD;PORT,0,9600,9600,8,1,N,T;VERSION,1.03,1/17/97,1.0,1/17/97;COMM,NMEA";
static_assert(sizeof kReadOnlyText - 1 == kRomIdentifyLength);
static_assert(sizeof kUpgradeText - 1 == kRomIdentifyLength);

}  // namespace

std::optional<std::uint32_t> BootRom::Receive(std::uint8_t byte, std::uint64_t ns) {
  switch (reader_.Feed(byte)) {
    case RomFrameReader::Result::More:
      break;
    case RomFrameReader::Result::Probe:
      if (machine_.state != DeviceState::RomMonitor) {
        machine_.log.Add(ns, EventKind::FrameIgnored, 0x05);
        break;
      }
      ++machine_.counters.probesAnswered;
      machine_.log.Add(ns, EventKind::Probe);
      machine_.Answer(std::span(&kRomAck, 1), ns);
      break;
    case RomFrameReader::Result::Frame:
      return OnFrame(ns);
    case RomFrameReader::Result::BadFrame:
      ++machine_.counters.badFrames;
      machine_.log.Add(ns, EventKind::BadFrame, reader_.Type());
      break;
  }
  return std::nullopt;
}

std::optional<std::uint32_t> BootRom::OnFrame(std::uint64_t ns) {
  const std::uint8_t type = reader_.Type();
  const std::uint8_t* p = reader_.Payload();

  if (type == kRomIdentify) {
    bool readOnly = std::memcmp(p, kReadOnlyText, kRomIdentifyLength) == 0;
    bool upgrade = std::memcmp(p, kUpgradeText, kRomIdentifyLength) == 0;
    if (!readOnly && !upgrade) {
      machine_.log.Add(ns, EventKind::IdentificationRejected);
      return std::nullopt;
    }
    identifiedReadOnly_ = readOnly;
    ++machine_.counters.identifications;
    machine_.state = DeviceState::RomMonitor;
    machine_.log.Add(ns, EventKind::Identified, 0, 0, readOnly ? 1 : 0);
    return std::nullopt;
  }
  if (machine_.state != DeviceState::RomMonitor) {
    machine_.log.Add(ns, EventKind::FrameIgnored, type);
    return std::nullopt;
  }

  const std::uint32_t address = Be32(p);
  switch (type) {
    case kRomRead: {
      const std::uint8_t n = p[4];
      std::uint8_t frame[6 + kRomMaxReadCount] = {0x02, 0x00, kRomReadReply, n};
      if (n > kRomMaxReadCount || !machine_.bus.Read(address, frame + 4, n)) {
        machine_.log.Add(ns, EventKind::BusError, type, address, n);
        return std::nullopt;
      }
      std::uint8_t sum = static_cast<std::uint8_t>(kRomReadReply + n);
      for (int i = 0; i < n; ++i) sum = static_cast<std::uint8_t>(sum + frame[4 + i]);
      frame[4 + n] = sum;
      frame[5 + n] = 0x03;
      machine_.log.Add(ns, EventKind::RomRead, type, address, n);
      machine_.Answer(std::span(frame, 6u + n), ns);
      return std::nullopt;
    }
    case kRomWrite: {
      const std::size_t n = reader_.Length() - 4u;
      if (!machine_.bus.Write(address, p + 4, n)) {
        machine_.log.Add(ns, EventKind::BusError, type, address, static_cast<std::uint32_t>(n));
        return std::nullopt;
      }
      machine_.log.Add(ns, EventKind::RomWrite, type, address, static_cast<std::uint32_t>(n));
      machine_.FollowClockSelect(ns);  // the ack goes out at the speed just written
      machine_.Answer(std::span(&kRomAck, 1), ns);
      return std::nullopt;
    }
    case kRomGo:
      machine_.log.Add(ns, EventKind::RomGo, type, address);
      machine_.Answer(std::span(&kRomAck, 1), ns);
      return address;
    default:
      return std::nullopt;
  }
}

}  // namespace kv70sim
