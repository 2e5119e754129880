// The KV70's addresses, flash-monitor command codes and accepted flash types, as data.
#pragma once
#include "platform/winbase.h"

constexpr DWORD KV70_NO_COMMAND = 0xFFFFFFFF;
constexpr DWORD KV70_NO_ADDRESS = 0xFFFFFFFF;

// Address by index:
//   0  0x00200000  load and entry address of the flash monitor
//   1  0x02400420  software identification word inside program flash
//   2  0x025FC000  (asked for by no caller)
extern const DWORD KV70_ADDRESSES[3];

// The address indexes callers pass to GetAddress.
constexpr int kMonitorAddressIndex = 0;
constexpr int kImageWordAddressIndex = 1;

// Flash-monitor command code by command index (0..17); KV70_NO_COMMAND where the
// device has none.
extern const DWORD KV70_COMMAND_CODES[18];

// The command indexes callers pass to GetCommandCode. The monitor's read command, the
// configuration read inside the connection and the finishing command are sent by their
// codes directly.
constexpr int kPingIndex = 0;
constexpr int kEraseIndex = 1;
constexpr int kEraseStatusIndex = 2;
constexpr int kProgramIndex = 3;
constexpr int kRebootIndex = 4;
constexpr int kReadConfigIndex = 6;
constexpr int kCollectGarbageIndex = 7;
constexpr int kEraseFileSystemIndex = 17;

// Hardware type codes of the configuration record that the device classes know.
extern const WORD KV70_FLASH_TYPES[6];
bool IsKnownKV70FlashType(WORD flashType);
