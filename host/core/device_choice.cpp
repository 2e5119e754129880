#include "host/core/device_choice.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "host/core/output_guard.h"
#include "host/core/run_warnings.h"
#include "platform/comm_rfc2217.h"
#include "platform/files.h"
#include "sim/settings.h"

namespace velmora {

namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> SimulatorFileProblem(const kv70sim::Settings& settings) {
  // Images the device starts from must be files that can be read.
  for (const auto& [key, path] :
       {std::pair{"fs-image", &settings.fsImage}, std::pair{"prog-image", &settings.progImage}}) {
    if (path->empty()) continue;
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::status(*path, ec);
    if (!std::filesystem::exists(st)) return std::string(key) + "=" + *path + ": no such file";
    if (!std::filesystem::is_regular_file(st))
      return std::string(key) + "=" + *path + ": not a file";
    if (!std::ifstream(*path, std::ios::binary).is_open())
      return std::string(key) + "=" + *path + ": cannot be read";
  }
  // Where the device's flash is written at the end must take a file.
  for (const auto& [key, path] :
       {std::pair{"prog-out", &settings.progOut}, std::pair{"fs-out", &settings.fsOut}}) {
    if (path->empty()) continue;
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::absolute(*path, ec).parent_path();
    if (!std::filesystem::is_directory(dir, ec)) {
      return std::string(key) + "=" + *path + ": there is no directory " + dir.string();
    }
    if (const std::optional<std::string> problem = OutputProblem(*path)) {
      return std::string(key) + "=" + *path + ": " + *problem;
    }
  }
  return std::nullopt;
}

std::optional<DeviceChoice> ParseDeviceChoice(const std::string& value, std::string& error) {
  DeviceChoice choice;
  choice.name = value;
  if (value == "sim" || value.rfind("sim:", 0) == 0) {
    choice.simulator = true;
    try {
      const kv70sim::Settings settings =
          kv70sim::Settings::Parse(value.size() > 4 ? value.substr(4) : std::string());
      choice.realtime = settings.realtime;
      if (const std::optional<std::string> problem = SimulatorFileProblem(settings)) {
        error = "--device " + value + ": " + *problem;
        return std::nullopt;
      }
    } catch (const kv70sim::SettingsError& e) {
      error = "--device " + value + ": " + e.what();
      return std::nullopt;
    }
    return choice;
  }
  // A serial port served over the network: checked for form here, reached at open.
  const std::string scheme = platform::kRfc2217Prefix;
  if (StartsWithNoCase(value, scheme)) {
    std::string host;
    std::uint16_t port = 0;
    if (!platform::ParseRfc2217Address(value.substr(scheme.size()), host, port)) {
      error =
          "--device " + value + ": " + platform::Rfc2217AddressProblem(value.substr(scheme.size()));
      return std::nullopt;
    }
    return choice;
  }
  if (value.empty()) {
    error = "--device needs a device path, rfc2217://HOST:PORT or sim[:key=value,...]";
    return std::nullopt;
  }
  platform::FileStatus status;
  if (!platform::GetFileStatus(value, status)) {
    // Whoever names a port that is not there needs the ones that are.
    error = "--device " + value + ": no such device\n" + SerialPortsPresent();
    return std::nullopt;
  }
  if (status.isDirectory) {
    error = "--device " + value + ": is a directory, not a device";
    return std::nullopt;
  }
  return choice;
}

std::string ComVariable(int port) {
  return "VELMORA_COM" + std::to_string(port);
}

}  // namespace velmora
