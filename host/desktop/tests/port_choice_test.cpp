// What a COM port is connected to, chosen in the start window: the machine's serial
// ports described as `velmora ports` lists them, the simulated KV70, or a typed value.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host/core/port_list.h"
#include "host/core/session.h"
#include "host/desktop/desktop_app.h"
#include "host/desktop/tests/desktop_fixture.h"

namespace velmora::desktop {
namespace {

namespace fs = std::filesystem;

TEST(DescribeSerialPort, SaysWhatThePortSaysInOneLine) {
  const struct {
    platform::SerialPortInfo port;
    std::string line;
  } cases[] = {
      {{"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
        "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"},
       "/dev/ttyUSB0  driver ftdi_sio  USB 0403:6001  FTDI FT232R USB UART  serial A50285BI"},
      {{"/dev/ttyS0", "", "serial8250", "", "", "", "", ""}, "/dev/ttyS0  driver serial8250"},
      {{"/dev/ttyACM0", "", "cdc_acm", "2341", "0043", "", "Uno", ""},
       "/dev/ttyACM0  driver cdc_acm  USB 2341:0043  Uno"},
      {{"/dev/ttyUSB1", "", "", "10c4", "ea60", "Silicon Labs", "", "0001"},
       "/dev/ttyUSB1  USB 10c4:ea60  Silicon Labs  serial 0001"},
      {{"/dev/ttyAMA0", "", "", "", "", "", "", ""}, "/dev/ttyAMA0"},
  };
  for (const auto& c : cases) EXPECT_EQ(DescribeSerialPort(c.port), c.line);
}

class PortChoiceTest : public DesktopTest {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    std::string error;
    int status = 0;
    plugin_ = LoadPlugin(KV70_PLUGIN_PATH, error, status);
    ASSERT_NE(plugin_, nullptr) << error;
    // Ports of a machine of our own: files in the test's directory stand for the devices.
    usb_ = {Path("ttyUSB0"),
            Path("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"),
            "ftdi_sio",
            "0403",
            "6001",
            "FTDI",
            "FT232R USB UART",
            "A50285BI"};
    uart_ = {Path("ttyS0"), "", "serial8250", "", "", "", "", ""};
    for (const auto* info : {&usb_, &uart_}) std::ofstream(info->path).put('\0');
    window_ = std::make_unique<StartWindow>(*plugin_, 2, [this] {
      return std::vector<platform::SerialPortInfo>{usb_, uart_};
    });
  }

  // Types `text` over what the field shows and presses Enter, as a user would.
  void Type(const QString& text) {
    QLineEdit* edit = window_->connection()->lineEdit();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
  }

  void Choose(int index) {
    window_->connection()->setCurrentIndex(index);
    emit window_->connection()->activated(index);
  }

  std::string Shown() const { return window_->connection()->currentText().toStdString(); }
  bool ProblemShown() const { return window_->connectionProblem()->isVisibleTo(window_.get()); }

  std::unique_ptr<PluginLibrary> plugin_;
  platform::SerialPortInfo usb_;
  platform::SerialPortInfo uart_;
  std::unique_ptr<StartWindow> window_;
};

TEST_F(PortChoiceTest, OffersTheMachinesPortsTheSimulatorAndANetworkAddress) {
  QComboBox* connection = window_->connection();
  ASSERT_EQ(connection->count(), 4);
  EXPECT_EQ(connection->itemText(0).toStdString(), DescribeSerialPort(usb_));
  EXPECT_EQ(connection->itemText(1).toStdString(), DescribeSerialPort(uart_));
  EXPECT_TRUE(connection->itemText(2).startsWith("sim"));
  EXPECT_TRUE(connection->itemText(3).startsWith("rfc2217://HOST:PORT"));
  EXPECT_TRUE(connection->isEditable());
  // COM2 as the start window opens: what it resolves to now.
  EXPECT_EQ(window_->chosenPort(), 2);
  EXPECT_EQ(Shown(), ComPortTarget(2));
}

TEST_F(PortChoiceTest, AChoiceSetsTheComPortAndTheComListFollows) {
  Choose(0);
  EXPECT_EQ(ComPortTarget(2), usb_.path);
  EXPECT_EQ(Shown(), DescribeSerialPort(usb_));
  EXPECT_TRUE(window_->port()->itemText(1).contains(QString::fromStdString(usb_.path)))
      << window_->port()->itemText(1).toStdString();
  EXPECT_FALSE(ProblemShown());

  // The field follows the COM port chosen, and shows a port by its description.
  window_->port()->setCurrentIndex(0);
  EXPECT_EQ(Shown(), ComPortTarget(1));
  window_->port()->setCurrentIndex(1);
  EXPECT_EQ(Shown(), DescribeSerialPort(usb_));

  Choose(2);
  EXPECT_EQ(ComPortTarget(2), "sim");
  EXPECT_TRUE(window_->port()->itemText(1).contains("simulated KV70"));
  EXPECT_EQ(ComPortTarget(1), "/dev/ttyS0") << "the other COM ports are left alone";

  // The network entry is a pattern to complete: it changes nothing by itself.
  Choose(3);
  EXPECT_EQ(Shown(), "rfc2217://");
  EXPECT_EQ(ComPortTarget(2), "sim");
  Type("rfc2217://127.0.0.1:2217");
  EXPECT_EQ(ComPortTarget(2), "rfc2217://127.0.0.1:2217");
  EXPECT_TRUE(window_->port()->itemText(1).contains("rfc2217://127.0.0.1:2217"));

  // A port named by its by-id link is shown by its description too.
  ::setenv("VELMORA_COM3", usb_.byId.c_str(), 1);
  window_->RefreshPorts();
  window_->port()->setCurrentIndex(2);
  EXPECT_EQ(Shown(), DescribeSerialPort(usb_));
}

TEST_F(PortChoiceTest, AValueThatIsNoDeviceIsSaidAndKeptAndTheComPortStaysAsItWas) {
  Type(QString::fromStdString(uart_.path));
  ASSERT_EQ(ComPortTarget(2), uart_.path);
  EXPECT_EQ(Shown(), DescribeSerialPort(uart_));
  const struct {
    QString typed;
    std::string says;
  } cases[] = {
      {"rfc2217://nohost", "expected rfc2217://HOST:PORT"},
      {QString::fromStdString(Path("ttyUSB7")), "no such device"},
      {QString::fromStdString(dir_.string()), "is a directory"},
      {"sim:no-such-setting=1", "sim:no-such-setting=1"},
      {"", "Give a device path"},
  };
  for (const auto& c : cases) {
    Type(c.typed);
    EXPECT_TRUE(ProblemShown()) << c.typed.toStdString();
    EXPECT_NE(window_->connectionProblem()->text().toStdString().find(c.says), std::string::npos)
        << window_->connectionProblem()->text().toStdString();
    EXPECT_EQ(Shown(), c.typed.toStdString()) << "the text stays to be corrected";
    EXPECT_EQ(ComPortTarget(2), uart_.path);
    EXPECT_FALSE(window_->ApplyConnection()) << "Start does not go on with it";
  }
  // Corrected, it is taken and the complaint goes.
  Type("sim");
  EXPECT_EQ(ComPortTarget(2), "sim");
  EXPECT_FALSE(ProblemShown());
}

}  // namespace
}  // namespace velmora::desktop
