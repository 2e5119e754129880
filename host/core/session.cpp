#include "host/core/session.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "host/core/device_choice.h"
#include "host/core/exit_codes.h"
#include "host/core/real_device_help.h"
#include "host/core/text.h"
#include "platform/clock.h"
#include "platform/comm_port.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/window.h"
#include "sim/sim_port.h"

namespace velmora {

std::unique_ptr<PluginLibrary> LoadPlugin(const std::string& path, std::string& error,
                                          int& status) {
  platform::FileStatus st;
  if (!platform::GetFileStatus(path, st)) {
    error = "no plug-in at " + path + " (give its path with --plugin)";
    status = kExitUsage;
    return nullptr;
  }
  try {
    return std::make_unique<PluginLibrary>(path);
  } catch (const PluginError& e) {
    error = e.what();
    status = kExitFailed;
    return nullptr;
  }
}

bool UseDevice(int port, const std::string& device, std::string& error) {
  static platform::VirtualClock virtualClock;
  const std::optional<DeviceChoice> choice = ParseDeviceChoice(device, error);
  if (!choice) return false;
  platform::SetEnvironment(ComVariable(port), choice->name);
  // The simulated device's minutes pass in milliseconds unless asked otherwise.
  if (choice->simulator) kv70sim::RegisterInProcessBackend();
  if (choice->simulator && !choice->realtime) platform::SetClock(&virtualClock);
  return true;
}

std::string ComPortTarget(int port) {
  return platform::ResolveCommName("\\\\.\\COM" + std::to_string(port));
}

bool UseMonitorImage(const std::string& path, std::string& error) {
  if (path.empty()) {
    error = "--monitor-image needs the path of a file";
    return false;
  }
  std::error_code ignored;
  std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
  if (absolute.empty()) absolute = path;
  platform::SetEnvironment(kMonitorImageVariable, absolute.string());
  return true;
}

bool UseRegistry(const std::string& path, std::string& error) {
  if (path.empty()) {
    error = "--registry needs a file name";
    return false;
  }
  std::error_code ec;
  const std::filesystem::path file(path);
  if (std::filesystem::is_directory(file, ec)) {
    error = "--registry " + path + ": is a directory; give the database file's name";
    return false;
  }
  const std::filesystem::path dir = std::filesystem::absolute(file, ec).parent_path();
  if (!std::filesystem::is_directory(dir, ec)) {
    error = "--registry " + path + ": there is no directory " + dir.string();
    return false;
  }
  platform::SetEnvironment("VELMORA_REGISTRY", path);
  return true;
}

SummaryTexts MakeSummaryTexts(const PluginLibrary& plugin, int operation, int port) {
  SummaryTexts texts;
  std::string lower = plugin.Text(operation, 2).value_or(std::string());
  if (lower.empty()) lower = Lower(plugin.OperationName(operation));
  texts.intro = "Velmora is ready to start the " + lower + ".";
  texts.summary = plugin.Text(operation, 0).value_or(std::string());
  texts.connect = FillComPort(plugin.Text(operation, 1).value_or(std::string()), port);
  const std::string done = plugin.Text(operation, 3).value_or(std::string());
  if (!done.empty()) texts.completion = "When it is done: " + done;
  return texts;
}

void PumpPending() {
  // A bound, so that a window that keeps posting to itself cannot hold the UI.
  for (int round = 0; round < 100 && platform::PumpMessages() > 0; ++round) {
  }
}

const char* ResultText(int result) {
  switch (result) {
    case OPERATION_SUCCEEDED:
      return "succeeded";
    case OPERATION_CANCELED:
      return "was cancelled";
    default:
      return "failed";
  }
}

}  // namespace velmora
