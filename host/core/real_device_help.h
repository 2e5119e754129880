// What a technician needs to know to run on a real KV70, in the order of doing it: the
// cable and port, --device, the monitor program, the display, failure 806. One text for
// every place that shows it (velmora run --help, velmora ports, the desktop host).
#pragma once
#include <string>

namespace velmora {

// The variable through which a host names the flash monitor program file for the
// plug-in's runs (--monitor-image sets it).
constexpr const char kMonitorImageVariable[] = "VELMORA_KV70_MONITOR";

enum class HelpFor { Terminal, Desktop };

// Plain text, lines of at most 88 characters, ending with a line break. Each host's
// steps name only its own options.
std::string RealDeviceHelp(HelpFor host = HelpFor::Terminal);

}  // namespace velmora
