// The steps common to devices of this family: monitor upload, flash erase, garbage
// collection, programming and restart.
#pragma once
#include "device/device.h"

class CDeviceConfig;
class CSectorList;
class CSRecordFile;

class CBDDevice : public CDevice {
 public:
  // `config` is the record the most derived class embeds; it is only stored here.
  CBDDevice(CSerialCom& port, RunRecord& record, CDeviceConfig* config);

  // Slots 3 to 10, after CDevice's three.
  virtual DWORD GetCommandCode(int index) = 0;
  virtual BOOL HasCapability(DWORD flags) = 0;
  virtual BOOL SupportsFileSystemErase() = 0;
  virtual void EraseFileSystemFlash();
  virtual void EraseProgramFlash();
  virtual void UpdateSoftware(LPCTSTR path);
  virtual void BuildSectorList(CSectorList& sectors) = 0;
  virtual void CollectGarbage();

  // Streams an opened firmware file's data records into program flash (ProgramImage).
  void ProgramSoftwareFile(CSRecordFile& file);

  // Loads the flash monitor at GetAddress(0), verifies it chunk by chunk, starts it and
  // pings it. Progress runs from `progressBase` over `progressSpan`, then 100. Throws
  // BDException 804, 805 or 806.
  void UploadMonitor(UINT progressBase, UINT progressSpan);
  // The kFlashMonitorImageSize bytes UploadMonitor sends and compares with; the embedded
  // image until set. Not owned: it must outlive the upload.
  void SetMonitorImage(const BYTE* image) { m_monitorImage = image; }
  // The monitor's reboot command, five seconds for the restart, a one-second break.
  void RebootDevice();
  // Shows the configuration record in a modal dialog owned by the host window. The dialog
  // belongs to a layer above the device, so whoever runs the device hands in the
  // function that shows it; without one nothing is shown.
  using ConfigurationViewer = void (*)(CDeviceConfig* config, HWND owner);
  void SetConfigurationViewer(ConfigurationViewer viewer) { m_configViewer = viewer; }
  void ShowConfigurationDialog();

  CDeviceConfig* GetConfigRecord() { return m_pConfig; }

 protected:
  [[noreturn]] void ThrowBD(int code) const;

  CDeviceConfig* m_pConfig;

 private:
  ConfigurationViewer m_configViewer = nullptr;
  const BYTE* m_monitorImage;
};
