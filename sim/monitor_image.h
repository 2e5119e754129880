// The flash monitor image the device recognises in its RAM: the same 8554 bytes a
// loader uploads, embedded from the image file at build time.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kv70sim {

extern const std::uint8_t kBuiltInMonitor[];
extern const std::size_t kBuiltInMonitorSize;

}  // namespace kv70sim
