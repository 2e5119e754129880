#include "sim/flash.h"

#include <algorithm>

namespace kv70sim {

bool NorFlash::Program(std::uint32_t address, std::span<const std::uint8_t> data) {
  std::uint8_t* cell = bytes_.data() + (address - base_);
  bool holds = true;
  for (std::size_t i = 0; i < data.size(); ++i) {
    cell[i] &= data[i];
    holds = holds && cell[i] == data[i];
  }
  return holds;
}

void NorFlash::Erase(std::uint32_t address, std::size_t count) {
  std::fill_n(bytes_.begin() + (address - base_), count, 0xFF);
}

namespace {

// A run of equal sectors: first start address, sector size, number of sectors.
struct Run {
  std::uint32_t start;
  std::uint32_t size;
  std::uint32_t count;
};

// Two 1 MiB top-boot chips; the second chip's 16 KiB boot block is not erasable.
constexpr Run kTopBootPair[] = {
    {0x02400000, 0x10000, 15}, {0x024F0000, 0x8000, 1},   {0x024F8000, 0x2000, 2},
    {0x024FC000, 0x4000, 1},   {0x02500000, 0x10000, 15}, {0x025F0000, 0x8000, 1},
    {0x025F8000, 0x2000, 2},
};
// Two 1 MiB bottom-boot chips; the second chip's last 64 KiB sector is not erasable.
constexpr Run kBottomBootPair[] = {
    {0x02400000, 0x4000, 1},   {0x02404000, 0x2000, 2},   {0x02408000, 0x8000, 1},
    {0x02410000, 0x10000, 15}, {0x02500000, 0x4000, 1},   {0x02504000, 0x2000, 2},
    {0x02508000, 0x8000, 1},   {0x02510000, 0x10000, 14},
};
// One 2 MiB top-boot chip, boot block not erasable.
constexpr Run kTopBootSingle[] = {
    {0x02400000, 0x10000, 31},
    {0x025F0000, 0x8000, 1},
    {0x025F8000, 0x2000, 2},
};
// One 2 MiB bottom-boot chip, last sector not erasable.
constexpr Run kBottomBootSingle[] = {
    {0x02400000, 0x4000, 1},
    {0x02404000, 0x2000, 2},
    {0x02408000, 0x8000, 1},
    {0x02410000, 0x10000, 30},
};

struct TypeRow {
  std::uint16_t flashType;
  std::span<const Run> runs;
};
const TypeRow kTypes[] = {
    {8922, kTopBootPair},  {215, kTopBootPair},    {8795, kBottomBootPair},
    {91, kBottomBootPair}, {8900, kTopBootSingle}, {8777, kBottomBootSingle},
};

}  // namespace

std::vector<Sector> SectorTable(std::uint16_t flashType) {
  std::vector<Sector> sectors;
  for (const auto& row : kTypes) {
    if (row.flashType != flashType) continue;
    for (const auto& run : row.runs)
      for (std::uint32_t i = 0; i < run.count; ++i)
        sectors.push_back({run.start + i * run.size, run.size});
  }
  return sectors;
}

}  // namespace kv70sim
