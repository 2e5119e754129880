// The serial ports of this machine, as udev and the kernel describe them: every tty that
// sysfs shows with a device behind it (a UART that answered the probe, a USB adapter),
// with its stable /dev/serial/by-id name where udev made one, its driver, and the USB
// vendor, product and serial number where the port is on USB.
#pragma once
#include <string>
#include <vector>

namespace platform {

struct SerialPortInfo {
  std::string path;          // /dev/ttyUSB0
  std::string byId;          // /dev/serial/by-id/usb-FTDI_..., or empty
  std::string driver;        // ftdi_sio, cp210x, serial8250, ...
  std::string vendorId;      // USB idVendor (4 hex digits), or empty
  std::string productId;     // USB idProduct
  std::string manufacturer;  // USB strings, where the device has them
  std::string product;
  std::string serialNumber;
};

// Lists the ports in path order. `sysRoot` and `devRoot` stand for /sys and /dev (tests
// give a tree of their own). A legacy UART slot without a UART (type 0) is left out; a
// tree that cannot be read gives an empty list.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysRoot = "/sys",
                                            const std::string& devRoot = "/dev");

}  // namespace platform
