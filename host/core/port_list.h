// A serial port of this machine in one line, as `velmora ports` lists it and the desktop
// host offers it for a COM port: the path first (what --device takes), then what tells
// one adapter from another (driver, USB ids, maker and product, serial number).
#pragma once
#include <string>

#include "platform/serial_ports.h"

namespace velmora {

// "/dev/ttyUSB0  driver ftdi_sio  USB 0403:6001  FTDI FT232R USB UART  serial A50285BI";
// what the port does not say is left out. The by-id link is not part of it: it is long,
// and each front end puts it where it fits (a line of its own, a tooltip).
std::string DescribeSerialPort(const platform::SerialPortInfo& port);

}  // namespace velmora
