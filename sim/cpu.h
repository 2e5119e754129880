// The part of the 68000 instruction set that the loader's routines use, executed against
// the bus. Anything else stops the processor, as a real one would stop in an exception
// handler that never talks to the PC again.
#pragma once
#include <cstdint>

#include "sim/bus.h"

namespace kv70sim {

enum class RunResult {
  Returned,  // rts: back in the ROM monitor
  Looping,   // bra.s * : the processor idles forever
  Crashed,   // illegal instruction, bus or address error, runaway code
};

// Runs the code at `pc` until it returns, idles or fails.
RunResult RunRoutine(Bus& bus, std::uint32_t pc);

}  // namespace kv70sim
