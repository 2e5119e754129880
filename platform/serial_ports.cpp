// Linux only: sysfs and udev's /dev/serial/by-id.
#include "platform/serial_ports.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

namespace platform {

namespace fs = std::filesystem;

namespace {

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
    line.pop_back();
  return line;
}

// The device directory's USB ancestor: the first one up the tree with an idVendor file.
void FillUsb(const fs::path& device, SerialPortInfo& info) {
  std::error_code ec;
  fs::path dir = fs::canonical(device, ec);
  if (ec) return;
  for (int depth = 0; depth < 8 && dir.has_relative_path(); ++depth, dir = dir.parent_path()) {
    if (fs::exists(dir / "idVendor", ec)) {
      info.vendorId = ReadLine(dir / "idVendor");
      info.productId = ReadLine(dir / "idProduct");
      info.manufacturer = ReadLine(dir / "manufacturer");
      info.product = ReadLine(dir / "product");
      info.serialNumber = ReadLine(dir / "serial");
      return;
    }
  }
}

// The driver that owns the port. Kernels since 6.5 put the serial core's own port and
// controller devices (bus serial-base, drivers "port" and "ctrl") between the tty and the
// hardware; the name a technician knows (serial8250, the PnP "serial", ftdi_sio) is on
// the first ancestor bound to another bus.
std::string DriverOf(const fs::path& device) {
  std::error_code ec;
  fs::path dir = fs::canonical(device, ec);
  if (ec) return {};
  std::string name;
  for (int depth = 0; depth < 8 && dir.has_relative_path(); ++depth, dir = dir.parent_path()) {
    std::error_code linkEc;
    const fs::path driver = fs::read_symlink(dir / "driver", linkEc);
    if (linkEc) {
      if (depth == 0) return {};
      continue;
    }
    const fs::path normal = driver.lexically_normal();
    name = normal.filename().string();
    // <sys>/bus/<bus>/drivers/<name>
    if (normal.parent_path().parent_path().filename() != "serial-base") return name;
  }
  return name;
}

// by-id link target (canonical /dev path), link path.
std::map<std::string, std::string> ByIdLinks(const fs::path& devRoot) {
  std::map<std::string, std::string> links;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(devRoot / "serial" / "by-id", ec)) {
    std::error_code linkEc;
    const fs::path target = fs::read_symlink(entry.path(), linkEc);
    if (linkEc) continue;
    const fs::path absolute = (entry.path().parent_path() / target).lexically_normal();
    links[(devRoot / absolute.filename()).string()] = entry.path().string();
  }
  return links;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysRoot,
                                            const std::string& devRoot) {
  std::vector<SerialPortInfo> ports;
  const auto byId = ByIdLinks(devRoot);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(sysRoot) / "class" / "tty", ec)) {
    const fs::path tty = entry.path();
    std::error_code deviceEc;
    const fs::path device = tty / "device";
    if (!fs::exists(device, deviceEc)) continue;  // virtual terminals, ptys, consoles
    // An 8250 slot with nothing behind it reports type 0 (PORT_UNKNOWN).
    const std::string type = ReadLine(tty / "type");
    if (type == "0") continue;
    SerialPortInfo info;
    info.path = (fs::path(devRoot) / tty.filename()).string();
    info.driver = DriverOf(device);
    FillUsb(device, info);
    if (auto it = byId.find(info.path); it != byId.end()) info.byId = it->second;
    ports.push_back(std::move(info));
  }
  std::sort(ports.begin(), ports.end(),
            [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.path < b.path; });
  return ports;
}

}  // namespace platform
