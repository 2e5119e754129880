// Whether the software a firmware file carries is the one the device already runs.
#pragma once
#include "platform/winbase.h"

class CKV70Config;
struct RunRecord;

// `word` is the software identification word as FindImageWord returns it (its first
// byte in the low eight bits). Bits 4-7 of its third byte index the application entries;
// its fourth byte is compared with that entry's value.
BOOL IsAlreadyInstalled(const CKV70Config& config, DWORD word);

// Shows "The software file <path> is invalid..." in the failure box and ends the run with
// the user-cancel failure: a file that cannot be opened, fails the reader's format
// check, or carries no identification word.
[[noreturn]] void RefuseSoftwareFile(const RunRecord& record, LPCTSTR path);

// Before the port opens: the file opens, passes the reader's format check and every
// record lies inside the widest program flash of any KV70 (the device's own is checked
// again once it is known). Refuses an unreadable file as above; throws
// CFlashMonException 415 or 416, with the line, for a file whose records are refused.
void CheckSoftwareFileBeforeConnecting(const RunRecord& record, LPCTSTR path);
