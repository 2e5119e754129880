// Command codes of the uploaded flash monitor. Most reach the link as parameters from the
// device object's command table; the link never checks a code against this list.
#pragma once
#include "platform/winbase.h"

constexpr BYTE MON_PING = 0x00;             // empty; any reply with the same code
constexpr BYTE MON_ERASE = 0x01;            // sector list; any reply
constexpr BYTE MON_ERASE_STATUS = 0x02;     // empty; data[0]: 1 finished, 2 failed, else busy
constexpr BYTE MON_PROGRAM = 0x03;          // address and data; one byte: 1 accepted, 0 failed
constexpr BYTE MON_REBOOT = 0x04;           // empty; any reply
constexpr BYTE MON_READ = 0x05;             // address and count; exactly the bytes asked for
constexpr BYTE MON_READ_CONFIG = 0x06;      // empty; the configuration record
constexpr BYTE MON_COLLECT_GARBAGE = 0x07;  // empty; data[0] must be 1
constexpr BYTE MON_PROGRAM_DONE = 0x0A;     // empty; data[0] must be 1
constexpr BYTE MON_ERASE_FFS = 0x0D;        // empty; any reply
