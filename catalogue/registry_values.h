// Typed accessors over an open registry key, shared by the firmware catalogue and the
// installation settings. Each answers with a boolean (or a default); a missing key or
// value name fails at once.
#pragma once
#include "framework/afx.h"
#include "platform/registry.h"

// The value exists with that type and holds at least one character and its zero
// (REG_SZ) or at least one byte (any other type).
bool HasValueOfType(HKEY key, const char* name, DWORD type);
// Reads a value of any type as text. On failure the text is empty.
bool ReadStringValue(HKEY key, const char* name, CString& text);
// The value's 32 bits, or `defaultValue` when it cannot be read.
DWORD ReadDwordValue(HKEY key, const char* name, DWORD defaultValue);
// Write a REG_SZ (size counting the zero) or REG_DWORD value. A failure leaves the
// registry's error code as the thread's last error.
bool WriteStringValue(HKEY key, const char* name, const char* text);
bool WriteDwordValue(HKEY key, const char* name, DWORD value);
// The file system reports a status for the path (an empty or missing path does not).
bool FileExists(const char* path);
