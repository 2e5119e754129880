// ProgramImage: a firmware file's type-3 records streamed into program commands,
// contiguous records merged into blocks.
#include <cstring>

#include "device/srecord_image.h"
#include "models/srecord_file.h"
#include "protocol/flashmon_link.h"
#include "protocol/mem_block.h"
#include "reporting/failure_codes.h"
#include "reporting/failures.h"
#include "reporting/periodic_progress.h"
#include "reporting/reporting.h"

namespace {

constexpr BYTE kDataRecord = 3;
// A program request carries the 4-byte address and at most this many data bytes.
constexpr DWORD kMaxBlockData = 252;
// Room for a full block and the longest record that could still join it.
constexpr DWORD kBlockBuffer = 400;
static_assert(kMaxBlockData + SREC_MAX_DATA <= kBlockBuffer);
// Progress and cancellation are looked at once every this many data records, first at
// the last record of the first period.
constexpr DWORD kRecordsPerReport = 1501;

}  // namespace

void ProgramImage(CSRecordFile& file, DWORD commandCode, CFlashMonLink& link) {
  RunRecord& record = link.GetRunRecord();
  try {
    SendProgress(&record, 0);
    BYTE block[kBlockBuffer];
    DWORD accumulated = 0;
    DWORD blockAddress = 0;

    auto sendBlock = [&]() {
      CMemBlock mem(blockAddress, static_cast<WORD>(accumulated), block);
      link.ProgramBlock(mem, commandCode);
      accumulated = 0;
    };

    CPeriodicProgress progress(record, kRecordsPerReport, CPeriodicProgress::AFTER_FIRST_PERIOD,
                               CPeriodicProgress::CANCEL_THEN_PROGRESS);
    SRecordLine line;
    BYTE type = 0;
    while (file.ReadNextRecord(line, type)) {
      if (type != kDataRecord) continue;
      progress.Step([&] {
        const ULONGLONG length = file.m_dwLength ? file.m_dwLength : 1;
        return static_cast<int>(static_cast<DWORD>(file.GetPosition() * 100 / length));
      });
      if (accumulated > 0 &&
          (accumulated + line.length > kMaxBlockData || blockAddress + accumulated != line.address))
        sendBlock();
      if (accumulated == 0) blockAddress = line.address;
      std::memcpy(block + accumulated, line.data, line.length);
      accumulated += line.length;
    }
    if (accumulated > 0) sendBlock();
    SendProgress(&record, 100);
  } catch (CFlashMonException* e) {
    e->Delete();
    throw new CFlashMonException(FLASHMON_PROGRAM_REFUSED);
  }
}
