// Whether the software a firmware file carries is the one the device already runs, and
// the checks of the file before an upgrade touches the flash.
#pragma once
#include "models/srecord_checker.h"
#include "platform/winbase.h"

class CKV70Config;
class CSRecordFile;
struct RunRecord;

// `word` is the software identification word as FindImageWord returns it (its first
// byte in the low eight bits). Bits 4-7 of its third byte index the application entries;
// its fourth byte is compared with that entry's value.
BOOL IsAlreadyInstalled(const CKV70Config& config, DWORD word);

// Shows "The software file <path> is invalid..." in the failure box and ends the run with
// the user-cancel failure: a file that cannot be opened, fails the reader's format
// check, or carries no identification word.
[[noreturn]] void RefuseSoftwareFile(const RunRecord& record, LPCTSTR path);

// Opens the file, checks its first lines and keeps its content for the rest of the run
// (CSRecordFile::KeepContent): everything after this reads the bytes read here. A file
// that cannot be opened or read, or fails the check, is refused as above.
void OpenSoftwareFile(const RunRecord& record, CSRecordFile& file);

// Before the port opens, on a file OpenSoftwareFile kept: every record lies inside the
// widest program flash of any KV70 (the device's own is checked again once it is known)
// and the file is whole. Throws CFlashMonException 415 or 416, with the line, for a file
// whose records are refused; returns what the check found of a file that passed (its
// completenessUnknown in particular).
SRecordFault CheckSoftwareFileBeforeConnecting(CSRecordFile& file);

// Ends the run with CFlashMonException 416 when the file on disk is no longer the kept
// content the run checked: written, replaced or removed by someone else meanwhile.
void ThrowIfSoftwareFileChanged(const CSRecordFile& file);
