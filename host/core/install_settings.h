// The host's machine-wide settings that the plug-in reads: where the host keeps its
// data ("InstallDirectory", whose Firmware directory receives registered files) and the
// firmware catalogue's key, which the plug-in never creates itself.
#pragma once
#include <string>

#include "framework/plugin_abi.h"

namespace velmora {

// The host's data directory: $VELMORA_DATA, else the directory that holds the registry
// database (so that a registry given with --registry carries its files with it).
std::string DefaultDataDirectory();

struct InstallReport {
  bool wroteInstallDirectory = false;
  bool createdFirmwareKey = false;
  std::string installDirectory;  // the value in force afterwards
  std::string problem;           // what could not be done (the store unwritable, ...)
};

// Writes "InstallDirectory" (creating the directory) when the value is missing, creates
// the firmware directory below it and the catalogue key when missing. Leaves existing
// values alone.
InstallReport EnsureInstallSettings(const std::string& dataDirectory);

// Creates a directory and its parents; true when it exists afterwards.
bool MakeDirectories(const std::string& path);

}  // namespace velmora
