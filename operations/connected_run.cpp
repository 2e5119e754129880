#include "operations/connected_run.h"

#include "device/kv70_device.h"
#include "device/monitor_program.h"
#include "platform/comm_port.h"
#include "reporting/reporting.h"
#include "resources/resource.h"
#include "serial/serial_com.h"

void RunOnConnectedDevice(RunRecord* record, BYTE readOnly, EstablishingStatus establishing,
                          const std::function<void(CKV70Device& device)>& work) {
  SendStatus(record, IDS_ESTABLISHING);
  SendProgress(record, 0);

  // The monitor program is read once, before the port is opened: a file that cannot be
  // used ends the run without touching the device.
  const CMonitorProgram monitor = CMonitorProgram::ForRun();
  platform::NoteOnWire("monitor-image " + monitor.Origin());

  // Declared in this order, so that on every way out the device goes first and then the
  // port, which its destructor closes. A port that cannot be opened throws before any
  // device exists.
  // 8 data bits, one stop bit, no parity, 9600 bit/s: what the boot ROM listens at.
  CSerialCom port;
  port.Open(static_cast<DWORD>(record->comPort), CSerialCom::BYTE_SIZE_8, CSerialCom::STOP_BITS_1,
            CSerialCom::PARITY_NONE, CSerialCom::SPEED_9600);
  CKV70Device device(port, *record);
  device.SetReadOnly(readOnly);
  device.SetMonitorImage(monitor.Bytes());

  if (establishing == EstablishingStatus::kAgainBeforeConnect) SendStatus(record, IDS_ESTABLISHING);
  device.Connect();
  work(device);

  SendStatus(record, IDS_REBOOTING);
  device.RebootDevice();
  port.Close();
}
