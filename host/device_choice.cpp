#include "host/device_choice.h"

#include <strings.h>
#include <sys/stat.h>

#include "platform/comm_rfc2217.h"
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
  // A serial port served over the network: checked for form here, reached at open.
  const std::string scheme = platform::kRfc2217Prefix;
  if (value.size() >= scheme.size() &&
      strncasecmp(value.c_str(), scheme.c_str(), scheme.size()) == 0) {
    std::string host;
    std::uint16_t port = 0;
    if (!platform::ParseRfc2217Address(value.substr(scheme.size()), host, port)) {
      error = "--device " + value + ": expected rfc2217://HOST:PORT";
      return std::nullopt;
    }
    return choice;
  }
  if (value.empty()) {
    error = "--device needs a device path, rfc2217://HOST:PORT or sim[:key=value,...]";
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
