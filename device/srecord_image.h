// What the device does with a firmware file: find the word it places at an address,
// and stream its data records into program commands.
#pragma once
#include "platform/winbase.h"

class CDevice;
class CFlashMonLink;
class CSRecordFile;

// The four bytes the file places at the device's identification-word address
// (GetAddress index 1), the first byte in the low eight bits. FALSE when no record
// covers them. Rewinds the file either way.
BOOL FindImageWord(CSRecordFile& file, DWORD& word, CDevice& device);

// Streams the file's type-3 records into program commands, contiguous records merged
// into blocks of at most 252 bytes. A failure of a record or of the monitor is 405.
void ProgramImage(CSRecordFile& file, DWORD commandCode, CFlashMonLink& link);
