// velmora ports: the serial ports of this machine and what COM1 to COM6 resolve to.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/core/exit_codes.h"
#include "host/core/port_list.h"
#include "host/core/real_device_help.h"
#include "host/terminal/commands.h"
#include "platform/comm_port.h"
#include "platform/serial_ports.h"

namespace velmora {

int PortsCommand(Console& console) {
  const auto ports = platform::ListSerialPorts();
  if (ports.empty()) {
    console.PrintLine("No serial ports found.");
  } else {
    console.PrintLine("Serial ports:");
    for (const auto& port : ports) {
      console.PrintLine("  " + DescribeSerialPort(port));
      if (!port.byId.empty()) console.PrintLine("      " + port.byId);
    }
  }
  console.PrintLine("");
  console.PrintLine("COM ports (--port N, set with --device or VELMORA_COM<n>):");
  for (int n = 1; n <= 6; ++n) {
    const std::string com = "COM" + std::to_string(n);
    const std::string resolved = platform::ResolveCommName("\\\\.\\" + com);
    const bool fromEnvironment =
        std::getenv(("VELMORA_COM" + std::to_string(n)).c_str()) != nullptr;
    console.PrintLine("  " + com + "  " + resolved +
                      (fromEnvironment ? "  (VELMORA_COM" + std::to_string(n) + ")" : ""));
  }
  // Whoever looks for the port is about to connect a device: say what a real one needs.
  console.PrintLine("");
  console.PrintLine(RealDeviceHelp());
  return kExitSucceeded;
}

}  // namespace velmora
