// CKV70Device::ReadFileSystem: the data file-system flash, block by block, into a file
// on the PC, waiting out a pulled cable for as long as the user lets it.
#include "device/kv70_device.h"
#include "framework/afx.h"
#include "platform/clock.h"
#include "protocol/flashmon_commands.h"
#include "protocol/mem_block.h"
#include "reporting/failure_codes.h"
#include "reporting/failures.h"
#include "reporting/periodic_progress.h"
#include "reporting/reporting.h"
#include "resources/resource.h"
#include "serial/serial_com.h"

namespace {

constexpr DWORD kFileSystemBase = 0x02800000;
// The largest reply the flash monitor sends, so one exchange per block.
constexpr WORD kBlockBytes = 1024;
constexpr DWORD kBlocksPerMb = (1024 * 1024) / kBlockBytes;
// A record without a file-system size says so with this value.
constexpr WORD kFileSystemAbsent = 0xFFFF;
// Progress and the cancel check come every 33rd block, first at block 32.
constexpr DWORD kBlocksPerReport = 33;
constexpr std::uint32_t kReconnectWaitMs = 1000;

// One block read, repeated until the monitor answers. Only a missing answer is retried:
// a reply of the wrong length means the monitor misbehaves and ends the dump.
void ReadUntilAnswered(CFlashMonLink& link, RunRecord& record, CMemBlock& block) {
  bool failedBefore = false;
  for (;;) {
    try {
      link.ReadMemory(block, MON_READ);
      break;
    } catch (CFlashMonException* e) {
      if (e->m_code != FLASHMON_READ_NO_ANSWER) throw;
      e->Delete();
    }
    // Stays on the host's display until an answer comes back.
    SendStatus(&record, IDS_WAITING_FOR_RECONNECT);
    failedBefore = true;
    CheckCancel(&record);
    // A late reply to the try that gave up must not be taken for the next one's: it may
    // come during the wait, or after the block was read again, as the answer to the next.
    link.GetPort().Purge(TRUE, TRUE);
    platform::GetClock().SleepMs(kReconnectWaitMs);
    link.GetPort().Purge(TRUE, TRUE);
  }
  if (failedBefore) {
    link.DiscardLateReplies();
    SendStatus(&record, IDS_READING_FILE_SYSTEM);
  }
}

}  // namespace

DWORD CKV70Device::FileSystemBlocks(WORD fileSystemMb) {
  if (fileSystemMb == kFileSystemAbsent) return 0;
  // At most 0xFFFE * 1024 blocks: a DWORD holds the count, where the byte count of a
  // flash of 4 GiB or more would not fit.
  return static_cast<DWORD>(fileSystemMb) * kBlocksPerMb;
}

void CKV70Device::ReadFileSystem(LPCTSTR path, bool mustBeNew) {
  CMemBlock block(kFileSystemBase, kBlockBytes);
  // Replaces a file of that name, unless the user was asked about a new file: one that
  // appeared since then belongs to somebody else. Closed by its destructor on a failure,
  // holding the blocks read so far.
  CFile log(path, (mustBeNew ? CFile::modeCreateNew : CFile::modeCreate) | CFile::modeWrite |
                      CFile::shareExclusive);

  const DWORD blocks = FileSystemBlocks(m_config.FileSystemMb());
  DWORD address = kFileSystemBase;
  SendStatus(&m_record, IDS_READING_FILE_SYSTEM);
  SendProgress(&m_record, 0);

  CPeriodicProgress progress(m_record, kBlocksPerReport, CPeriodicProgress::AFTER_FIRST_PERIOD,
                             CPeriodicProgress::PROGRESS_THEN_CANCEL);
  for (DWORD k = 0; k < blocks; ++k) {
    progress.Step([&] { return static_cast<int>(static_cast<double>(k) / blocks * 100.0); });
    block.SetAddress(address);
    ReadUntilAnswered(m_link, m_record, block);
    // Throws on a short write (a full disk): the dump fails rather than end with a
    // file that lacks blocks.
    log.Write(block.GetData(), kBlockBytes);
    address += kBlockBytes;
  }

  SendProgress(&m_record, 100);
  // Throws when the file system reports a failure only on close.
  log.Close();
}
