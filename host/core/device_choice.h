// What the --device option says the COM port is: a device path, or the built-in
// simulator with its settings. The choice reaches the plug-in through the COM port's
// name mapping (VELMORA_COM<n>).
#pragma once
#include <optional>
#include <string>

namespace velmora {

struct DeviceChoice {
  bool simulator = false;
  bool realtime = false;  // simulator only: keep wall-clock time
  std::string name;       // "sim:..." or the device path, as given
};

// Checks the value: simulator settings must parse, a device path must exist. Returns
// nothing with `error` saying why.
std::optional<DeviceChoice> ParseDeviceChoice(const std::string& value, std::string& error);

// The environment variable that names COM<port> ("VELMORA_COM3").
std::string ComVariable(int port);

}  // namespace velmora
