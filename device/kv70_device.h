// The KV70: its addresses, command codes and register set-up, the connection sequence
// from a restarted device to a running flash monitor, and its flash steps.
#pragma once
#include "device/bd_device.h"
#include "models/kv70_config.h"

class CSRecordFile;

class CKV70Device : public CBDDevice {
 public:
  CKV70Device(CSerialCom& port, RunRecord& record);

  // Slots.
  void Reset() override;
  void Connect() override;
  DWORD GetAddress(int index) override;
  DWORD GetCommandCode(int index) override;
  BOOL HasCapability(DWORD flags) override;
  BOOL SupportsFileSystemErase() override;
  void EraseProgramFlash() override;
  // Opens the file, keeps its content and runs the upgrade below on it.
  void UpdateSoftware(LPCTSTR path) override;
  // The whole upgrade of a file whose content the run keeps (OpenSoftwareFile): checks,
  // erase, programming of exactly the kept content, and a failure instead when the file
  // on disk changed meanwhile.
  void UpdateSoftware(CSRecordFile& file);
  void BuildSectorList(CSectorList& sectors) override;

  // Connection steps, in the order Connect runs them.
  // Answers the boot ROM's breaks, then probes the ROM monitor; FALSE when it is silent.
  BOOL EstablishRomMonitor();
  void SendIdentification();
  // The register and chip-select set-up; throws 506.
  void SetUpChipSelects();
  // Both ends to 38400 bit/s; throws 504 or 505.
  void SwitchBaudRate();
  // Reads the configuration record; throws 519 for a flash type the device does not know.
  void ReadConfigurationAndCheck();

  // Register writers of the set-up.
  void RomWriteByte(DWORD address, BYTE value);
  void RomWriteLongs(DWORD firstRegister, DWORD secondRegister, DWORD firstValue,
                     DWORD secondValue);

  // Flash programming and file-system reading.
  void CheckSoftwareFile(LPCTSTR path);
  void CheckSoftwareFile(CSRecordFile& file);
  // Copies the file-system flash into a new file at `path`, one 1024-byte block at a
  // time; without an answer a block is tried again, once a second, until the user
  // cancels. With `mustBeNew` a file that is already there is not replaced: it fails
  // with the file exception "already exists". Throws CFileException, CFlashMonException
  // 408 or CUserException.
  void ReadFileSystem(LPCTSTR path, bool mustBeNew = false);
  // Blocks of file-system flash a record's FileSystemMb announces (0 for absent, 0xFFFF).
  static DWORD FileSystemBlocks(WORD fileSystemMb);

  CKV70Config& GetConfig() { return m_config; }
  BYTE GetReadOnly() const { return m_readOnly; }
  // 1 for connections that only read the device, 0 for a software upgrade.
  void SetReadOnly(BYTE readOnly) { m_readOnly = readOnly; }

 private:
  CKV70Config m_config;
  BYTE m_readOnly;
};
