#include "sim/cpu.h"

namespace kv70sim {

namespace {

// Opcode words (big-endian) and their extension words:
//   207C hhhh llll   movea.l #imm32,A0
//   227C hhhh llll   movea.l #imm32,A1
//   3091             move.w (A1),(A0)
//   11FC 00ii aaaa   move.b #imm8,abs.w   (abs.w sign-extended; the immediate's high byte is
//   ignored) 4E75             rts 60FE             bra.s *
constexpr std::uint16_t kMoveaA0 = 0x207C;
constexpr std::uint16_t kMoveaA1 = 0x227C;
constexpr std::uint16_t kMoveWordA1ToA0 = 0x3091;
constexpr std::uint16_t kMoveByteImmAbsW = 0x11FC;
constexpr std::uint16_t kRts = 0x4E75;
constexpr std::uint16_t kBraSelf = 0x60FE;

// The loader's routines are a handful of instructions; a longer run is code gone astray.
constexpr int kMaxInstructions = 4096;

bool Fetch16(const Bus& bus, std::uint32_t address, std::uint16_t& word) {
  std::uint8_t b[2];
  if (address & 1 || !bus.Read(address, b, 2)) return false;
  word = static_cast<std::uint16_t>((b[0] << 8) | b[1]);
  return true;
}

bool Fetch32(const Bus& bus, std::uint32_t address, std::uint32_t& value) {
  std::uint16_t high, low;
  if (!Fetch16(bus, address, high) || !Fetch16(bus, address + 2, low)) return false;
  value = (std::uint32_t{high} << 16) | low;
  return true;
}

}  // namespace

RunResult RunRoutine(Bus& bus, std::uint32_t pc) {
  std::uint32_t a0 = 0, a1 = 0;
  for (int step = 0; step < kMaxInstructions; ++step) {
    std::uint16_t op;
    if (!Fetch16(bus, pc, op)) return RunResult::Crashed;
    switch (op) {
      case kMoveaA0:
      case kMoveaA1: {
        std::uint32_t value;
        if (!Fetch32(bus, pc + 2, value)) return RunResult::Crashed;
        (op == kMoveaA0 ? a0 : a1) = value;
        pc += 6;
        break;
      }
      case kMoveWordA1ToA0: {
        std::uint8_t word[2];
        if ((a0 | a1) & 1 || !bus.Read(a1, word, 2) || !bus.Write(a0, word, 2))
          return RunResult::Crashed;
        pc += 2;
        break;
      }
      case kMoveByteImmAbsW: {
        std::uint16_t imm, abs;
        if (!Fetch16(bus, pc + 2, imm) || !Fetch16(bus, pc + 4, abs)) return RunResult::Crashed;
        auto address =
            static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int16_t>(abs)));
        auto byte = static_cast<std::uint8_t>(imm);
        if (!bus.Write(address, &byte, 1)) return RunResult::Crashed;
        pc += 6;
        break;
      }
      case kRts:
        return RunResult::Returned;
      case kBraSelf:
        return RunResult::Looping;
      default:
        return RunResult::Crashed;
    }
  }
  return RunResult::Crashed;
}

}  // namespace kv70sim
