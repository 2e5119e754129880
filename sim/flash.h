// NOR flash as the device has it: erasing sets bytes to 0xFF, programming can only clear
// bits. And the program-flash sector layouts, one table per flash type.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

namespace kv70sim {

class NorFlash {
 public:
  NorFlash(std::uint32_t base, std::size_t size) : base_(base), bytes_(size, 0xFF) {}

  std::uint32_t Base() const { return base_; }
  std::size_t Size() const { return bytes_.size(); }
  bool Covers(std::uint32_t address, std::size_t count) const {
    return address >= base_ && address - base_ <= bytes_.size() &&
           count <= bytes_.size() - (address - base_);
  }
  // Clears the bits that are 0 in `data`; returns whether the flash then holds `data`
  // (it does not when a bit had to go from 0 to 1). The range must be covered.
  bool Program(std::uint32_t address, std::span<const std::uint8_t> data);
  void Erase(std::uint32_t address, std::size_t count);
  void EraseAll() { std::fill(bytes_.begin(), bytes_.end(), 0xFF); }

  std::span<std::uint8_t> Bytes() { return bytes_; }
  std::span<const std::uint8_t> Bytes() const { return bytes_; }
  const std::uint8_t* At(std::uint32_t address) const { return bytes_.data() + (address - base_); }

 private:
  std::uint32_t base_;
  std::vector<std::uint8_t> bytes_;
};

struct Sector {
  std::uint32_t start;
  std::uint32_t size;
};

// The erasable sectors of program flash for a flash type, in list order; empty for a
// type the device does not know.
std::vector<Sector> SectorTable(std::uint16_t flashType);

}  // namespace kv70sim
