#include "sim/tests/line.h"

#include "sim/monitor_image.h"

namespace kv70sim::testing {

bool FindReply(const Bytes& bytes, std::uint8_t code, Bytes& data) {
  for (std::size_t i = 0; i + 7 <= bytes.size(); ++i) {
    if (bytes[i] != 0x02 || bytes[i + 1] != code) continue;
    std::size_t n = (std::size_t{bytes[i + 2]} << 8) | bytes[i + 3];
    if (i + 7 + n > bytes.size()) continue;
    std::uint16_t sum = 0;
    for (std::size_t k = i + 1; k < i + 4 + n; ++k)
      sum = static_cast<std::uint16_t>(sum + bytes[k]);
    std::uint16_t got = static_cast<std::uint16_t>((bytes[i + 4 + n] << 8) | bytes[i + 5 + n]);
    if (got != sum || bytes[i + 6 + n] != 0x03) continue;
    data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(i + 4),
                bytes.begin() + static_cast<std::ptrdiff_t>(i + 4 + n));
    return true;
  }
  return false;
}

namespace {

// The register-write routine: data word at 0x810, then movea.l #target,A0;
// movea.l #0x810,A1; move.w (A1),(A0); rts — as nine big-endian words.
Bytes RegisterWriteRoutine(std::uint16_t value, std::uint32_t target) {
  const std::uint16_t words[] = {value,
                                 0x207C,
                                 static_cast<std::uint16_t>(target >> 16),
                                 static_cast<std::uint16_t>(target),
                                 0x227C,
                                 0x0000,
                                 0x0810,
                                 0x3091,
                                 0x4E75};
  Bytes b;
  for (auto w : words) {
    b.push_back(static_cast<std::uint8_t>(w >> 8));
    b.push_back(static_cast<std::uint8_t>(w));
  }
  return b;
}

bool Acked(Line& line, const Bytes& frame) {
  return line.Exchange(frame, 1) == kAck;
}

bool WriteWord(Line& line, std::uint16_t value, std::uint32_t target) {
  return Acked(line, RomWrite(0x810, RegisterWriteRoutine(value, target))) &&
         Acked(line, RomGo(0x812));
}

}  // namespace

bool BringUpMonitor(Line& line, std::string& failure) {
  auto fail = [&](const std::string& what) {
    failure = what + "\n" + line.device->Trace();
    return false;
  };
  // Wait for the boot ROM's break, then identify and probe.
  bool broke = false;
  for (int i = 0; i < 40 && !broke; ++i) {
    line.clock.SleepMs(250);
    broke = line.BreakSeen();
  }
  if (!broke) return fail("no break");
  line.Send(Identification(kReadOnlyId));
  if (line.Exchange(kProbe, 1) != kAck || line.Exchange(kProbe, 1) != kAck) return fail("probe");

  // Register set-up.
  const std::pair<std::uint16_t, std::uint32_t> words1[] = {{0x0A05, 0x1E38}, {0x7C2A, 0x1E30},
                                                            {0x6FD0, 0x1E32}, {0x8F14, 0x1E34},
                                                            {0x0083, 0x1E36}, {0x0000, 0x1E38}};
  for (auto [v, a] : words1)
    if (!WriteWord(line, v, a)) return fail("register word");
  const std::pair<std::uint8_t, std::uint32_t> bytes[] = {
      {0x00, 0xFFF01B}, {0x03, 0xFFF01D}, {0x03, 0xFFF01F}, {0xE7, 0xFFF011},
      {0xFF, 0xFFF013}, {0x3E, 0xFFF015}, {0x40, 0xFFF017}};
  for (auto [v, a] : bytes)
    if (!Acked(line, RomWrite(a, {v}))) return fail("register byte");
  const std::uint32_t chipSelects[][4] = {
      {0xFFF04C, 0xFFF048, 0x02400011, 0x01FFFF75},
      {0xFFF054, 0xFFF050, 0x00200011, 0x001FFF77},
      {0xFFF05C, 0xFFF058, 0x00100011, 0x0003FF7F},
  };
  for (const auto& row : chipSelects) {
    if (!Acked(line, RomWrite(row[1], Be32(row[3]))) ||
        !Acked(line, RomWrite(row[0], Be32(row[2]))))
      return fail("chip select");
  }
  const std::pair<std::uint16_t, std::uint32_t> words2[] = {
      {0x7FFF, 0x1F00}, {0xFF8F, 0x1F02}, {0x8000, 0x1F04}, {0x0041, 0x1F06}};
  for (auto [v, a] : words2)
    if (!WriteWord(line, v, a)) return fail("register word 2");

  // Speed switch.
  const Bytes speedSwitch{0x11, 0xFC, 0xCC, 0xCC, 0x0C, 0x03, 0x11,
                          0xFC, 0xCC, 0xCC, 0x0C, 0x13, 0x4E, 0x75};
  if (!Acked(line, RomWrite(0x80A, speedSwitch, true)) || !Acked(line, RomGo(0x80A)))
    return fail("speed switch");
  line.SetBaud(38400);

  // Upload in chunks of 251 with read-back, then start.
  for (std::size_t off = 0; off < kBuiltInMonitorSize; off += 251) {
    std::size_t n = std::min<std::size_t>(251, kBuiltInMonitorSize - off);
    Bytes chunk(kBuiltInMonitor + off, kBuiltInMonitor + off + n);
    auto address = static_cast<std::uint32_t>(0x200000 + off);
    if (!Acked(line, RomWrite(address, chunk, true))) return fail("upload write");
    Bytes back = line.Exchange(RomRead(address, static_cast<std::uint8_t>(n)), n + 6);
    if (back.size() != n + 6 || !std::equal(chunk.begin(), chunk.end(), back.begin() + 4))
      return fail("read back");
  }
  if (!Acked(line, RomGo(0x200000))) return fail("go");
  line.clock.SleepMs(2000);
  Bytes data;
  if (!FindReply(line.Exchange(Request(0x00)), 0x00, data)) return fail("ping");
  return true;
}

}  // namespace kv70sim::testing
