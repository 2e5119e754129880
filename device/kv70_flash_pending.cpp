// Flash programming, garbage collection and file-system reading land in their own files
// (kv70_flash_*.cpp); until then these steps refuse with the general device failure.
// Remove each body here as its real one arrives.
#include "device/kv70_device.h"
#include "plugin/failures.h"

void CBDDevice::EraseFileSystemFlash() { ThrowDevice(500); }
void CBDDevice::EraseProgramFlash() { ThrowDevice(500); }
void CBDDevice::UpdateSoftware(LPCTSTR) { ThrowDevice(500); }
void CBDDevice::CollectGarbage() { ThrowDevice(500); }
void CKV70Device::EraseProgramFlash() { ThrowDevice(500); }
void CKV70Device::UpdateSoftware(LPCTSTR) { ThrowDevice(500); }
void CKV70Device::BuildSectorList(CSectorList&) { ThrowDevice(500); }
void CKV70Device::CheckSoftwareFile(LPCTSTR) { ThrowDevice(500); }
void CKV70Device::ReadFileSystem(LPCTSTR) { ThrowDevice(500); }
