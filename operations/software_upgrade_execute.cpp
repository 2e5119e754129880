// The body of the software upgrade: connect to the KV70, load the chosen firmware file
// into its program flash, restart it.
#include "device/kv70_device.h"
#include "operations/software_upgrade_operation.h"
#include "platform/window.h"
#include "plugin/app.h"
#include "plugin/reporting.h"
#include "resources/resource.h"
#include "serial/serial_com.h"

namespace {

// 8 data bits, one stop bit, no parity, 9600 bit/s: the boot ROM's line.
constexpr int kByteSize8 = 1;
constexpr int kStopBits1 = 0;
constexpr int kParityNone = 0;
constexpr int kSpeed9600 = 6;

}  // namespace

bool CSoftwareUpgradeOperation::Execute(RunRecord* record) {
  CString caption;
  caption.LoadString(IDS_UPGRADE_CAPTION);
  platform::SetWindowText(record->hostWindow, caption);

  // The page refuses Next without a choice, but a host may run the operation without
  // showing it: say so and end as cancelled before the device is touched.
  const CString path = m_selectionPage.GetSelectedPath();
  if (path.IsEmpty()) {
    CString message;
    message.LoadString(IDS_NO_SELECTION);
    ShowFailureMessage(message, record->hostWindow);
    AfxThrowUserException();
  }

  SendStatus(record, IDS_ESTABLISHING);
  SendProgress(record, 0);

  // Declared in this order, so that on every way out the device goes first and then the
  // port, which its destructor closes. A port that cannot be opened throws before any
  // device exists.
  CSerialCom port;
  port.Open(static_cast<DWORD>(record->comPort), kByteSize8, kStopBits1, kParityNone, kSpeed9600);
  CKV70Device device(port, *record);
  device.SetReadOnly(0);
  device.Connect();
  device.UpdateSoftware(path);
  SendStatus(record, IDS_REBOOTING);
  device.RebootDevice();
  port.Close();
  return true;
}
