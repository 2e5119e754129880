// The processor, the bus and the flash, without a line.
#include <gtest/gtest.h>

#include "sim/bus.h"
#include "sim/cpu.h"
#include "sim/flash.h"

namespace kv70sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Load(Bus& bus, std::uint32_t address, const Bytes& code) {
  ASSERT_TRUE(bus.Write(address, code.data(), code.size()));
}

TEST(Cpu, RegisterWriteRoutineStoresTheWord) {
  Bus bus(1);
  // 0x810: data 0x7C2A; 0x812: movea.l #0x1E30,A0; movea.l #0x810,A1; move.w (A1),(A0); rts
  Load(bus, 0x810,
       {0x7C, 0x2A, 0x20, 0x7C, 0x00, 0x00, 0x1E, 0x30, 0x22, 0x7C, 0x00, 0x00, 0x08, 0x10, 0x30,
        0x91, 0x4E, 0x75});
  EXPECT_EQ(RunRoutine(bus, 0x812), RunResult::Returned);
  EXPECT_EQ(bus.SystemRegister16(0x1E30), 0x7C2A);
}

TEST(Cpu, SpeedSwitchRoutineSetsBothClockSelects) {
  Bus bus(1);
  EXPECT_EQ(bus.ClockSelectA(), 0xBB);
  Load(bus, 0x80A,
       {0x11, 0xFC, 0xCC, 0xCC, 0x0C, 0x03, 0x11, 0xFC, 0xCC, 0xCC, 0x0C, 0x13, 0x4E, 0x75});
  EXPECT_EQ(RunRoutine(bus, 0x80A), RunResult::Returned);
  EXPECT_EQ(bus.ClockSelectA(), 0xCC);
  EXPECT_EQ(bus.ClockSelectB(), 0xCC);
  EXPECT_EQ(ClockSelectBaud(0xC), 38400u);
  EXPECT_EQ(ClockSelectBaud(0xB), 9600u);
  EXPECT_EQ(ClockSelectBaud(0x3), 0u);
}

TEST(Cpu, StopsOnAnythingElse) {
  struct Row {
    const char* what;
    Bytes code;
    RunResult expected;
  };
  const Row rows[] = {
      {"bra.s *", {0x60, 0xFE}, RunResult::Looping},
      {"nop is not among the routines' instructions", {0x4E, 0x71, 0x4E, 0x75}, RunResult::Crashed},
      {"word move to an odd address",
       {0x20, 0x7C, 0x00, 0x00, 0x1E, 0x31, 0x22, 0x7C, 0x00, 0x00, 0x08, 0x10, 0x30, 0x91, 0x4E,
        0x75},
       RunResult::Crashed},
      {"word move to nowhere",
       {0x20, 0x7C, 0x00, 0x50, 0x00, 0x00, 0x22, 0x7C, 0x00, 0x00, 0x08, 0x10, 0x30, 0x91, 0x4E,
        0x75},
       RunResult::Crashed},
      {"byte store to a negative short address",
       {0x11, 0xFC, 0x00, 0x00, 0x80, 0x00, 0x4E, 0x75},
       RunResult::Crashed},
      {"code running out of RAM", {}, RunResult::Crashed},
  };
  for (const auto& row : rows) {
    Bus bus(1);
    if (!row.code.empty()) Load(bus, 0x820, row.code);
    std::uint32_t start = row.code.empty() ? 0xBFE : 0x820;
    if (row.code.empty()) Load(bus, 0xBFE, {0x20, 0x7C});  // movea.l whose operand lies past RAM
    EXPECT_EQ(RunRoutine(bus, start), row.expected) << row.what;
  }
}

TEST(Bus, ChipSelectsGateRamAndFlash) {
  Bus bus(1);
  std::uint8_t b = 0;
  EXPECT_FALSE(bus.Read(0x200000, &b, 1));
  EXPECT_FALSE(bus.Read(0x02400000, &b, 1));
  EXPECT_FALSE(bus.Read(0x02800000, &b, 1));
  bus.ConfigureAsSetUp();
  EXPECT_TRUE(bus.Read(0x200000, &b, 1));
  EXPECT_TRUE(bus.Read(0x02400000, &b, 1));
  EXPECT_EQ(b, 0xFF);
  EXPECT_TRUE(bus.Read(0x028FFFFF, &b, 1));
  EXPECT_FALSE(bus.Read(0x02900000, &b, 1));   // past 1 MiB of file system
  EXPECT_FALSE(bus.Write(0x02400000, &b, 1));  // flash is not written on the bus

  // One wrong value in row 1 deselects both flash banks but not the RAM.
  const std::uint8_t wrong[] = {0x01, 0xFF, 0xFF, 0x77};
  ASSERT_TRUE(bus.Write(0xFFF048, wrong, 4));
  EXPECT_FALSE(bus.ChipSelectRowOk(1));
  EXPECT_FALSE(bus.Read(0x02400000, &b, 1));
  EXPECT_TRUE(bus.Read(0x200000, &b, 1));
}

TEST(Bus, AccessMustLieInOneArea) {
  Bus bus(1);
  std::uint8_t two[2] = {1, 2};
  EXPECT_TRUE(bus.Write(0xBFE, two, 2));
  EXPECT_FALSE(bus.Write(0xBFF, two, 2));  // runs into the DUART
  EXPECT_FALSE(bus.Write(0x3FF, two, 1));
}

TEST(NorFlash, ProgrammingOnlyClearsBits) {
  NorFlash flash(0x1000, 16);
  EXPECT_TRUE(flash.Program(0x1000, Bytes{0xF0, 0x0F}));
  EXPECT_TRUE(flash.Program(0x1000, Bytes{0x30, 0x0F}));  // clears two more bits
  EXPECT_FALSE(flash.Program(0x1000, Bytes{0xFF}));       // cannot set them again
  EXPECT_EQ(flash.Bytes()[0], 0x30);
  flash.Erase(0x1000, 1);
  EXPECT_EQ(flash.Bytes()[0], 0xFF);
  EXPECT_EQ(flash.Bytes()[1], 0x0F);
  EXPECT_TRUE(flash.Covers(0x100F, 1));
  EXPECT_FALSE(flash.Covers(0x100F, 2));
  EXPECT_FALSE(flash.Covers(0x0FFF, 1));
}

TEST(SectorTable, FourLayoutsByFlashType) {
  struct Row {
    std::uint16_t type;
    std::size_t count;
    std::vector<std::uint32_t> firstStarts;
    std::uint32_t lastStart;
  };
  const Row rows[] = {
      {8922, 37, {0x02400000, 0x02410000}, 0x025FA000},
      {215, 37, {0x02400000, 0x02410000}, 0x025FA000},
      {8795, 37, {0x02400000, 0x02404000, 0x02406000, 0x02408000, 0x02410000}, 0x025E0000},
      {91, 37, {0x02400000, 0x02404000, 0x02406000, 0x02408000, 0x02410000}, 0x025E0000},
      {8900, 34, {0x02400000, 0x02410000}, 0x025FA000},
      {8777, 34, {0x02400000, 0x02404000, 0x02406000, 0x02408000, 0x02410000}, 0x025E0000},
      {0, 0, {}, 0},
  };
  for (const auto& row : rows) {
    auto table = SectorTable(row.type);
    ASSERT_EQ(table.size(), row.count) << row.type;
    for (std::size_t i = 0; i < row.firstStarts.size(); ++i)
      EXPECT_EQ(table[i].start, row.firstStarts[i]) << row.type;
    if (row.count) {
      EXPECT_EQ(table.back().start, row.lastStart) << row.type;
    }
    // Sectors never overlap and stay inside program flash.
    for (std::size_t i = 0; i + 1 < table.size(); ++i)
      EXPECT_LE(table[i].start + table[i].size, table[i + 1].start);
    if (row.count) {
      EXPECT_LE(table.back().start + table.back().size, 0x02600000u);
    }
  }
  auto a = SectorTable(8922);
  EXPECT_EQ(a[16].start, 0x024F8000u);
  EXPECT_EQ(a[18].start, 0x024FC000u);
  EXPECT_EQ(a[19].start, 0x02500000u);
}

}  // namespace
}  // namespace kv70sim
