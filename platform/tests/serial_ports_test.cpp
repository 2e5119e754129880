// Port discovery over a sysfs and /dev tree built in the test's own directory.
#include "platform/serial_ports.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace platform {
namespace {

namespace fs = std::filesystem;

class SerialPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("serial-ports-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    sys_ = root_ / "sys";
    dev_ = root_ / "dev";
    fs::create_directories(sys_ / "class" / "tty");
    fs::create_directories(dev_ / "serial" / "by-id");
  }
  void TearDown() override { fs::remove_all(root_); }

  static void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
  }
  // Binds the device directory `deviceDir` (under sys/devices) to `driver` of `bus`.
  void Bind(const fs::path& deviceDir, const std::string& driver,
            const std::string& bus = "platform") {
    const fs::path device = sys_ / "devices" / deviceDir;
    fs::create_directories(device);
    const fs::path target = sys_ / "bus" / bus / "drivers" / driver;
    fs::create_directories(target);
    fs::create_symlink(target, device / "driver");
  }
  // A tty whose device directory is `deviceDir` (under sys/devices), bound to `driver`.
  void AddTty(const std::string& name, const fs::path& deviceDir, const std::string& driver,
              const std::string& type = "", const std::string& bus = "platform") {
    const fs::path device = sys_ / "devices" / deviceDir;
    Bind(deviceDir, driver, bus);
    const fs::path tty = sys_ / "devices" / "ttys" / name;
    fs::create_directories(tty);
    fs::create_directory_symlink(device, tty / "device");
    if (!type.empty()) Write(tty / "type", type);
    fs::create_directory_symlink(tty, sys_ / "class" / "tty" / name);
  }

  fs::path root_, sys_, dev_;
};

TEST_F(SerialPortsTest, ListsUartsAndUsbAdaptersWithTheirNames) {
  // A USB adapter: the interface directory sits under the USB device with the strings.
  const fs::path usb = "pci0000:00/usb1/1-2";
  Write(sys_ / "devices" / usb / "idVendor", "0403");
  Write(sys_ / "devices" / usb / "idProduct", "6001");
  Write(sys_ / "devices" / usb / "manufacturer", "FTDI");
  Write(sys_ / "devices" / usb / "product", "FT232R USB UART");
  Write(sys_ / "devices" / usb / "serial", "A50285BI");
  AddTty("ttyUSB0", usb / "1-2:1.0" / "ttyUSB0", "ftdi_sio");
  fs::create_symlink("../../ttyUSB0",
                     dev_ / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  // A UART that answered, one empty 8250 slot, and a tty without a device (a console).
  AddTty("ttyS0", "platform/serial8250/tty/ttyS0", "serial8250", "4");
  AddTty("ttyS1", "platform/serial8250/tty/ttyS1", "serial8250", "0");
  fs::create_directories(sys_ / "devices" / "virtual" / "tty0");
  fs::create_directory_symlink(sys_ / "devices" / "virtual" / "tty0",
                               sys_ / "class" / "tty" / "tty0");

  const auto ports = ListSerialPorts(sys_.string(), dev_.string());
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].path, (dev_ / "ttyS0").string());
  EXPECT_EQ(ports[0].driver, "serial8250");
  EXPECT_EQ(ports[0].vendorId, "");
  EXPECT_EQ(ports[0].byId, "");
  const auto& usbPort = ports[1];
  EXPECT_EQ(usbPort.path, (dev_ / "ttyUSB0").string());
  EXPECT_EQ(usbPort.driver, "ftdi_sio");
  EXPECT_EQ(usbPort.vendorId, "0403");
  EXPECT_EQ(usbPort.productId, "6001");
  EXPECT_EQ(usbPort.manufacturer, "FTDI");
  EXPECT_EQ(usbPort.product, "FT232R USB UART");
  EXPECT_EQ(usbPort.serialNumber, "A50285BI");
  EXPECT_EQ(usbPort.byId,
            (dev_ / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").string());
}

TEST_F(SerialPortsTest, AUartBehindTheSerialCoresOwnDevicesIsNamedByItsHardwareDriver) {
  // Kernels since 6.5: tty -> port device (serial-base "port") -> controller (serial-base
  // "ctrl") -> the PnP device the "serial" driver bound.
  Bind("pnp0/00:00", "serial", "pnp");
  Bind("pnp0/00:00/00:00:0", "ctrl", "serial-base");
  AddTty("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0", "port", "4", "serial-base");

  const auto ports = ListSerialPorts(sys_.string(), dev_.string());
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].driver, "serial");
}

TEST_F(SerialPortsTest, MissingTreesGiveNoPorts) {
  EXPECT_TRUE(ListSerialPorts((root_ / "none").string(), (root_ / "none").string()).empty());
  EXPECT_TRUE(ListSerialPorts(sys_.string(), dev_.string()).empty());
}

}  // namespace
}  // namespace platform
