// The body of the file system dump: connect read-only, copy the file-system flash into
// the log file, restart.
#include <memory>

#include "device/kv70_device.h"
#include "framework/afxwin.h"
#include "operations/file_system_dump_operation.h"
#include "plugin/reporting.h"
#include "resources/resource.h"
#include "serial/serial_com.h"

namespace {

// 8 data bits, one stop bit, no parity, 9600 bit/s: what the boot ROM listens at.
constexpr int kByteSize8 = 1;
constexpr int kOneStopBit = 0;
constexpr int kNoParity = 0;
constexpr int kSpeed9600 = 6;

}  // namespace

bool CFileSystemDumpOperation::Execute(RunRecord* record) {
  CString caption;
  caption.LoadString(IDS_DUMP_CAPTION);
  if (CWnd* host = CWnd::FromHandle(record->hostWindow)) host->SetWindowText(caption);

  SendStatus(record, IDS_ESTABLISHING);
  SendProgress(record, 0);

  // Declared port first: a failure destroys the device, then closes and destroys the
  // port, and passes on unchanged. The device is not restarted then.
  auto port = std::make_unique<CSerialCom>();
  port->Open(static_cast<DWORD>(record->comPort), kByteSize8, kOneStopBit, kNoParity, kSpeed9600);
  auto device = std::make_unique<CKV70Device>(*port, *record);
  device->SetReadOnly(1);

  SendStatus(record, IDS_ESTABLISHING);
  device->Connect();
  // The record read by Connect gives the size of the file-system flash.
  const CString logFile = LogFileName();
  device->ReadFileSystem(logFile);

  SendStatus(record, IDS_REBOOTING);
  device->RebootDevice();

  port->Close();
  device.reset();
  port.reset();
  return true;
}
