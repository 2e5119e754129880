#include "host/core/port_list.h"

namespace velmora {

std::string DescribeSerialPort(const platform::SerialPortInfo& port) {
  std::string line = port.path;
  if (!port.driver.empty()) line += "  driver " + port.driver;
  if (!port.vendorId.empty()) line += "  USB " + port.vendorId + ":" + port.productId;
  std::string words;
  for (const std::string* text : {&port.manufacturer, &port.product}) {
    if (!text->empty()) words += (words.empty() ? "" : " ") + *text;
  }
  if (!words.empty()) line += "  " + words;
  if (!port.serialNumber.empty()) line += "  serial " + port.serialNumber;
  return line;
}

}  // namespace velmora
