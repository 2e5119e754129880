// FindImageWord: the four bytes a firmware file places at the device's software
// identification word.
#include <cstdint>

#include "device/device.h"
#include "device/kv70_tables.h"
#include "device/srecord_image.h"
#include "models/srecord_file.h"
#include "reporting/periodic_progress.h"
#include "reporting/reporting.h"

namespace {

constexpr DWORD kWordBytes = 4;
// Progress and cancellation are looked at once every this many records, first at the
// last record of the first period.
constexpr DWORD kRecordsPerReport = 1501;

}  // namespace

BOOL FindImageWord(CSRecordFile& file, DWORD& word, CDevice& device) {
  RunRecord& record = device.GetRunRecord();
  SendProgress(&record, 0);
  const DWORD target = device.GetAddress(kImageWordAddressIndex);

  BOOL found = FALSE;
  SRecordLine line;
  BYTE type = 0;
  CPeriodicProgress progress(record, kRecordsPerReport, CPeriodicProgress::AFTER_FIRST_PERIOD,
                             CPeriodicProgress::CANCEL_THEN_PROGRESS);
  while (file.ReadNextRecord(line, type)) {
    progress.Step([&] {
      const ULONGLONG length = file.m_dwLength ? file.m_dwLength : 1;
      return static_cast<int>(static_cast<DWORD>(file.GetPosition() * 100 / length));
    });
    // In 64 bits: a record near the top of the address space must not wrap and seem to
    // cover the word.
    const std::uint64_t start = line.address;
    const std::uint64_t end = start + line.length;
    if (start <= target && end >= std::uint64_t{target} + kWordBytes) {
      const DWORD offset = target - line.address;
      word = 0;
      for (DWORD i = 0; i < kWordBytes; ++i) word |= DWORD{line.data[offset + i]} << (8 * i);
      found = TRUE;
      break;
    }
  }
  file.SeekToBegin();
  SendProgress(&record, 100);
  return found;
}
