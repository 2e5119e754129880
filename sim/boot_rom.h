// The boot ROM and its ROM monitor. After a restart the ROM waits for a loader's
// identification frame; once identified it answers the probe and the read, write and go
// frames (wire layouts in rom_frames.h). A go frame hands the processor to the device.
#pragma once
#include <cstdint>
#include <optional>

#include "sim/machine.h"
#include "sim/rom_frames.h"

namespace kv70sim {

class BootRom {
 public:
  explicit BootRom(Machine& machine) : machine_(machine) {}

  // A restart: no frame under way, nobody identified.
  void Restart() {
    reader_.Reset();
    identifiedReadOnly_ = false;
  }
  // Drops the frame under way (a break, or silence inside it).
  void DropFrame() { reader_.Reset(); }
  // Takes a byte that reached the device at `ns` in the boot ROM or ROM monitor state;
  // returns the address a go frame starts the processor at, once its ack is on the line.
  std::optional<std::uint32_t> Receive(std::uint8_t byte, std::uint64_t ns);
  // Whether the loader that identified itself means only to read.
  bool IdentifiedReadOnly() const { return identifiedReadOnly_; }

 private:
  std::optional<std::uint32_t> OnFrame(std::uint64_t ns);

  Machine& machine_;
  RomFrameReader reader_;
  bool identifiedReadOnly_ = false;
};

}  // namespace kv70sim
