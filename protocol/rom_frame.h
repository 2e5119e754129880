// Frames of the device's ROM monitor, which answers after a restart at 9600 bit/s.
// Building them is pure; the device classes send them and read the answers.
#pragma once
#include <vector>

#include "platform/winbase.h"

// ROM-monitor frame, PC to device (numbers big-endian):
//   offset 0      0x02 (not summed)
//   offset 1      0x00
//   offset 2      frame type
//   offset 3      payload length L
//   offset 4      L payload bytes
//   offset 4+L    checksum: 8-bit sum of offsets 1 .. 3+L
//   offset 5+L    0x03
//   offset 6+L    0x00 0x00, only after the bulk requests (read, bulk write, go)
constexpr BYTE ROM_STX = 0x02;
constexpr BYTE ROM_ETX = 0x03;
constexpr DWORD ROM_HEADER_SIZE = 4;
constexpr DWORD ROM_BULK_TRAILER_SIZE = 2;

// Frame types and their payloads:
//   0x6E  identification text, 84 characters                     answer: none read
//   0x80  address (4), byte count n (1)                           answer: a 0x92 frame
//   0x81  address (4), n data bytes                               answer: the byte 0x06
//   0x82  address (4)                                             answer: the byte 0x06
//   0x92  (from the device) n data bytes, ends with 0x03 only
constexpr BYTE ROM_IDENTIFY = 0x6E;
constexpr BYTE ROM_READ = 0x80;
constexpr BYTE ROM_WRITE = 0x81;
constexpr BYTE ROM_GO = 0x82;
constexpr BYTE ROM_READ_REPLY = 0x92;
constexpr BYTE ROM_ACK = 0x06;

constexpr DWORD ROM_IDENT_LENGTH = 84;
constexpr DWORD ROM_MAX_BULK = 251;   // bytes per bulk read or write
constexpr DWORD ROM_MAX_TYPED = 128;  // data bytes per typed write

// The probe, sent raw; the ROM monitor answers it with 0x06.
constexpr BYTE ROM_PROBE[] = {0x05, 0x0A, 0x14, 0x28, 0x00, 0x00};

// The loader names itself with one of two texts: the read-only one for connections that
// only read the device, the other for a software upgrade.
extern const char ROM_IDENT_READ_ONLY[];
extern const char ROM_IDENT_UPGRADE[];

// Checksum of a frame: the 8-bit sum of 00, the type, L and the payload.
BYTE RomChecksum(BYTE type, const BYTE* payload, DWORD length);

// 02 00 6E 54, the 84 characters, checksum, 03: 90 bytes.
std::vector<BYTE> BuildRomIdentification(const char* text);
// 02 00 80 05, address, n, checksum, 03 00 00.
std::vector<BYTE> BuildRomRead(DWORD address, BYTE count);
// 02 00 81 L, address, data, checksum, 03 and, for the bulk write, 00 00.
std::vector<BYTE> BuildRomWrite(DWORD address, const BYTE* data, DWORD count, bool bulk);
// 02 00 82 04, address, checksum, 03 00 00.
std::vector<BYTE> BuildRomGo(DWORD address);

// The payload of a typed write: `count` bytes of host-order elements of `widthBits`
// (8, 16 or 32) in the device's big-endian order. Returns an empty vector for another
// width or a count that is not a whole number of elements.
std::vector<BYTE> RomTypedPayload(const void* data, DWORD count, UINT widthBits);
