// The firmware files the catalogue's entries name: no two entries share one file, and
// only a copy the plug-in made is ever deleted with its entry.
#pragma once
#include <string>

#include "framework/afx.h"

// Paths name the same place when they differ only in letter case or in which separator
// they use (the plug-in builds Windows-style paths).
bool SameFirmwarePlace(const CString& a, const CString& b);

// Whether `path` lies directly in `directory`.
bool IsInFirmwareDirectory(const CString& path, const CString& directory);

// Whether an entry of any device type names `path`, leaving out the entry whose key
// name is `exceptKey` (compared without regard to letter case, as registry keys are;
// empty leaves out none).
bool IsNamedByAnEntry(const CString& path, const CString& exceptKey = CString());

// Where a new copy of <name><ext> goes in `directory`: "<directory>\<name><ext>" unless
// an entry names that file (or, without `mayReplace`, it exists), else the first of
// "<name> (2)<ext>", "<name> (3)<ext>", ... that is neither an existing file nor named by
// an entry. `exceptKey` as above.
CString FirmwareCopyPath(const CString& directory, const std::string& name, const std::string& ext,
                         const CString& exceptKey, bool mayReplace = true);

// Whether a running software upgrade holds the file at `path`. A run keeps its firmware
// file open from its check to its end, with a shared lock that the system drops when the
// run's process ends, however it ends; this asks for the exclusive lock without waiting.
bool IsFirmwareFileInUse(const CString& path);

// The firmware path of the entry of any device type whose key name is `key` (letter
// case aside), or empty when there is none.
CString FirmwarePathOfEntry(const CString& key);
