// The device's address space as the ROM monitor and the CPU see it: internal RAM where
// the loader's routines run, the DUART, the system registers, the module registers that
// hold the chip selects, the external RAM and the two flash banks.
//
// Address map (all other addresses are a bus error):
//   0x00000400-0x00000BFF  internal RAM (routines)               always
//   0x00000C00-0x00000C1F  DUART; 0x0C03 / 0x0C13 clock select    always
//   0x00001E00-0x00001FFF  system registers                       always
//   0x00100000-0x0013FFFF  RAM, 256 KiB                           chip-select row 3
//   0x00200000-0x003FFFFF  RAM, 2 MiB (the flash monitor's home)  chip-select row 2
//   0x02400000-0x025FFFFF  program flash, 2 MiB (read only here)  chip-select rows 1-3
//   0x02800000-...         file-system flash, fs-mb MiB           chip-select rows 1-3
//   0x00FFF000-0x00FFF0FF  module registers (chip selects)        always
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "sim/flash.h"

namespace kv70sim {

constexpr std::uint32_t kMainRamBase = 0x00200000;
constexpr std::uint32_t kMainRamSize = 0x00200000;
constexpr std::uint32_t kProgFlashBase = 0x02400000;
constexpr std::uint32_t kProgFlashSize = 0x00200000;
constexpr std::uint32_t kFsFlashBase = 0x02800000;
constexpr std::uint32_t kDuartClockSelectA = 0x0C03;  // the line to the PC
constexpr std::uint32_t kDuartClockSelectB = 0x0C13;

// Line speed of a clock-select value's receive (high) or transmit (low) nibble; 0 for
// a code the device's DUART does not run the line at.
std::uint32_t ClockSelectBaud(std::uint8_t nibble);

class Bus {
 public:
  explicit Bus(std::uint32_t fsMb);

  // Whole-range accesses; false (and nothing done) on a bus error anywhere in the range.
  // Flash is read-only on the bus: it is programmed through the flash monitor.
  bool Read(std::uint32_t address, std::uint8_t* out, std::size_t count) const;
  bool Write(std::uint32_t address, const std::uint8_t* data, std::size_t count);

  // Power-on state of the registers (RAM and flash keep their contents).
  void ResetRegisters();
  // The register values the connection set-up leaves (chip selects, 38400 bit/s).
  void ConfigureAsSetUp();

  bool ChipSelectRowOk(int row) const;
  bool FlashSelected() const {
    return ChipSelectRowOk(1) && ChipSelectRowOk(2) && ChipSelectRowOk(3);
  }

  std::uint8_t ClockSelectA() const { return duart_[kDuartClockSelectA - 0x0C00]; }
  std::uint8_t ClockSelectB() const { return duart_[kDuartClockSelectB - 0x0C00]; }
  std::uint32_t ModuleRegister32(std::uint32_t address) const;
  std::uint16_t SystemRegister16(std::uint32_t address) const;
  std::uint8_t ModuleRegister8(std::uint32_t address) const { return module_[address - 0xFFF000]; }

  NorFlash& ProgFlash() { return prog_; }
  NorFlash& FsFlash() { return fs_; }
  const NorFlash& ProgFlash() const { return prog_; }
  const NorFlash& FsFlash() const { return fs_; }
  std::uint8_t* MainRam() { return mainRam_.data(); }

 private:
  enum class Area { None, InternalRam, Duart, System, Ram256k, MainRam, Prog, Fs, Module };
  Area Find(std::uint32_t address, std::size_t count) const;
  std::uint8_t* Ptr(Area area, std::uint32_t address);

  std::array<std::uint8_t, 0x800> internalRam_{};
  std::array<std::uint8_t, 0x20> duart_{};
  std::array<std::uint8_t, 0x200> system_{};
  std::array<std::uint8_t, 0x100> module_{};
  std::vector<std::uint8_t> ram256k_;
  std::vector<std::uint8_t> mainRam_;
  NorFlash prog_;
  NorFlash fs_;
};

}  // namespace kv70sim
