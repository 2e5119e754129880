// The 184-byte configuration record the flash monitor sends, built from the settings.
//
// Offset Size Field (numbers big-endian)
//   0     2   record version (device-internal)
//   2    32   serial number, NUL-padded; 0xFF-filled when not set
//  34     4   reserved
//  38    36   owner string 1
//  74    36   owner string 2
// 110    62   option area: toggles are one byte at their number; dated options are
//             7 bytes at their number: month index (2), word (4), value (1)
// 172     2   Info0      174  2  Info1      176  2  FlashType
// 178     2   Info3      180  2  FileSystemMb   182  2  ApplicationId
#pragma once
#include <array>
#include <cstdint>

#include "sim/settings.h"

namespace kv70sim {

constexpr std::size_t kRecordSize = 184;
constexpr std::size_t kOptionAreaOffset = 110;
constexpr std::size_t kOptionAreaSize = 62;
constexpr std::size_t kApplicationIdOffset = 182;
// Option numbers of the two application entries, in entry order.
constexpr std::size_t kApplicationOptions[] = {33, 40};
constexpr std::size_t kDatedValueOffset = 6;  // the 8-bit value inside a dated option

using Record = std::array<std::uint8_t, kRecordSize>;

Record BuildRecord(const Settings& settings);

// The record after the installed software changed: ApplicationId and the 8-bit value of
// the application's entry follow the software identification word (b0..b3 as they lie
// in flash; application index = b2 >> 4, value = b3).
void ApplySoftwareWord(Record& record, const std::uint8_t word[4]);

std::uint16_t RecordNumber(const Record& record, std::size_t offset);

}  // namespace kv70sim
