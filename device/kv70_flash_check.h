// Whether the software a firmware file carries is the one the device already runs.
#pragma once
#include "platform/winbase.h"

class CKV70Config;

// `word` is the software identification word as FindImageWord returns it (its first
// byte in the low eight bits). Bits 4-7 of its third byte index the application entries;
// its fourth byte is compared with that entry's value.
BOOL IsAlreadyInstalled(const CKV70Config& config, DWORD word);
