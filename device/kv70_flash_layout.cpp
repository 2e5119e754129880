// The KV70's program-flash layouts: which sectors an erase names, in which order, and
// whether the flash needs a garbage collection first, by FlashType.
#include "device/kv70_flash_layout.h"

#include <algorithm>
#include <iterator>
#include <span>

#include "device/kv70_device.h"
#include "protocol/sector_list.h"
#include "reporting/failure_codes.h"
#include "reporting/failures.h"
#include "reporting/reporting.h"
#include "resources/resource.h"

namespace {

// A run of sector start addresses: first, first + step, ... (count addresses).
struct SectorRun {
  DWORD first;
  DWORD step;
  int count;
};

// Columns: first address, step, count.
constexpr SectorRun kTableA[] = {
    {0x02400000, 0x10000, 16},
    {0x024F8000, 0x2000, 3},
    {0x02500000, 0x10000, 16},
    {0x025F8000, 0x2000, 2},
};
constexpr SectorRun kTableB[] = {
    {0x02400000, 0x0, 1}, {0x02404000, 0x2000, 3}, {0x02410000, 0x10000, 15},
    {0x02500000, 0x0, 1}, {0x02504000, 0x2000, 3}, {0x02510000, 0x10000, 14},
};
constexpr SectorRun kTableC[] = {
    {0x02400000, 0x10000, 32},
    {0x025F8000, 0x2000, 2},
};
constexpr SectorRun kTableD[] = {
    {0x02400000, 0x0, 1},
    {0x02404000, 0x2000, 3},
    {0x02410000, 0x10000, 30},
};

enum class Collect {
  Always,     // the flash needs a garbage collection before every erase
  WhenNeeded  // only hardware that says so (Info0 or Info1, see HasCapability)
};

struct FlashLayout {
  WORD flashType;
  Collect collect;
  std::span<const SectorRun> sectors;
  // Where the erased flash ends: a list of sector starts does not say how long the last
  // sector is. Top-boot flash (tables A and C) ends in two 8 KiB sectors below a 16 KiB
  // boot block that is never erased; bottom-boot flash (B and D) in a 64 KiB sector
  // below a last 64 KiB sector that is never erased.
  DWORD erasedEnd;
};

constexpr DWORD kTopBootEnd = 0x025FC000;
constexpr DWORD kBottomBootEnd = 0x025F0000;

// Columns: FlashType, garbage collection, sector table, end of the erased flash.
constexpr FlashLayout kLayouts[] = {
    {8922, Collect::WhenNeeded, kTableA, kTopBootEnd},
    {215, Collect::WhenNeeded, kTableA, kTopBootEnd},
    {8795, Collect::Always, kTableB, kBottomBootEnd},
    {91, Collect::Always, kTableB, kBottomBootEnd},
    {8900, Collect::WhenNeeded, kTableC, kTopBootEnd},
    {8777, Collect::Always, kTableD, kBottomBootEnd},
};

const FlashLayout* FindLayout(WORD flashType) {
  for (const FlashLayout& layout : kLayouts)
    if (layout.flashType == flashType) return &layout;
  return nullptr;
}

// HasCapability flags: Info1 at least 246, or Info0 at least 5.
constexpr DWORD kNeedsCollection = 0x03;

}  // namespace

BOOL KV70ProgramFlashRange(WORD flashType, DWORD& start, DWORD& end) {
  const FlashLayout* layout = FindLayout(flashType);
  if (!layout) return FALSE;
  start = layout->sectors.front().first;
  end = layout->erasedEnd;
  return TRUE;
}

void KV70AnyProgramFlashRange(DWORD& start, DWORD& end) {
  start = 0xFFFFFFFF;
  end = 0;
  for (const FlashLayout& layout : kLayouts) {
    start = std::min(start, layout.sectors.front().first);
    end = std::max(end, layout.erasedEnd);
  }
}

void CKV70Device::BuildSectorList(CSectorList& sectors) {
  const FlashLayout* layout = FindLayout(m_config.FlashType());
  if (!layout) ThrowDevice(DEVICE_UNKNOWN_FLASH_TYPE);
  for (const SectorRun& run : layout->sectors)
    for (int i = 0; i < run.count; ++i)
      sectors.Append(run.first + static_cast<DWORD>(i) * run.step);
}

void CKV70Device::EraseProgramFlash() {
  const FlashLayout* layout = FindLayout(m_config.FlashType());
  if (!layout) ThrowDevice(DEVICE_UNKNOWN_FLASH_TYPE);
  if (layout->collect == Collect::Always || HasCapability(kNeedsCollection)) CollectGarbage();
  SendStatus(&m_record, IDS_ERASING_PROGRAM_FLASH);
  CBDDevice::EraseProgramFlash();
}
