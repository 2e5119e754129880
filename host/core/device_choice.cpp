#include "host/core/device_choice.h"

#include <sys/stat.h>

#include "sim/settings.h"

namespace velmora {

std::optional<DeviceChoice> ParseDeviceChoice(const std::string& value, std::string& error) {
  DeviceChoice choice;
  choice.name = value;
  if (value == "sim" || value.rfind("sim:", 0) == 0) {
    choice.simulator = true;
    try {
      const kv70sim::Settings settings =
          kv70sim::Settings::Parse(value.size() > 4 ? value.substr(4) : std::string());
      choice.realtime = settings.realtime;
    } catch (const kv70sim::SettingsError& e) {
      error = "--device " + value + ": " + e.what();
      return std::nullopt;
    }
    return choice;
  }
  if (value.empty()) {
    error = "--device needs a device path or sim[:key=value,...]";
    return std::nullopt;
  }
  struct stat st {};
  if (::stat(value.c_str(), &st) != 0) {
    error = "--device " + value + ": no such device";
    return std::nullopt;
  }
  if (S_ISDIR(st.st_mode)) {
    error = "--device " + value + ": is a directory, not a device";
    return std::nullopt;
  }
  return choice;
}

std::string ComVariable(int port) {
  return "VELMORA_COM" + std::to_string(port);
}

}  // namespace velmora
