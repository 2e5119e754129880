// CBDDevice's flash steps: erasing program flash by the device's sector list, garbage
// collection, programming a file, and erasing the file-system flash.
#include "device/bd_device.h"
#include "device/kv70_tables.h"
#include "device/srecord_image.h"
#include "models/device_config.h"
#include "models/srecord_file.h"
#include "platform/clock.h"
#include "protocol/sector_list.h"
#include "reporting/failure_codes.h"
#include "reporting/failures.h"
#include "reporting/reporting.h"
#include "resources/resource.h"

namespace {

// The monitor answers the collection only after this long.
constexpr DWORD kCollectWaitSeconds = 5;
// The file-system erase runs on in the device after the monitor has answered.
constexpr std::uint32_t kFileSystemEraseMs = 120000;

}  // namespace

void CBDDevice::EraseProgramFlash() {
  CSectorList sectors;
  BuildSectorList(sectors);
  m_link.EraseSectors(sectors, GetCommandCode(kEraseIndex), GetCommandCode(kEraseStatusIndex));
}

void CBDDevice::CollectGarbage() {
  SendStatus(&m_record, IDS_COLLECTING_GARBAGE);
  try {
    m_link.RunStatusCommand(GetCommandCode(kCollectGarbageIndex), kCollectWaitSeconds);
    // The collection may have changed the record.
    m_link.ReadConfiguration(*m_pConfig, GetCommandCode(kReadConfigIndex));
  } catch (CFlashMonException* e) {
    e->Delete();
    ThrowBD(BD_GARBAGE_COLLECTION_FAILED);
  }
}

void CBDDevice::UpdateSoftware(LPCTSTR path) {
  CSRecordFile file(path);
  file.OpenAndCheck();
  file.KeepContent();
  ProgramSoftwareFile(file);
}

void CBDDevice::ProgramSoftwareFile(CSRecordFile& file) {
  ProgramImage(file, GetCommandCode(kProgramIndex), m_link);
}

void CBDDevice::EraseFileSystemFlash() {
  if (!SupportsFileSystemErase()) return;
  SendStatus(&m_record, IDS_ERASING_FILE_SYSTEM);
  m_link.EraseFileSystem(GetCommandCode(kEraseFileSystemIndex));
  platform::GetClock().SleepMs(kFileSystemEraseMs);
}
