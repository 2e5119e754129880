#include "host/core/line_decoder.h"

#include <algorithm>
#include <cstring>

#include "sim/flash.h"

namespace velmora {

namespace {

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kProbe[] = {0x05, 0x0A, 0x14, 0x28, 0x00, 0x00};

// ROM-monitor frame types and the payload lengths each may carry (min, max); `bulk`
// frames are followed by 00 00.
constexpr std::uint8_t kRomIdentify = 0x6E, kRomRead = 0x80, kRomWrite = 0x81, kRomGo = 0x82;
constexpr std::uint8_t kRomReadReply = 0x92;
struct RomType {
  std::uint8_t type;
  std::size_t minLength, maxLength;
  bool bulk;
};
constexpr RomType kRomTypes[] = {
    {kRomIdentify, 0x54, 0x54, false},
    {kRomRead, 5, 5, true},
    {kRomWrite, 5, 4 + 251, true},
    {kRomGo, 4, 4, true},
};
const RomType* FindRomType(std::uint8_t type) {
  for (const RomType& t : kRomTypes)
    if (t.type == type) return &t;
  return nullptr;
}

// The two identification texts the boot ROM takes: a read-only connection's and a
// software upgrade's.
constexpr char kReadOnlyText[] =
    "PRODUCT,ZELDLOAD;PORT,0,9600,9600,8,1,N,T;VERSION,5.03,1/17/97,1.0,1/17/97;COMM,NMEA";
constexpr char kUpgradeText[] =
    "PRODUCT,ZELDLOAD;PORT,0,9600,9600,8,1,N,T;VERSION,1.03,1/17/97,1.0,1/17/97;COMM,NMEA";

// Where the uploaded monitor lives: RAM from 0x200000 (chip select 2).
constexpr std::uint32_t kMonitorRamStart = 0x00200000;
constexpr std::uint32_t kMonitorRamEnd = 0x00400000;
bool InMonitorRam(std::uint32_t address) {
  return address >= kMonitorRamStart && address < kMonitorRamEnd;
}

// Flash-monitor commands: code, name, request data rule.
enum class Payload { Empty, SectorList, AddressAndData, AddressAndCount };
struct Command {
  std::uint8_t code;
  const char* name;
  Payload payload;
};
constexpr std::uint8_t kPing = 0x00, kErase = 0x01, kEraseStatus = 0x02, kProgram = 0x03,
                       kReboot = 0x04, kRead = 0x05, kReadConfig = 0x06, kGarbage = 0x07,
                       kProgramDone = 0x0A, kEraseFileSystem = 0x0D;
constexpr Command kCommands[] = {
    {kPing, "ping", Payload::Empty},
    {kErase, "erase sectors", Payload::SectorList},
    {kEraseStatus, "erase status", Payload::Empty},
    {kProgram, "program", Payload::AddressAndData},
    {kReboot, "reboot", Payload::Empty},
    {kRead, "read", Payload::AddressAndCount},
    {kReadConfig, "read configuration", Payload::Empty},
    {kGarbage, "collect garbage", Payload::Empty},
    {kProgramDone, "program done", Payload::Empty},
    {kEraseFileSystem, "erase file system", Payload::Empty},
};
const Command* FindCommand(std::uint8_t code) {
  for (const Command& c : kCommands)
    if (c.code == code) return &c;
  return nullptr;
}
bool Fits(Payload payload, std::span<const std::uint8_t> d) {
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

constexpr std::size_t kMonitorMaxData = 1024;

std::uint16_t Be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// The configuration record (184 bytes, numbers big-endian):
//   2  32  serial number      38  36  owner string 1     74  36  owner string 2
//   (a text field whose first byte is 0xFF is not set; else it ends at a NUL or fills)
// 110  62  option area: toggles one byte at their number, installed when not the off
//          value; dated options 7 bytes at their number: month index(2) word(4) value(1),
//          installed when the month index is not 0xFFFF
// 172 Info0  174 Info1  176 FlashType  178 Info3  180 FileSystemMb  182 ApplicationId
constexpr std::size_t kSerialOffset = 2, kSerialWidth = 32;
constexpr std::size_t kOwner1Offset = 38, kOwner2Offset = 74, kOwnerWidth = 36;
constexpr std::size_t kOptionAreaOffset = 110;
constexpr std::size_t kNumbersOffset = 172;
struct Toggle {
  int number;
  std::uint8_t off;
};
constexpr Toggle kToggles[] = {{0, 0x00}, {1, 0x00}, {2, 0xFF}, {3, 0x00}, {4, 0xFF},
                               {5, 0xFF}, {6, 0xFF}, {7, 0xFF}, {10, 0xFF}};
constexpr int kApplicationOptions[] = {33, 40};

std::optional<std::string> RecordText(const std::uint8_t* p, std::size_t width) {
  if (p[0] == 0xFF) return std::nullopt;
  std::size_t n = 0;
  while (n < width && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

}  // namespace

const char* CommandName(std::uint8_t code) {
  const Command* c = FindCommand(code);
  return c ? c->name : "";
}

DeviceRecord DeviceRecord::Decode(std::span<const std::uint8_t, kSize> b) {
  DeviceRecord r;
  std::copy(b.begin(), b.end(), r.raw.begin());
  const std::uint8_t* p = b.data();
  r.serial = RecordText(p + kSerialOffset, kSerialWidth);
  r.owner1 = RecordText(p + kOwner1Offset, kOwnerWidth);
  r.owner2 = RecordText(p + kOwner2Offset, kOwnerWidth);
  std::copy_n(p + kOptionAreaOffset, r.optionArea.size(), r.optionArea.begin());
  const std::uint8_t* n = p + kNumbersOffset;
  r.info0 = Be16(n);
  r.info1 = Be16(n + 2);
  r.flashType = Be16(n + 4);
  r.info3 = Be16(n + 6);
  r.fileSystemMb = Be16(n + 8);
  r.applicationId = Be16(n + 10);
  for (const Toggle& t : kToggles)
    if (r.optionArea[t.number] != t.off) r.installedOptions.push_back(t.number);
  for (int option : kApplicationOptions) {
    const std::uint8_t* e = r.optionArea.data() + option;
    ApplicationEntry entry{option, Be16(e), Be32(e + 2), e[6]};
    if (entry.Installed()) r.installedOptions.push_back(option);
    r.applications.push_back(entry);
  }
  std::sort(r.installedOptions.begin(), r.installedOptions.end());
  return r;
}

void AddRange(std::vector<AddressRange>& ranges, std::uint32_t start, std::uint32_t length) {
  if (length == 0) return;
  // Most additions extend the last range (a dump, a program stream).
  if (!ranges.empty() && ranges.back().start <= start && start <= ranges.back().End()) {
    AddressRange& last = ranges.back();
    const std::uint64_t end = std::max(last.End(), std::uint64_t{start} + length);
    last.length = static_cast<std::uint32_t>(end - last.start);
    return;
  }
  auto it = std::lower_bound(ranges.begin(), ranges.end(), start,
                             [](const AddressRange& r, std::uint32_t s) { return r.start < s; });
  it = ranges.insert(it, {start, length});
  // Merge with the neighbours it touches.
  if (it != ranges.begin() && std::prev(it)->End() >= it->start) {
    auto prev = std::prev(it);
    const std::uint64_t end = std::max(prev->End(), it->End());
    prev->length = static_cast<std::uint32_t>(end - prev->start);
    it = std::prev(ranges.erase(it));
  }
  while (std::next(it) != ranges.end() && it->End() >= std::next(it)->start) {
    auto next = std::next(it);
    const std::uint64_t end = std::max(it->End(), next->End());
    it->length = static_cast<std::uint32_t>(end - it->start);
    ranges.erase(next);
  }
}

std::uint64_t LineSummary::ReadBytes() const {
  std::uint64_t n = 0;
  for (const AddressRange& r : read) n += r.length;
  return n;
}

std::uint64_t LineSummary::ProgrammedBytes() const {
  std::uint64_t n = 0;
  for (const AddressRange& r : programmed) n += r.length;
  return n;
}

LineDecoder::LineDecoder(FrameSink sink) : sink_(std::move(sink)) {
  fromDevice_.fromDevice = true;
}

// --- Feeding -------------------------------------------------------------------------------

void LineDecoder::Append(Stream& s, std::span<const std::uint8_t> bytes, std::uint64_t ms) {
  if (s.head == s.bytes.size() && s.unknownStart == SIZE_MAX) {
    s.bytes.clear();
    s.lineMs.clear();
    s.lineStart.clear();
    s.head = 0;
  }
  s.lineStart.push_back(s.bytes.size());
  s.lineMs.push_back(ms);
  s.bytes.insert(s.bytes.end(), bytes.begin(), bytes.end());
}

void LineDecoder::ToDevice(std::span<const std::uint8_t> bytes, std::uint64_t ms) {
  if (bytes.empty()) return;
  // The PC writes only after it has stopped reading: what came back is all there is.
  Settle(fromDevice_);
  Append(toDevice_, bytes, ms);
  Decode(toDevice_, false);
}

void LineDecoder::FromDevice(std::span<const std::uint8_t> bytes, std::uint64_t ms) {
  if (bytes.empty()) return;
  // A request is written whole before its reply is read.
  Settle(toDevice_);
  Append(fromDevice_, bytes, ms);
  Decode(fromDevice_, false);
}

void LineDecoder::Settle(Stream& s) {
  if (s.head < s.bytes.size() || s.unknownStart != SIZE_MAX) Decode(s, true);
}

void LineDecoder::Finish() {
  Settle(toDevice_);
  Settle(fromDevice_);
}

void LineDecoder::BreakSent(std::uint32_t heldMs, std::uint64_t ms) {
  Finish();
  // A break drops whatever request the device was taking.
  expect_ = Expect::Nothing;
  DecodedFrame f;
  f.kind = DecodedFrame::Kind::BreakSent;
  f.ms = ms;
  f.count = heldMs;
  Emit(f);
}

void LineDecoder::BreakReceived(std::uint64_t ms) {
  Finish();
  ++summary_.breaksReceived;
  DecodedFrame f;
  f.kind = DecodedFrame::Kind::BreakReceived;
  f.fromDevice = true;
  f.ms = ms;
  Emit(f);
}

void LineDecoder::Speed(std::uint32_t bitsPerSecond, std::uint64_t ms) {
  Finish();
  DecodedFrame f;
  f.kind = DecodedFrame::Kind::Speed;
  f.ms = ms;
  f.count = bitsPerSecond;
  Emit(f);
}

void LineDecoder::Note(const std::string& text, std::uint64_t ms) {
  Finish();
  DecodedFrame f;
  f.kind = DecodedFrame::Kind::Note;
  f.ms = ms;
  f.text = text;
  Emit(f);
}

std::uint64_t LineDecoder::MsAt(const Stream& s, std::size_t offset) const {
  auto it = std::upper_bound(s.lineStart.begin(), s.lineStart.end(), offset);
  if (it == s.lineStart.begin()) return s.lineMs.empty() ? 0 : s.lineMs.front();
  return s.lineMs[static_cast<std::size_t>(it - s.lineStart.begin()) - 1];
}

void LineDecoder::Emit(DecodedFrame& frame) {
  if (sink_) sink_(frame);
}

void LineDecoder::FlushUnknown(Stream& s, std::size_t end) {
  if (s.unknownStart == SIZE_MAX) return;
  const std::size_t start = s.unknownStart;
  s.unknownStart = SIZE_MAX;
  if (end <= start) return;
  summary_.unknownBytes += end - start;
  if (!sink_) return;
  DecodedFrame f;
  f.kind = DecodedFrame::Kind::Unknown;
  f.fromDevice = s.fromDevice;
  f.ms = MsAt(s, start);
  f.bytes = {s.bytes.data() + start, end - start};
  f.count = static_cast<std::uint32_t>(end - start);
  Emit(f);
}

// --- Framing -------------------------------------------------------------------------------

LineDecoder::Parse LineDecoder::ParseToDevice(const Stream& s, std::size_t at, bool final,
                                              std::size_t& length, std::string& why) const {
  const std::uint8_t* b = s.bytes.data() + at;
  const std::size_t avail = s.bytes.size() - at;
  if (b[0] == kProbe[0]) {
    const std::size_t n = std::min(avail, sizeof kProbe);
    if (std::memcmp(b, kProbe, n) != 0) return Parse::NotAFrame;
    if (n < sizeof kProbe) return Parse::NeedMore;
    length = sizeof kProbe;
    return Parse::Frame;
  }
  if (b[0] != kStx) return Parse::NotAFrame;
  if (avail < 4) return Parse::NeedMore;
  if (const RomType* t = b[1] == 0x00 ? FindRomType(b[2]) : nullptr) {
    const std::size_t payload = b[3];
    if (payload < t->minLength || payload > t->maxLength) return Parse::NotAFrame;
    const std::size_t total = 4 + payload + 2;
    if (avail < total) return Parse::NeedMore;
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i < 4 + payload; ++i) sum = static_cast<std::uint8_t>(sum + b[i]);
    length = total;
    if (b[4 + payload] != sum) {
      why = "bad checksum";
      return Parse::Bad;
    }
    if (b[total - 1] != kEtx) {
      why = "bad end byte";
      return Parse::Bad;
    }
    // The two idle bytes after a bulk frame (or after a typed write, harmlessly).
    std::size_t pad = 0;
    while (pad < 2 && total + pad < avail && b[total + pad] == 0x00) ++pad;
    if (pad < 2 && total + pad == avail && !final) return Parse::NeedMore;
    length = total + pad;
    return Parse::Frame;
  }
  const std::size_t n = Be16(b + 2);
  if (n > kMonitorMaxData) return Parse::NotAFrame;
  const std::size_t total = 4 + n + 4;
  if (avail < total) return Parse::NeedMore;
  std::uint16_t sum = 0;
  for (std::size_t i = 1; i < 4 + n; ++i) sum = static_cast<std::uint16_t>(sum + b[i]);
  length = total;
  if (Be16(b + 4 + n) != sum) {
    why = "bad checksum";
    return Parse::Bad;
  }
  if (b[4 + n + 2] != kEtx || b[4 + n + 3] != 0x00) {
    why = "bad end bytes";
    return Parse::Bad;
  }
  return Parse::Frame;
}

LineDecoder::Parse LineDecoder::ParseFromDevice(const Stream& s, std::size_t at, bool,
                                                std::size_t& length, std::string& why) const {
  const std::uint8_t* b = s.bytes.data() + at;
  const std::size_t avail = s.bytes.size() - at;
  if (b[0] == kAck && expect_ == Expect::RomAck) {
    length = 1;
    return Parse::Frame;
  }
  if (b[0] != kStx) return Parse::NotAFrame;
  if (avail < 4) return Parse::NeedMore;
  if (b[1] == 0x00 && b[2] == kRomReadReply) {
    const std::size_t n = b[3];
    const std::size_t total = 4 + n + 2;
    if (avail < total) return Parse::NeedMore;
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i < 4 + n; ++i) sum = static_cast<std::uint8_t>(sum + b[i]);
    length = total;
    if (b[4 + n] != sum) {
      why = "bad checksum";
      return Parse::Bad;
    }
    if (b[total - 1] != kEtx) {
      why = "bad end byte";
      return Parse::Bad;
    }
    return Parse::Frame;
  }
  const std::size_t n = Be16(b + 2);
  if (n > kMonitorMaxData) return Parse::NotAFrame;
  const std::size_t total = 4 + n + 3;
  if (avail < total) return Parse::NeedMore;
  std::uint16_t sum = 0;
  for (std::size_t i = 1; i < 4 + n; ++i) sum = static_cast<std::uint16_t>(sum + b[i]);
  length = total;
  if (Be16(b + 4 + n) != sum) {
    why = "bad checksum";
    return Parse::Bad;
  }
  if (b[4 + n + 2] != kEtx) {
    why = "bad end byte";
    return Parse::Bad;
  }
  return Parse::Frame;
}

LineDecoder::Parse LineDecoder::ParseAt(const Stream& s, std::size_t at, bool final,
                                        std::size_t& length, std::string& why) const {
  return s.fromDevice ? ParseFromDevice(s, at, final, length, why)
                      : ParseToDevice(s, at, final, length, why);
}

// Whether a good frame starts in [from, to): Frame if one does, NeedMore if one may
// once more bytes come, NotAFrame otherwise.
LineDecoder::Parse LineDecoder::FrameWithin(const Stream& s, std::size_t from, std::size_t to,
                                            bool final) const {
  for (std::size_t q = from; q < to; ++q) {
    const std::uint8_t b = s.bytes[q];
    if (b != kStx && b != kProbe[0] && b != kAck) continue;
    std::size_t length = 0;
    std::string why;
    const Parse p = ParseAt(s, q, final, length, why);
    if (p == Parse::Frame) return Parse::Frame;
    if (p == Parse::NeedMore && !final) return Parse::NeedMore;
  }
  return Parse::NotAFrame;
}

void LineDecoder::Decode(Stream& s, bool final) {
  while (s.head < s.bytes.size()) {
    const std::size_t at = s.head;
    std::size_t length = 0;
    std::string why;
    Parse p = ParseAt(s, at, final, length, why);
    if (p == Parse::NeedMore) {
      if (!final) return;
      // The line turned before the frame ended; unless a whole frame hides behind a
      // false start, what is left was cut short.
      if (FrameWithin(s, at + 1, s.bytes.size(), true) == Parse::Frame) {
        p = Parse::NotAFrame;
      } else {
        FlushUnknown(s, at);
        ++summary_.cutShort;
        DecodedFrame f;
        f.kind = DecodedFrame::Kind::CutShort;
        f.fromDevice = s.fromDevice;
        f.ms = MsAt(s, at);
        f.bytes = {s.bytes.data() + at, s.bytes.size() - at};
        f.count = static_cast<std::uint32_t>(f.bytes.size());
        Emit(f);
        s.head = s.bytes.size();
        break;
      }
    }
    if (p == Parse::Bad) {
      // Noise that looks like a frame's start must not swallow the real frame in it.
      const Parse inner = FrameWithin(s, at + 1, at + length, final);
      if (inner == Parse::NeedMore) return;
      if (inner == Parse::Frame) p = Parse::NotAFrame;
    }
    if (p == Parse::NotAFrame) {
      if (s.unknownStart == SIZE_MAX) s.unknownStart = at;
      ++s.head;
      continue;
    }
    FlushUnknown(s, at);
    s.head = at + length;
    if (p == Parse::Bad) {
      ++summary_.badFrames;
      DecodedFrame f;
      f.kind = DecodedFrame::Kind::Bad;
      f.fromDevice = s.fromDevice;
      f.ms = MsAt(s, at);
      f.bytes = {s.bytes.data() + at, length};
      f.code = s.bytes[at + 1];
      f.count = static_cast<std::uint32_t>(length);
      f.text = why;
      Emit(f);
    } else if (s.fromDevice) {
      OnFromDevice(s, at, length);
    } else {
      OnToDevice(s, at, length);
    }
  }
  if (final) FlushUnknown(s, s.bytes.size());
}

// --- Meaning -------------------------------------------------------------------------------

void LineDecoder::OnToDevice(const Stream& s, std::size_t at, std::size_t length) {
  const std::uint8_t* b = s.bytes.data() + at;
  DecodedFrame f;
  f.ms = MsAt(s, at);
  f.bytes = {b, length};
  expectGo_ = false;
  expectProbe_ = false;
  pendingWrite_ = 0;
  if (b[0] == kProbe[0]) {
    f.kind = DecodedFrame::Kind::RomProbe;
    expect_ = Expect::RomAck;
    expectProbe_ = true;
    Emit(f);
    return;
  }
  if (b[1] == 0x00 && FindRomType(b[2])) {
    const std::uint8_t type = b[2];
    const std::size_t payload = b[3];
    f.code = type;
    f.data = {b + 4, payload};
    switch (type) {
      case kRomIdentify: {
        f.kind = DecodedFrame::Kind::RomIdentify;
        f.text.assign(reinterpret_cast<const char*>(b + 4), payload);
        ++summary_.identifications;
        if (f.text == kReadOnlyText)
          summary_.readOnlyIdentification = true;
        else if (f.text == kUpgradeText)
          summary_.readOnlyIdentification = false;
        else
          summary_.readOnlyIdentification.reset();
        expect_ = Expect::Nothing;
        break;
      }
      case kRomRead:
        f.kind = DecodedFrame::Kind::RomRead;
        f.address = Be32(b + 4);
        f.count = b[8];
        expect_ = Expect::RomRead;
        expectCount_ = f.count;
        break;
      case kRomWrite:
        f.kind = DecodedFrame::Kind::RomWrite;
        f.address = Be32(b + 4);
        f.count = static_cast<std::uint32_t>(payload - 4);
        f.data = {b + 8, payload - 4};
        expect_ = Expect::RomAck;
        pendingWrite_ = InMonitorRam(f.address) ? f.count : 0;
        break;
      case kRomGo:
        f.kind = DecodedFrame::Kind::RomGo;
        f.address = Be32(b + 4);
        expect_ = Expect::RomAck;
        expectGo_ = true;
        pendingGo_ = f.address;
        break;
    }
    Emit(f);
    return;
  }
  // A flash-monitor request.
  const std::uint8_t code = b[1];
  const std::size_t n = Be16(b + 2);
  const std::span<const std::uint8_t> d{b + 4, n};
  f.kind = DecodedFrame::Kind::Request;
  f.code = code;
  f.data = d;
  expect_ = Expect::Reply;
  expectCode_ = code;
  expectCount_ = 0;
  const Command* command = FindCommand(code);
  if (!command) {
    f.meaning = "a command the monitor does not know";
    Emit(f);
    return;
  }
  if (!Fits(command->payload, d)) {
    // The monitor drops it: nothing it asks for happens.
    f.meaning = "malformed data for this command";
    expect_ = Expect::Nothing;
    Emit(f);
    return;
  }
  switch (code) {
    case kErase: {
      summary_.eraseReached = true;
      const std::vector<kv70sim::Sector> table =
          summary_.record ? kv70sim::SectorTable(summary_.record->flashType)
                          : std::vector<kv70sim::Sector>{};
      for (std::size_t i = 0; i < d[0]; ++i) {
        const std::uint32_t start = Be32(&d[1 + 4 * i]);
        summary_.eraseSectors.push_back(start);
        auto it = std::find_if(table.begin(), table.end(),
                               [start](const kv70sim::Sector& x) { return x.start == start; });
        // A start the device's table does not hold erases nothing; its size is unknown.
        if (it != table.end()) AddRange(summary_.eraseRanges, start, it->size);
      }
      f.count = d[0];
      break;
    }
    case kProgram:
      f.address = Be32(d.data());
      f.count = static_cast<std::uint32_t>(n - 4);
      f.data = d.subspan(4);
      expectAddress_ = f.address;
      expectCount_ = f.count;
      break;
    case kRead:
      f.address = Be32(d.data());
      f.count = Be16(d.data() + 4);
      expectAddress_ = f.address;
      expectCount_ = f.count;
      break;
    case kReboot:
      summary_.rebootSent = true;
      break;
    case kEraseFileSystem:
      summary_.fileSystemEraseReached = true;
      break;
    default:
      break;
  }
  Emit(f);
}

void LineDecoder::OnFromDevice(const Stream& s, std::size_t at, std::size_t length) {
  const std::uint8_t* b = s.bytes.data() + at;
  DecodedFrame f;
  f.fromDevice = true;
  f.ms = MsAt(s, at);
  f.bytes = {b, length};
  if (length == 1) {  // the ROM monitor's acknowledgement (only taken when awaited)
    f.kind = DecodedFrame::Kind::RomAck;
    f.matches = true;
    if (expectProbe_) summary_.romMonitorAnswered = true;
    summary_.monitorBytesWritten += pendingWrite_;
    if (expectGo_ && InMonitorRam(pendingGo_)) summary_.monitorStartedAt = pendingGo_;
    expect_ = Expect::Nothing;
    expectGo_ = expectProbe_ = false;
    pendingWrite_ = 0;
    Emit(f);
    return;
  }
  if (b[1] == 0x00 && b[2] == kRomReadReply) {
    f.kind = DecodedFrame::Kind::RomReadReply;
    f.code = kRomReadReply;
    f.count = b[3];
    f.data = {b + 4, f.count};
    f.matches = expect_ == Expect::RomRead && f.count == expectCount_;
    if (f.matches) expect_ = Expect::Nothing;
    Emit(f);
    return;
  }
  const std::uint8_t code = b[1];
  const std::size_t n = Be16(b + 2);
  const std::span<const std::uint8_t> d{b + 4, n};
  f.kind = DecodedFrame::Kind::Reply;
  f.code = code;
  f.count = static_cast<std::uint32_t>(n);
  f.data = d;
  f.matches = expect_ == Expect::Reply && code == expectCode_;
  if (!f.matches) {
    f.meaning = "not the reply awaited, ignored";
    Emit(f);
    return;
  }
  expect_ = Expect::Nothing;
  summary_.monitorAnswered = true;
  const int first = d.empty() ? -1 : d[0];
  switch (code) {
    case kErase:
      if (first == 1) {
        summary_.eraseAccepted = true;
        f.meaning = "erasing";
      } else if (first == 2) {
        summary_.eraseFailed = true;
        f.meaning = "refused";
      }
      break;
    case kEraseStatus:
      if (first == 1) {
        summary_.eraseFinished = true;
        f.meaning = "finished";
      } else if (first == 2) {
        summary_.eraseFailed = true;
        f.meaning = "failed";
      } else {
        f.meaning = "busy";
      }
      break;
    case kProgram:
      f.address = expectAddress_;
      if (n == 1 && first == 1) {
        AddRange(summary_.programmed, expectAddress_, expectCount_);
        f.meaning = "programmed";
      } else if (n == 1 && first == 0) {
        ++summary_.programRefusals;
        f.meaning = "refused";
      } else {
        f.meaning = "not an answer to a program request";
      }
      break;
    case kRead:
      f.address = expectAddress_;
      if (n == expectCount_) {
        AddRange(summary_.read, expectAddress_, expectCount_);
        f.meaning = "read";
      } else {
        f.meaning = "wrong length, not taken";
      }
      break;
    case kReadConfig:
      if (n == DeviceRecord::kSize) {
        summary_.record = DeviceRecord::Decode(d.first<DeviceRecord::kSize>());
        ++summary_.recordsRead;
        f.record = &*summary_.record;
        f.meaning = "configuration record";
      } else {
        f.meaning = "wrong size, not a configuration record";
      }
      break;
    case kGarbage:
      if (first == 1) {
        summary_.garbageCollected = true;
        f.meaning = "collected";
      } else {
        f.meaning = "refused";
      }
      break;
    case kProgramDone:
      if (first == 1) {
        summary_.programDone = true;
        f.meaning = "confirmed";
      } else {
        f.meaning = "not confirmed";
      }
      break;
    case kReboot:
      summary_.rebootAnswered = true;
      f.meaning = "restarting";
      break;
    case kPing:
      f.meaning = "answered";
      break;
    case kEraseFileSystem:
      f.meaning = first == 1 ? "erased" : "refused";
      break;
    default:
      break;
  }
  Emit(f);
}

}  // namespace velmora
