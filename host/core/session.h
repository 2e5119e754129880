// What every front end does around a run, in the same way: load the plug-in, say what
// a COM port is (--device), keep the host's installation settings, point the registry
// at a file (--registry), tell the run what the operation's texts are for the summary.
#pragma once
#include <memory>
#include <optional>
#include <string>

#include "host/core/plugin_library.h"
#include "host/core/summary_page.h"

namespace velmora {

// Loads the plug-in. On failure returns null with `error` saying why and `status` the
// exit status to end with (kExitUsage for a missing file, kExitFailed for a bad one).
std::unique_ptr<PluginLibrary> LoadPlugin(const std::string& path, std::string& error, int& status);

// Makes COM<port> the device (VELMORA_COM<port>); the in-process simulator keeps
// virtual time unless its settings ask for real time. False with `error` for a value
// that is no device.
bool UseDevice(int port, const std::string& device, std::string& error);

// What "\\.\COM<port>" opens now: the device path or the simulator's settings.
std::string ComPortTarget(int port);

// Names the flash monitor program file for the plug-in's runs (kMonitorImageVariable),
// made absolute so that the plug-in's failure box and the wire trace name it whole.
// False with `error` for an empty name; the plug-in judges the file itself.
bool UseMonitorImage(const std::string& path, std::string& error);

// Points the registry at `path` (VELMORA_REGISTRY) before anything opens it; false with
// `error` when the place cannot hold a database.
bool UseRegistry(const std::string& path, std::string& error);

// The summary page's texts for the operation run on that port.
SummaryTexts MakeSummaryTexts(const PluginLibrary& plugin, int operation, int port);

// Handles every message queued for this thread's windows, including those that handling
// them queues (a page's PSM_PRESSBUTTON brings the next page, which posts its buttons).
void PumpPending();

// "succeeded", "was cancelled", "failed".
const char* ResultText(int result);

}  // namespace velmora
