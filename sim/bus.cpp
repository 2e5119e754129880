#include "sim/bus.h"

#include <cstring>

namespace kv70sim {

namespace {

// Chip-select rows the set-up must leave: row, base-register address, its value,
// option-register address, its value. A row that holds anything else leaves its
// devices unselected.
struct ChipSelectRow {
  int row;
  std::uint32_t baseRegister;
  std::uint32_t baseValue;
  std::uint32_t optionRegister;
  std::uint32_t optionValue;
};
constexpr ChipSelectRow kChipSelects[] = {
    {1, 0xFFF04C, 0x02400011, 0xFFF048, 0x01FFFF75},
    {2, 0xFFF054, 0x00200011, 0xFFF050, 0x001FFF77},
    {3, 0xFFF05C, 0x00100011, 0xFFF058, 0x0003FF7F},
};

// Clock-select nibble, bit/s.
struct BaudRow {
  std::uint8_t nibble;
  std::uint32_t baud;
};
constexpr BaudRow kBauds[] = {{0x8, 2400}, {0x9, 4800}, {0xB, 9600}, {0xC, 38400}};

constexpr std::uint8_t kPowerOnClockSelect = 0xBB;  // 9600 bit/s both ways
constexpr std::uint8_t kFastClockSelect = 0xCC;     // 38400 bit/s both ways

}  // namespace

std::uint32_t ClockSelectBaud(std::uint8_t nibble) {
  for (const auto& row : kBauds)
    if (row.nibble == nibble) return row.baud;
  return 0;
}

Bus::Bus(std::uint32_t fsMb)
    : ram256k_(0x40000, 0),
      mainRam_(kMainRamSize, 0),
      prog_(kProgFlashBase, kProgFlashSize),
      fs_(kFsFlashBase, static_cast<std::size_t>(fsMb) << 20) {
  ResetRegisters();
}

void Bus::ResetRegisters() {
  duart_.fill(0);
  system_.fill(0);
  module_.fill(0);
  duart_[kDuartClockSelectA - 0x0C00] = kPowerOnClockSelect;
  duart_[kDuartClockSelectB - 0x0C00] = kPowerOnClockSelect;
}

void Bus::ConfigureAsSetUp() {
  for (const auto& cs : kChipSelects) {
    for (auto [reg, value] :
         {std::pair{cs.baseRegister, cs.baseValue}, {cs.optionRegister, cs.optionValue}}) {
      std::uint8_t* p = &module_[reg - 0xFFF000];
      p[0] = static_cast<std::uint8_t>(value >> 24);
      p[1] = static_cast<std::uint8_t>(value >> 16);
      p[2] = static_cast<std::uint8_t>(value >> 8);
      p[3] = static_cast<std::uint8_t>(value);
    }
  }
  duart_[kDuartClockSelectA - 0x0C00] = kFastClockSelect;
  duart_[kDuartClockSelectB - 0x0C00] = kFastClockSelect;
}

std::uint32_t Bus::ModuleRegister32(std::uint32_t address) const {
  const std::uint8_t* p = &module_[address - 0xFFF000];
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

std::uint16_t Bus::SystemRegister16(std::uint32_t address) const {
  const std::uint8_t* p = &system_[address - 0x1E00];
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

bool Bus::ChipSelectRowOk(int row) const {
  for (const auto& cs : kChipSelects) {
    if (cs.row == row)
      return ModuleRegister32(cs.baseRegister) == cs.baseValue &&
             ModuleRegister32(cs.optionRegister) == cs.optionValue;
  }
  return false;
}

Bus::Area Bus::Find(std::uint32_t address, std::size_t count) const {
  auto in = [&](std::uint32_t base, std::size_t size) {
    return address >= base && address - base < size && count <= size - (address - base);
  };
  if (in(0x400, internalRam_.size())) return Area::InternalRam;
  if (in(0x0C00, duart_.size())) return Area::Duart;
  if (in(0x1E00, system_.size())) return Area::System;
  if (in(0xFFF000, module_.size())) return Area::Module;
  if (in(0x100000, ram256k_.size())) return ChipSelectRowOk(3) ? Area::Ram256k : Area::None;
  if (in(kMainRamBase, mainRam_.size())) return ChipSelectRowOk(2) ? Area::MainRam : Area::None;
  if (prog_.Covers(address, count)) return FlashSelected() ? Area::Prog : Area::None;
  if (fs_.Size() && fs_.Covers(address, count)) return FlashSelected() ? Area::Fs : Area::None;
  return Area::None;
}

std::uint8_t* Bus::Ptr(Area area, std::uint32_t address) {
  switch (area) {
    case Area::InternalRam:
      return &internalRam_[address - 0x400];
    case Area::Duart:
      return &duart_[address - 0x0C00];
    case Area::System:
      return &system_[address - 0x1E00];
    case Area::Module:
      return &module_[address - 0xFFF000];
    case Area::Ram256k:
      return &ram256k_[address - 0x100000];
    case Area::MainRam:
      return &mainRam_[address - kMainRamBase];
    case Area::Prog:
      return prog_.Bytes().data() + (address - kProgFlashBase);
    case Area::Fs:
      return fs_.Bytes().data() + (address - kFsFlashBase);
    case Area::None:
      break;
  }
  return nullptr;
}

bool Bus::Read(std::uint32_t address, std::uint8_t* out, std::size_t count) const {
  Area area = Find(address, count);
  if (area == Area::None) return false;
  std::memcpy(out, const_cast<Bus*>(this)->Ptr(area, address), count);
  return true;
}

bool Bus::Write(std::uint32_t address, const std::uint8_t* data, std::size_t count) {
  Area area = Find(address, count);
  if (area == Area::None || area == Area::Prog || area == Area::Fs) return false;
  std::memcpy(Ptr(area, address), data, count);
  return true;
}

}  // namespace kv70sim
