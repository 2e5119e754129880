// What the --device option says the COM port is: a device path, or the built-in
// simulator with its settings. The choice reaches the plug-in through the COM port's
// name mapping (VELMORA_COM<n>).
#pragma once
#include <optional>
#include <string>

namespace kv70sim {
struct Settings;
}

namespace velmora {

struct DeviceChoice {
  bool simulator = false;
  bool realtime = false;  // simulator only: keep wall-clock time
  std::string name;       // "sim:..." or the device path, as given
};

// Checks the value: simulator settings must parse and their files be usable, a device
// path must exist. Returns nothing with `error` saying why.
std::optional<DeviceChoice> ParseDeviceChoice(const std::string& value, std::string& error);

// Why the simulator's files cannot be used: an image to start from that is missing or
// no file, a folder for its output that does not exist, an output that is no file.
std::optional<std::string> SimulatorFileProblem(const kv70sim::Settings& settings);

// The environment variable that names COM<port> ("VELMORA_COM3").
std::string ComVariable(int port);

}  // namespace velmora
