// Where the host is installed, and the firmware directory beside it into which newly
// registered firmware files are copied. Read from the registry on every call.
#pragma once
#include "framework/afx.h"

inline constexpr char kHostKeyPath[] = "SOFTWARE\\Quarnell\\Velmora";
inline constexpr char kValueInstallDirectory[] = "InstallDirectory";

// The installation directory, "\" and "Firmware"; false (and `directory` unchanged) when
// the host key or its value cannot be read.
bool GetFirmwareDirectory(CString& directory);
