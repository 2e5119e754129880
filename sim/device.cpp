#include "sim/device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/comm_port.h"
#include "sim/cpu.h"
#include "sim/monitor_image.h"

namespace kv70sim {

namespace {

constexpr std::uint64_t kNsPerMs = 1000000;
constexpr std::uint64_t kBitsPerByte = 10;         // start, 8 data, stop
constexpr std::uint64_t kBreakNs = 20 * kNsPerMs;  // how long the boot ROM holds a break
constexpr std::size_t kMaxEvents = 1 << 20;
constexpr std::uint32_t kSoftwareWordAddress = 0x02400420;
constexpr std::uint32_t kNoReplyData = 0x100;

// The two texts a loader identifies itself with; which one arrived tells whether the
// loader means to change the device.
constexpr char kReadOnlyText[] =
    "PRODUCT,ZELDLOAD;PORT,0,9600,9600,8,1,N,T;VERSION,5.03,1/17/97,1.0,1/17/97;COMM,NMEA";
constexpr char kUpgradeText[] =
    "PRODUCT,ZELDLOAD;PORT,0,9600,9600,8,1,N,T;VERSION,1.03,1/17/97,1.0,1/17/97;COMM,NMEA";
static_assert(sizeof kReadOnlyText - 1 == kRomIdentifyLength);
static_assert(sizeof kUpgradeText - 1 == kRomIdentifyLength);

// Reply data of the flash monitor.
constexpr std::uint8_t kStatusBusy = 0x00;
constexpr std::uint8_t kStatusOk = 0x01;
constexpr std::uint8_t kStatusFailed = 0x02;
constexpr std::uint8_t kProgramFailed = 0x00;
constexpr std::uint8_t kProgramOk = 0x01;

std::uint64_t ByteNs(std::uint32_t baud) {
  if (baud == 0) baud = 9600;   // an unusable rate still occupies the line
  return kBitsPerByte * 1000000000ull / baud;
}

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

void LoadImage(const std::string& path, const char* key, std::span<std::uint8_t> flash) {
  if (path.empty()) return;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SettingsError(std::string(key) + ": cannot read '" + path + "'");
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw SettingsError(std::string(key) + ": cannot read '" + path + "'");
  if (bytes.size() > flash.size())
    throw SettingsError(std::string(key) + ": '" + path + "' holds " + std::to_string(bytes.size()) +
                        " bytes, more than the flash's " + std::to_string(flash.size()));
  std::memcpy(flash.data(), bytes.data(), bytes.size());
}

void SaveImage(const std::string& path, const char* key, std::span<const std::uint8_t> flash) {
  if (path.empty()) return;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
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

const char* StateName(DeviceState state) {
  switch (state) {
    case DeviceState::Resetting: return "resetting";
    case DeviceState::Booting: return "booting";
    case DeviceState::BootRom: return "boot ROM";
    case DeviceState::RomMonitor: return "ROM monitor";
    case DeviceState::FlashMonitor: return "flash monitor";
    case DeviceState::Halted: return "halted";
  }
  return "?";
}

std::string Describe(const Event& e) {
  static const char* const kNames[] = {
      "restart", "break sent", "PC break", "identified", "identification rejected",
      "frame ignored", "bad frame", "probe", "ROM read", "ROM write", "ROM go", "bus error",
      "routine returned", "processor stopped", "line speed", "monitor started", "request",
      "bad request", "malformed request", "unknown request",
  };
  char text[160];
  std::snprintf(text, sizeof text, "%10llu.%03llu ms  %s code=0x%02X address=0x%08X value=%u",
                static_cast<unsigned long long>(e.us / 1000), static_cast<unsigned long long>(e.us % 1000),
                kNames[static_cast<int>(e.kind)], e.code, e.address, e.value);
  return text;
}

Device::Device(Settings settings, std::uint64_t ns)
    : s_(std::move(settings)),
      bus_(s_.fsMb),
      record_(BuildRecord(s_)),
      rng_(s_.seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull),
      nowNs_(ns),
      originNs_(ns),
      sectors_(SectorTable(s_.flashType)) {
  if (s_.fsFill == FsFill::Pattern) FillPattern(bus_.FsFlash().Bytes(), kFsFlashBase);
  LoadImage(s_.progImage, "prog-image", bus_.ProgFlash().Bytes());
  LoadImage(s_.fsImage, "fs-image", bus_.FsFlash().Bytes());
  reply_.reserve(2 * kMonitorMaxData + 64);
  data_.reserve(kMonitorMaxData);
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
  SaveImage(s_.progOut, "prog-out", bus_.ProgFlash().Bytes());
  SaveImage(s_.fsOut, "fs-out", bus_.FsFlash().Bytes());
}

void Device::Log(std::uint64_t ns, EventKind kind, std::uint32_t code, std::uint32_t address,
                 std::uint32_t value) {
  if (events_.size() < kMaxEvents) events_.push_back({ns / 1000, kind, code, address, value});
}

std::string Device::Trace() const {
  std::string text;
  for (const auto& e : events_) text += Describe(e) + "\n";
  return text;
}

std::uint64_t Device::Rand() {
  // xorshift64*: cheap, and the same faults for the same seed.
  rng_ ^= rng_ >> 12;
  rng_ ^= rng_ << 25;
  rng_ ^= rng_ >> 27;
  return rng_ * 0x2545F4914F6CDD1Dull;
}

std::uint8_t Device::Garble(std::uint8_t byte) {
  ++counters_.bytesGarbled;
  auto g = static_cast<std::uint8_t>(Rand() >> 56);
  return g == byte ? static_cast<std::uint8_t>(g ^ 0xA5) : g;
}

void Device::Restart(std::uint64_t ns) {
  AdvanceTo(ns);
  Boot(ns, s_.state);
}

void Device::Boot(std::uint64_t ns, StartState how) {
  ++counters_.restarts;
  Log(ns, EventKind::Restart);
  rom_.Reset();
  monitor_.Reset();
  erase_ = Erase::None;
  restartAtNs_ = UINT64_MAX;
  identifiedReadOnly_ = false;
  if (how == StartState::Monitor) {
    bus_.ConfigureAsSetUp();
    std::memcpy(bus_.MainRam(), kBuiltInMonitor, kBuiltInMonitorSize);
    state_ = DeviceState::FlashMonitor;
    breaksLeft_ = 0;
  } else if (how == StartState::Rom) {
    bus_.ResetRegisters();
    state_ = DeviceState::RomMonitor;
    breaksLeft_ = 0;
  } else {
    bus_.ResetRegisters();
    state_ = DeviceState::Booting;
    breaksLeft_ = s_.breaks;
    nextBreakNs_ = ns + s_.bootMs * kNsPerMs;
    if (breaksLeft_ == 0) state_ = DeviceState::BootRom;
  }
  FollowClockSelect(ns);
}

void Device::FollowClockSelect(std::uint64_t ns) {
  std::uint8_t csr = bus_.ClockSelectA();
  std::uint32_t rx = ClockSelectBaud(csr >> 4), tx = ClockSelectBaud(csr & 0x0F);
  if (rx != devRxBaud_ || tx != devTxBaud_) Log(ns, EventKind::LineSpeed, csr, 0, tx);
  devRxBaud_ = rx;
  devTxBaud_ = tx;
}

// --- Time ---------------------------------------------------------------------------------

std::uint64_t Device::NextTimer() const {
  std::uint64_t next = restartAtNs_;
  if (breaksLeft_ > 0) next = std::min(next, nextBreakNs_);
  return next;
}

void Device::CatchUp(std::uint64_t ns) {
  for (;;) {
    std::uint64_t timer = NextTimer();
    std::uint64_t byte = outHead_ < out_.size() ? out_[outHead_].ns : UINT64_MAX;
    if (std::min(timer, byte) > ns) break;
    if (byte <= timer) {
      Deliver(out_[outHead_++]);
    } else {
      FireTimer(timer);
    }
  }
  if (outHead_ == out_.size()) {
    out_.clear();
    outHead_ = 0;
  } else if (outHead_ > 4096 && outHead_ * 2 > out_.size()) {
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(outHead_));
    outHead_ = 0;
  }
  nowNs_ = std::max(nowNs_, ns);
}

void Device::FireTimer(std::uint64_t ns) {
  nowNs_ = std::max(nowNs_, ns);
  if (restartAtNs_ <= ns) {
    restartAtNs_ = UINT64_MAX;
    ++counters_.reboots;
    Boot(ns, StartState::Boot);   // the monitor's reboot always lands in the boot ROM
    return;
  }
  // A boot break: the line is held low; the ROM listens from the first one on.
  std::uint64_t at = std::max(ns, devTxFreeNs_);
  out_.push_back({at, devTxBaud_, 0, true});
  devTxFreeNs_ = at + kBreakNs;
  ++counters_.breaksSent;
  Log(at, EventKind::BreakSent, 0, 0, s_.breaks - breaksLeft_ + 1);
  if (state_ == DeviceState::Booting) state_ = DeviceState::BootRom;
  --breaksLeft_;
  nextBreakNs_ += s_.breakIntervalMs * kNsPerMs;
}

bool Device::LineCut(std::uint64_t ns) const {
  for (const auto& r : s_.pullExchanges)
    if (r.Contains(exchange_)) return true;
  if (!s_.pullMs.empty()) {
    std::uint64_t ms = (ns - std::min(ns, originNs_)) / kNsPerMs;
    for (const auto& r : s_.pullMs)
      if (r.Contains(ms)) return true;
  }
  return false;
}

void Device::Deliver(const InFlight& b) {
  if (LineCut(b.ns)) {
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
    lineErrors_ |= CE_FRAME;
  }
  if (rxHead_ > 0 && rxHead_ == rx_.size()) {
    rx_.clear();
    rxHead_ = 0;
  }
  rx_.push_back(v);
}

// --- The PC's end -----------------------------------------------------------------------------

std::uint64_t Device::PcWrite(const std::uint8_t* data, std::size_t count, std::uint64_t ns) {
  AdvanceTo(ns);
  if (count == 0) return nowNs_;
  if (readSinceWrite_) {
    readSinceWrite_ = false;
    ++exchange_;
    ++counters_.exchanges;
  }
  std::uint64_t t = std::max(ns, pcTxFreeNs_);
  const std::uint64_t per = ByteNs(pcBaud_);
  const bool matches = pcEightN1_;
  for (std::size_t i = 0; i < count; ++i) {
    t += per;
    AdvanceTo(t);
    if (pcBreak_) continue;   // a line held in break carries no characters
    if (LineCut(t)) {
      ++counters_.bytesLost;
      continue;
    }
    ++counters_.bytesToDevice;
    Receive(data[i], t, matches && pcBaud_ == devRxBaud_);
  }
  pcTxFreeNs_ = t;
  return t;
}

std::size_t Device::TakeSlow(std::uint8_t* out, std::size_t max) {
  std::size_t n = std::min(max, PcAvailable());
  if (n == 0) return 0;   // an empty buffer may have no storage: no memcpy from null
  std::memcpy(out, rx_.data() + rxHead_, n);
  rxHead_ += n;
  if (rxHead_ == rx_.size()) {
    rx_.clear();
    rxHead_ = 0;
  }
  return n;
}

bool Device::NextArrival(std::uint64_t& ns) const {
  if (outHead_ >= out_.size()) return false;
  for (std::size_t i = outHead_; i < out_.size(); ++i) {
    if (!out_[i].isBreak) {
      ns = out_[i].ns;
      return true;
    }
  }
  return false;
}

void Device::PcSetLine(std::uint32_t baud, bool eightN1, std::uint64_t ns) {
  AdvanceTo(ns);
  pcBaud_ = baud;
  pcEightN1_ = eightN1;
}

void Device::PcSetBreak(bool on, std::uint64_t ns) {
  AdvanceTo(ns);
  if (on == pcBreak_) return;
  pcBreak_ = on;
  if (on) {
    pcBreakStartNs_ = ns;
    // A break is a framing error to every receiver: whatever frame was under way is lost.
    rom_.Reset();
    monitor_.Reset();
  } else {
    Log(ns, EventKind::PcBreak, 0, 0, static_cast<std::uint32_t>((ns - pcBreakStartNs_) / kNsPerMs));
  }
}

std::uint32_t Device::PcTakeErrors() {
  std::uint32_t e = lineErrors_;
  lineErrors_ = 0;
  if (breaksPending_ > 0) {
    --breaksPending_;
    e |= CE_BREAK;
  }
  return e;
}

// --- The device's end ---------------------------------------------------------------------

void Device::Send(std::span<const std::uint8_t> bytes, std::uint64_t readyNs) {
  std::uint64_t t = std::max(readyNs, devTxFreeNs_);
  const std::uint64_t per = ByteNs(devTxBaud_);
  for (std::uint8_t b : bytes) {
    t += per;
    out_.push_back({t, devTxBaud_, b, false});
  }
  devTxFreeNs_ = t;
}

void Device::Receive(std::uint8_t byte, std::uint64_t ns, bool matches) {
  if (!matches || devRxBaud_ == 0) byte = Garble(byte);
  bool stale = ns - std::min(ns, lastRxNs_) > s_.frameGapMs * kNsPerMs;
  lastRxNs_ = ns;
  switch (state_) {
    case DeviceState::BootRom:
    case DeviceState::RomMonitor:
      if (stale) rom_.Reset();
      OnRomByte(byte, ns);
      break;
    case DeviceState::FlashMonitor:
      if (stale) monitor_.Reset();
      OnMonitorByte(byte, ns);
      break;
    default:
      break;
  }
}

// --- Boot ROM and ROM monitor --------------------------------------------------------------

void Device::OnRomByte(std::uint8_t byte, std::uint64_t ns) {
  switch (rom_.Feed(byte)) {
    case RomFrameReader::Result::More: break;
    case RomFrameReader::Result::Probe:
      if (state_ != DeviceState::RomMonitor) {
        Log(ns, EventKind::FrameIgnored, 0x05);
        break;
      }
      ++counters_.probesAnswered;
      Log(ns, EventKind::Probe);
      Send(std::span(&kRomAck, 1), ns + s_.turnaroundUs * 1000ull);
      break;
    case RomFrameReader::Result::Frame: OnRomFrame(ns); break;
    case RomFrameReader::Result::BadFrame:
      ++counters_.badFrames;
      Log(ns, EventKind::BadFrame, rom_.Type());
      break;
  }
}

void Device::OnRomFrame(std::uint64_t ns) {
  const std::uint8_t type = rom_.Type();
  const std::uint8_t* p = rom_.Payload();
  const std::uint64_t ready = ns + s_.turnaroundUs * 1000ull;

  if (type == kRomIdentify) {
    bool readOnly = std::memcmp(p, kReadOnlyText, kRomIdentifyLength) == 0;
    bool upgrade = std::memcmp(p, kUpgradeText, kRomIdentifyLength) == 0;
    if (!readOnly && !upgrade) {
      Log(ns, EventKind::IdentificationRejected);
      return;
    }
    identifiedReadOnly_ = readOnly;
    ++counters_.identifications;
    state_ = DeviceState::RomMonitor;
    Log(ns, EventKind::Identified, 0, 0, readOnly ? 1 : 0);
    return;
  }
  if (state_ != DeviceState::RomMonitor) {
    Log(ns, EventKind::FrameIgnored, type);
    return;
  }

  const std::uint32_t address = Be32(p);
  switch (type) {
    case kRomRead: {
      const std::uint8_t n = p[4];
      std::uint8_t frame[6 + kRomMaxReadCount] = {0x02, 0x00, kRomReadReply, n};
      if (n > kRomMaxReadCount || !bus_.Read(address, frame + 4, n)) {
        Log(ns, EventKind::BusError, type, address, n);
        return;
      }
      std::uint8_t sum = static_cast<std::uint8_t>(kRomReadReply + n);
      for (int i = 0; i < n; ++i) sum = static_cast<std::uint8_t>(sum + frame[4 + i]);
      frame[4 + n] = sum;
      frame[5 + n] = 0x03;
      Log(ns, EventKind::RomRead, type, address, n);
      Send(std::span(frame, 6u + n), ready);
      return;
    }
    case kRomWrite: {
      const std::size_t n = rom_.Length() - 4u;
      if (!bus_.Write(address, p + 4, n)) {
        Log(ns, EventKind::BusError, type, address, static_cast<std::uint32_t>(n));
        return;
      }
      Log(ns, EventKind::RomWrite, type, address, static_cast<std::uint32_t>(n));
      FollowClockSelect(ns);
      Send(std::span(&kRomAck, 1), ready);
      return;
    }
    case kRomGo:
      Log(ns, EventKind::RomGo, type, address);
      Send(std::span(&kRomAck, 1), ready);
      StartRoutine(address, devTxFreeNs_);
      return;
    default: return;
  }
}

void Device::StartRoutine(std::uint32_t address, std::uint64_t ns) {
  if (address == kMainRamBase && bus_.ChipSelectRowOk(2) &&
      std::memcmp(bus_.MainRam(), kBuiltInMonitor, kBuiltInMonitorSize) == 0) {
    state_ = DeviceState::FlashMonitor;
    monitor_.Reset();
    erase_ = Erase::None;
    Log(ns, EventKind::MonitorStarted, 0, address);
    return;
  }
  switch (RunRoutine(bus_, address)) {
    case RunResult::Returned:
      Log(ns, EventKind::RoutineReturned, 0, address);
      FollowClockSelect(ns);
      break;
    case RunResult::Looping:
    case RunResult::Crashed:
      Log(ns, EventKind::ProcessorStopped, 0, address);
      FollowClockSelect(ns);
      state_ = DeviceState::Halted;
      break;
  }
}

// --- Flash monitor -------------------------------------------------------------------------

void Device::OnMonitorByte(std::uint8_t byte, std::uint64_t ns) {
  switch (monitor_.Feed(byte)) {
    case MonitorRequestReader::Result::More: break;
    case MonitorRequestReader::Result::Request: OnRequest(ns); break;
    case MonitorRequestReader::Result::BadFrame:
      ++counters_.badFrames;
      Log(ns, EventKind::BadRequest, monitor_.Code());
      break;
  }
}

bool Device::ProgramRefused() const {
  if (s_.programRefuseAll) return true;
  for (const auto& r : s_.programRefuse)
    if (r.Contains(counters_.programRequests)) return true;
  return false;
}

std::uint8_t Device::EraseSectors(std::span<const std::uint8_t> d) {
  // 1 byte N, then N sector start addresses.
  const std::size_t n = d[0];
  bool ok = bus_.FlashSelected() && n > 0;
  for (std::size_t i = 0; ok && i < n; ++i) {
    std::uint32_t a = Be32(&d[1 + 4 * i]);
    ok = std::any_of(sectors_.begin(), sectors_.end(), [a](const Sector& s) { return s.start == a; });
  }
  if (!ok) {
    erase_ = Erase::Failed;
    return kStatusFailed;
  }
  for (std::size_t i = 0; i < n; ++i) {
    std::uint32_t a = Be32(&d[1 + 4 * i]);
    for (const auto& s : sectors_)
      if (s.start == a) bus_.ProgFlash().Erase(s.start, s.size);
  }
  erase_ = Erase::Busy;
  erasePollsLeft_ = s_.eraseBusy.value_or(0);
  return kStatusOk;
}

std::uint8_t Device::EraseStatus() {
  ++counters_.erasePolls;
  switch (erase_) {
    case Erase::Busy:
      if (!s_.eraseBusy) return kStatusBusy;
      if (erasePollsLeft_ > 0) {
        --erasePollsLeft_;
        return kStatusBusy;
      }
      erase_ = Erase::Done;
      return kStatusOk;
    case Erase::Done: return kStatusOk;
    case Erase::None:   // nothing was started, so nothing can finish
    case Erase::Failed: return kStatusFailed;
  }
  return kStatusFailed;
}

void Device::OnRequest(std::uint64_t ns) {
  const std::uint8_t code = monitor_.Code();
  const auto d = monitor_.Data();
  ++counters_.requests;
  // Request payload, by command: the exact length (or the least, for the variable ones).
  auto malformed = [&] {
    ++counters_.badFrames;
    Log(ns, EventKind::MalformedRequest, code, 0, static_cast<std::uint32_t>(d.size()));
  };
  data_.clear();
  switch (code) {
    case kMonPing:
    case kMonReboot:
    case kMonEraseStatus:
    case kMonReadConfig:
    case kMonCollectGarbage:
    case kMonProgramDone:
    case kMonEraseFileSystem:
      if (!d.empty()) return malformed();
      break;
    case kMonErase:   // N, N addresses
      if (d.empty() || d.size() != 1 + 4u * d[0]) return malformed();
      break;
    case kMonProgram:   // address, at least one byte
      if (d.size() < 5) return malformed();
      break;
    case kMonRead:   // address, 16-bit count
      if (d.size() != 6) return malformed();
      break;
    default:
      Log(ns, EventKind::UnknownRequest, code);
      return;
  }
  if (s_.monitorSilent) {
    Log(ns, EventKind::Request, code, 0, kNoReplyData);
    return;
  }

  switch (code) {
    case kMonPing: break;
    case kMonErase: data_.push_back(EraseSectors(d)); break;
    case kMonEraseStatus: data_.push_back(EraseStatus()); break;
    case kMonProgram: {
      ++counters_.programRequests;
      const std::uint32_t address = Be32(d.data());
      const auto bytes = d.subspan(4);
      NorFlash* flash = nullptr;
      if (bus_.ProgFlash().Covers(address, bytes.size())) flash = &bus_.ProgFlash();
      else if (bus_.FsFlash().Size() && bus_.FsFlash().Covers(address, bytes.size())) flash = &bus_.FsFlash();
      bool ok = flash && bus_.FlashSelected() && erase_ != Erase::Busy && !ProgramRefused() &&
                flash->Program(address, bytes);
      data_.push_back(ok ? kProgramOk : kProgramFailed);
      break;
    }
    case kMonReboot:
      state_ = DeviceState::Resetting;
      break;
    case kMonRead: {
      const std::uint32_t address = Be32(d.data());
      const std::size_t count = (std::size_t{d[4]} << 8) | d[5];
      // Unreadable or over-long: an empty reply, so that the loader learns at once.
      if (count <= kMonitorMaxData) {
        data_.resize(count);
        if (!bus_.Read(address, data_.data(), count)) data_.clear();
      }
      break;
    }
    case kMonReadConfig:
      data_.assign(record_.begin(), record_.end());
      data_.resize(s_.configLen, 0x00);
      break;
    case kMonCollectGarbage:
      ++counters_.garbageCollections;
      data_.push_back(kStatusOk);
      break;
    case kMonProgramDone: {
      if (erase_ == Erase::Busy || !bus_.FlashSelected()) {
        data_.push_back(kStatusBusy);
        break;
      }
      ApplySoftwareWord(record_, bus_.ProgFlash().At(kSoftwareWordAddress));
      data_.push_back(kStatusOk);
      break;
    }
    case kMonEraseFileSystem:
      if (bus_.FlashSelected()) bus_.FsFlash().EraseAll();
      data_.push_back(bus_.FlashSelected() ? kStatusOk : kStatusFailed);
      break;
  }
  Log(ns, EventKind::Request, code, d.size() >= 4 ? Be32(d.data()) : 0,
      data_.empty() ? kNoReplyData : data_[0]);
  Reply(code, data_, ns);
  if (code == kMonReboot) restartAtNs_ = devTxFreeNs_ + s_.resetMs * kNsPerMs;
}

void Device::Reply(std::uint8_t code, std::span<const std::uint8_t> data, std::uint64_t ns) {
  const std::uint64_t number = ++counters_.replies;
  reply_.clear();
  for (unsigned i = 0; i < s_.noise; ++i) {
    auto b = static_cast<std::uint8_t>(Rand() >> 56);
    reply_.push_back(b == 0x02 ? 0x20 : b);   // noise that could pass for STX would be a frame
  }
  if (s_.foreign) {
    static constexpr std::uint8_t kForeignData[] = {0x01, 0x00};
    AppendReply(reply_, static_cast<std::uint8_t>(code ^ 0x40), kForeignData);
  }
  const std::size_t frameStart = reply_.size();
  AppendReply(reply_, code, data);
  bool corrupt = std::any_of(s_.badChecksum.begin(), s_.badChecksum.end(),
                             [number](const Range& r) { return r.Contains(number); });
  if (s_.badChecksumRate > 0.0 &&
      static_cast<double>(Rand() >> 11) * (1.0 / 9007199254740992.0) < s_.badChecksumRate)
    corrupt = true;
  if (corrupt) reply_[frameStart + 4 + data.size() + 1] ^= 0x5A;   // low checksum byte
  Send(reply_, ns + s_.turnaroundUs * 1000ull);
}

}  // namespace kv70sim
