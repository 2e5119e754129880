// Device addresses and code of the small routines the ROM monitor runs for us, and the
// KV70's register set-up, as data.
#pragma once
#include "platform/winbase.h"

// Register-write routine: nine words at 0x810, started at 0x812; it stores the data
// word at 0x810 into the word at the target address.
//   0x810  value                      data word
//   0x812  0x207C, target high, low   movea.l #target, a0
//   0x818  0x227C 0x0000 0x0810       movea.l #0x810, a1
//   0x81E  0x3091                     move.w (a1), (a0)
//   0x820  0x4E75                     rts
constexpr DWORD ROM_WORD_ROUTINE_ADDRESS = 0x810;
constexpr DWORD ROM_WORD_ROUTINE_ENTRY = 0x812;
constexpr UINT ROM_WORD_ROUTINE_WORDS = 9;

// Speed-switch routine at 0x80A: move.b #0xCC to 0x0C03 and 0x0C13 (both DUART channels'
// clock select: 38400 bit/s), rts.
constexpr DWORD ROM_SPEED_ROUTINE_ADDRESS = 0x80A;
constexpr BYTE ROM_SPEED_ROUTINE[] = {0x11, 0xFC, 0xCC, 0xCC, 0x0C, 0x03, 0x11,
                                      0xFC, 0xCC, 0xCC, 0x0C, 0x13, 0x4E, 0x75};

// A 16-bit or 8-bit register value: value, device address.
struct RegisterWord {
  WORD value;
  DWORD address;
};
struct RegisterByte {
  BYTE value;
  DWORD address;
};

// Chip-select row: first register, second register, first value, second value, enabled.
// An enabled row writes the second value to the second register, then the first value
// to the first register.
struct ChipSelectRow {
  DWORD firstRegister;
  DWORD secondRegister;
  DWORD firstValue;
  DWORD secondValue;
  BYTE enabled;
};

// The KV70's set-up, written in this order: words, bytes, chip selects, words.
extern const RegisterWord KV70_SETUP_WORDS_FIRST[6];
extern const RegisterByte KV70_SETUP_BYTES[7];
extern const ChipSelectRow KV70_CHIP_SELECTS[4];
extern const RegisterWord KV70_SETUP_WORDS_LAST[4];
