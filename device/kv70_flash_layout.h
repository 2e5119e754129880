// The part of the KV70's program flash that an upgrade erases and may program, by
// FlashType, from the same layout table the erase uses.
#pragma once
#include "platform/winbase.h"

// [start, end) of the flash the type's erase covers; FALSE for a type without a layout.
BOOL KV70ProgramFlashRange(WORD flashType, DWORD& start, DWORD& end);
// The widest of them: what a firmware file may cover before the device says its type.
void KV70AnyProgramFlashRange(DWORD& start, DWORD& end);
