// Where the host is installed, and the firmware directory beside it into which newly
// registered firmware files are copied. Read from the registry on every call.
#pragma once
#include "framework/afx.h"
#include "framework/plugin_abi.h"

// The installation directory, "\" and "Firmware"; false (and `directory` unchanged) when
// the host key or its value cannot be read.
bool GetFirmwareDirectory(CString& directory);
