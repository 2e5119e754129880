#include "host/core/run_warnings.h"

#include "framework/plugin_abi.h"
#include "host/core/port_list.h"
#include "platform/comm_port.h"
#include "platform/serial_ports.h"

namespace velmora {

bool ProgramMayBeIncomplete(int result, const LineSummary& line) {
  return result != OPERATION_SUCCEEDED && line.eraseReached;
}

bool MarksUncheckedCompleteness(const std::string& status) {
  return status.find("completeness could not be checked") != std::string::npos;
}

std::string IncompleteProgramWarning() {
  return "Warning: the KV70's program flash was erased during this run and may now hold an "
         "incomplete application. Run the upgrade again before using the device.";
}

std::string PortProblemLine(int comPort, const std::string& text) {
  if (text.empty()) return {};
  const std::string line = "COM" + std::to_string(comPort) + ": " + text;
  return line.back() == '.' ? line : line + ".";
}

std::string PortOpenProblem(int comPort) {
  const platform::CommPortProblem problem =
      platform::LastCommPortProblem("\\\\.\\COM" + std::to_string(comPort));
  std::string text = PortProblemLine(comPort, problem.text);
  if (problem.noSuchPort) text += "\n" + SerialPortsPresent();
  return text;
}

std::string SerialPortsPresent() {
  const auto ports = platform::ListSerialPorts();
  if (ports.empty()) return "No serial ports found.";
  std::string text = "Serial ports:";
  for (const auto& port : ports) text += "\n  " + DescribeSerialPort(port);
  return text;
}

}  // namespace velmora
