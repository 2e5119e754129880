// The KV70's program-flash layouts: which sectors an erase names, in which order, and
// whether the flash needs a garbage collection first, by FlashType.
#include <iterator>
#include <span>

#include "device/kv70_device.h"
#include "reporting/failures.h"
#include "reporting/reporting.h"
#include "protocol/sector_list.h"
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
    {0x02400000, 0x0, 1},
    {0x02404000, 0x2000, 3},
    {0x02410000, 0x10000, 15},
    {0x02500000, 0x0, 1},
    {0x02504000, 0x2000, 3},
    {0x02510000, 0x10000, 14},
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
};

// Columns: FlashType, garbage collection, sector table.
constexpr FlashLayout kLayouts[] = {
    {8922, Collect::WhenNeeded, kTableA},
    {215, Collect::WhenNeeded, kTableA},
    {8795, Collect::Always, kTableB},
    {91, Collect::Always, kTableB},
    {8900, Collect::WhenNeeded, kTableC},
    {8777, Collect::Always, kTableD},
};

const FlashLayout* FindLayout(WORD flashType) {
  for (const FlashLayout& layout : kLayouts)
    if (layout.flashType == flashType) return &layout;
  return nullptr;
}

// HasCapability flags: Info1 at least 246, or Info0 at least 5.
constexpr DWORD kNeedsCollection = 0x03;

}  // namespace

void CKV70Device::BuildSectorList(CSectorList& sectors) {
  const FlashLayout* layout = FindLayout(m_config.FlashType());
  if (!layout) ThrowDevice(519);
  for (const SectorRun& run : layout->sectors)
    for (int i = 0; i < run.count; ++i) sectors.Append(run.first + static_cast<DWORD>(i) * run.step);
}

void CKV70Device::EraseProgramFlash() {
  const FlashLayout* layout = FindLayout(m_config.FlashType());
  if (!layout) ThrowDevice(519);
  if (layout->collect == Collect::Always || HasCapability(kNeedsCollection)) CollectGarbage();
  SendStatus(&m_record, IDS_ERASING_PROGRAM_FLASH);
  CBDDevice::EraseProgramFlash();
}
