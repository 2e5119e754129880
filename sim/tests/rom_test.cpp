// Boot ROM and ROM monitor, from the PC's end of the line, with hand-built frames.
#include <gtest/gtest.h>

#include "sim/monitor_image.h"
#include "sim/tests/line.h"

namespace kv70sim {
namespace {

using namespace testing;

// Polls the line's error flags every 100 ms for `ms`; returns the times breaks were seen.
std::vector<std::uint64_t> WatchBreaks(Line& line, int ms) {
  std::vector<std::uint64_t> seen;
  for (int t = 0; t < ms; t += 100) {
    line.clock.SleepMs(100);
    if (line.BreakSeen()) seen.push_back(line.NowMs());
  }
  return seen;
}

void Identify(Line& line, const std::string& text = kReadOnlyId) {
  ASSERT_FALSE(WatchBreaks(line, 1000).empty());
  line.Send(Identification(text));
}

TEST(BootRom, SignalsTheConfiguredBreaks) {
  Line line("breaks=3,boot-ms=300,break-interval-ms=1000");
  auto seen = WatchBreaks(line, 5000);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], 300u);
  EXPECT_EQ(seen[1], 1300u);
  EXPECT_EQ(seen[2], 2300u);
  EXPECT_EQ(line.device->GetCounters().breaksSent, 3u);
}

TEST(BootRom, ProbeIsAnsweredOnlyAfterAGoodIdentification) {
  struct Row {
    const char* what;
    Bytes identification;
    bool answered;
  };
  Bytes badSum = Identification(kReadOnlyId);
  badSum[88] ^= 1;
  std::string otherText = kReadOnlyId;
  otherText[0] = 'Q';
  Bytes longer = Identification(kReadOnlyId);
  longer[3] = 0x55;  // one more character announced than sent
  const Row rows[] = {
      {"read-only text", Identification(kReadOnlyId), true},
      {"upgrade text", Identification(kUpgradeId), true},
      {"no identification", {}, false},
      {"wrong checksum", badSum, false},
      {"another text", Identification(otherText), false},
      {"wrong length", longer, false},
  };
  for (const auto& row : rows) {
    Line line("");
    ASSERT_FALSE(WatchBreaks(line, 1000).empty());
    if (!row.identification.empty()) line.Send(row.identification);
    line.clock.SleepMs(1000);
    EXPECT_EQ(line.Exchange(kProbe, 1), row.answered ? kAck : Bytes{}) << row.what;
  }
}

TEST(BootRom, DeafBeforeTheFirstBreak) {
  Line line("boot-ms=2000");
  line.clock.SleepMs(500);
  line.Send(Identification(kReadOnlyId));
  line.clock.SleepMs(2000);
  EXPECT_TRUE(line.Exchange(kProbe, 1).empty());
}

TEST(BootRom, TellsWhichLoaderIdentified) {
  Line line("");
  Identify(line, kUpgradeId);
  EXPECT_EQ(line.Exchange(kProbe, 1), kAck);
  EXPECT_FALSE(line.device->IdentifiedReadOnly());
  EXPECT_EQ(line.device->State(), DeviceState::RomMonitor);
}

TEST(RomMonitor, WriteReadAndChecksums) {
  Line line("");
  Identify(line);
  // Bulk write of 4 bytes to internal RAM: acknowledged; typed ending works as well.
  EXPECT_EQ(line.Exchange(RomWrite(0x900, {0xDE, 0xAD, 0xBE, 0xEF}, true), 1), kAck);
  EXPECT_EQ(line.Exchange(RomWrite(0x904, {0x12}), 1), kAck);
  // Read them back: 02 00 92 05 data sum 03.
  Bytes reply = line.Exchange(RomRead(0x900, 5), 100);
  auto sum = static_cast<std::uint8_t>(0x92 + 0x05 + 0xDE + 0xAD + 0xBE + 0xEF + 0x12);
  EXPECT_EQ(reply, (Bytes{0x02, 0x00, 0x92, 0x05, 0xDE, 0xAD, 0xBE, 0xEF, 0x12, sum, 0x03}));

  // The same write with one wrong checksum byte: no acknowledgement, memory unchanged.
  Bytes bad = RomWrite(0x900, {0x00, 0x00, 0x00, 0x00}, true);
  bad[12] ^= 0x01;
  EXPECT_TRUE(line.Exchange(bad, 1).empty());
  EXPECT_EQ(line.Exchange(RomRead(0x900, 1), 100)[4], 0xDE);
}

TEST(RomMonitor, BusErrorsGetNoAnswer) {
  struct Row {
    const char* what;
    Bytes frame;
  };
  const Row rows[] = {
      {"write to unmapped memory", RomWrite(0x00500000, {1}, true)},
      {"write to program flash", RomWrite(0x02400000, {0}, true)},
      {"write to RAM before its chip select", RomWrite(0x00200000, {0}, true)},
      {"read of flash before its chip select", RomRead(0x02400000, 4)},
      {"read of unmapped memory", RomRead(0x00000000, 4)},
  };
  for (const auto& row : rows) {
    Line line("");
    Identify(line);
    EXPECT_TRUE(line.Exchange(row.frame, 8).empty()) << row.what;
  }
}

TEST(RomMonitor, ChipSelectsOpenRamAndFlash) {
  Line line("");
  Identify(line);
  EXPECT_TRUE(line.Exchange(RomRead(0x02400000, 4), 10).empty());
  // The three rows, option register then base register, as 32-bit values.
  const std::uint32_t rows[][4] = {{0xFFF048, 0x01FFFF75, 0xFFF04C, 0x02400011},
                                   {0xFFF050, 0x001FFF77, 0xFFF054, 0x00200011},
                                   {0xFFF058, 0x0003FF7F, 0xFFF05C, 0x00100011}};
  for (const auto& r : rows) {
    ASSERT_EQ(line.Exchange(RomWrite(r[0], Be32(r[1])), 1), kAck);
    ASSERT_EQ(line.Exchange(RomWrite(r[2], Be32(r[3])), 1), kAck);
  }
  EXPECT_EQ(line.Exchange(RomWrite(0x200000, {0x55}, true), 1), kAck);
  EXPECT_EQ(line.Exchange(RomRead(0x02400000, 4), 10).size(), 10u);
}

TEST(RomMonitor, RegisterWriteRoutineRunsOnGo) {
  Line line("");
  Identify(line);
  // Nine words to 0x810: value 0x8F14, movea.l #0x1E34,A0, movea.l #0x810,A1, move.w (A1),(A0),
  // rts.
  Bytes routine{0x8F, 0x14, 0x20, 0x7C, 0x00, 0x00, 0x1E, 0x34, 0x22,
                0x7C, 0x00, 0x00, 0x08, 0x10, 0x30, 0x91, 0x4E, 0x75};
  ASSERT_EQ(line.Exchange(RomWrite(0x810, routine), 1), kAck);
  ASSERT_EQ(line.Exchange(RomGo(0x812), 1), kAck);
  EXPECT_EQ(line.device->GetBus().SystemRegister16(0x1E34), 0x8F14);
  // Still in the ROM monitor: probes are answered.
  EXPECT_EQ(line.Exchange(kProbe, 1), kAck);
}

TEST(RomMonitor, UnknownCodeStopsTheDevice) {
  Line line("");
  Identify(line);
  ASSERT_EQ(line.Exchange(RomWrite(0x820, {0x4E, 0x71}), 1), kAck);  // nop
  EXPECT_EQ(line.Exchange(RomGo(0x820), 1), kAck);                   // acknowledged, then lost
  EXPECT_EQ(line.device->State(), DeviceState::Halted);
  EXPECT_TRUE(line.Exchange(kProbe, 1).empty());
}

TEST(RomMonitor, SpeedSwitchGarblesTheOldSpeed) {
  Line line("seed=5");
  Identify(line);
  Bytes speedSwitch{0x11, 0xFC, 0xCC, 0xCC, 0x0C, 0x03, 0x11,
                    0xFC, 0xCC, 0xCC, 0x0C, 0x13, 0x4E, 0x75};
  ASSERT_EQ(line.Exchange(RomWrite(0x80A, speedSwitch, true), 1), kAck);
  ASSERT_EQ(line.Exchange(RomGo(0x80A), 1), kAck);  // the acknowledgement still at 9600
  EXPECT_EQ(line.device->DeviceBaud(), 38400u);
  // At 9600 the probe arrives garbled and nothing useful comes back.
  Bytes atOldSpeed = line.Exchange(kProbe, 1);
  EXPECT_NE(atOldSpeed, kAck);
  line.SetBaud(38400);
  line.port.Purge(PURGE_RXCLEAR);
  EXPECT_EQ(line.Exchange(kProbe, 1), kAck);
}

TEST(RomMonitor, GoToTheMonitorImageStartsIt) {
  Line line("");
  std::string failure;
  ASSERT_TRUE(BringUpMonitor(line, failure)) << failure;
  EXPECT_EQ(line.device->State(), DeviceState::FlashMonitor);
}

TEST(RomMonitor, MonitorStartsOnlyFromTheExactImage) {
  struct Row {
    const char* what;
    std::size_t changedByte;  // SIZE_MAX: none
    DeviceState expected;
  };
  const Row rows[] = {
      {"the image", SIZE_MAX, DeviceState::FlashMonitor},
      {"first byte changed", 0, DeviceState::Halted},
      {"a middle byte changed", 4000, DeviceState::Halted},
      {"last byte changed", kBuiltInMonitorSize - 1, DeviceState::Halted},
  };
  for (const auto& row : rows) {
    Line line("");
    Identify(line);
    ASSERT_EQ(line.Exchange(RomWrite(0xFFF050, Be32(0x001FFF77)), 1), kAck);
    ASSERT_EQ(line.Exchange(RomWrite(0xFFF054, Be32(0x00200011)), 1), kAck);
    std::uint8_t* ram = line.device->GetBus().MainRam();
    std::copy(kBuiltInMonitor, kBuiltInMonitor + kBuiltInMonitorSize, ram);
    if (row.changedByte != SIZE_MAX) ram[row.changedByte] ^= 0x01;
    EXPECT_EQ(line.Exchange(RomGo(0x200000), 1), kAck) << row.what;
    EXPECT_EQ(line.device->State(), row.expected) << row.what;
  }
}

}  // namespace
}  // namespace kv70sim
