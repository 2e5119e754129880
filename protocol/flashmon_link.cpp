#include "protocol/flashmon_link.h"

#include "platform/clock.h"
#include "protocol/config_record_sink.h"
#include "protocol/flashmon_reply.h"
#include "protocol/flashmon_request.h"
#include "protocol/mem_block.h"
#include "protocol/sector_list.h"
#include "reporting/failure_codes.h"
#include "reporting/failures.h"
#include "reporting/reporting.h"
#include "resources/resource.h"
#include "serial/serial_com.h"

namespace {

constexpr int kPingAttempts = 2;
// The erase request is repeated until its reply arrives within this time.
constexpr std::uint64_t kEraseAnswerLimitMs = 1000;
constexpr std::uint32_t kPollIntervalMs = 1000;
// Progress reaches 100 at this many polls and grows beyond it if the erase lasts longer.
constexpr int kErasePollsFor100 = 120;
constexpr int kEraseMaxPolls = 300;
constexpr BYTE kEraseFinished = 1;
constexpr BYTE kEraseFailed = 2;
constexpr BYTE kProgramAccepted = 1;
constexpr BYTE kProgramRefused = 0;
constexpr std::uint32_t kProgramRetryMs = 1000;
constexpr int kStatusAttempts = 2;
constexpr BYTE kStatusOk = 1;

[[noreturn]] void Fail(int code) {
  throw new CFlashMonException(code);
}

BYTE Code(DWORD commandCode) {
  return static_cast<BYTE>(commandCode);
}

}  // namespace

BOOL CFlashMonLink::Send(const CFlashMonRequest& request) {
  try {
    m_port.Write(request.GetFrame(), request.GetFrameLength());
    return TRUE;
  } catch (CSerialComException* e) {
    e->ReportError();
    e->Delete();
    return FALSE;
  }
}

BOOL CFlashMonLink::Exchange(const CFlashMonRequest& request, CFlashMonReply& reply) {
  Send(request);
  return reply.Read(m_port);
}

BOOL CFlashMonLink::Ping(DWORD commandCode) {
  const CFlashMonRequest request = CFlashMonRequest::Empty(Code(commandCode));
  CFlashMonReply reply(Code(commandCode));
  for (int attempt = 0; attempt < kPingAttempts; ++attempt) {
    m_port.Purge(TRUE, TRUE);
    if (Exchange(request, reply)) return TRUE;
  }
  return FALSE;
}

void CFlashMonLink::EraseSectors(CSectorList& sectors, DWORD eraseCode, DWORD statusCode) {
  const CFlashMonRequest erase = CFlashMonRequest::SectorList(Code(eraseCode), sectors);
  const CFlashMonRequest status = CFlashMonRequest::Empty(Code(statusCode));
  SendProgress(&m_record, 0);

  // Elapsed time from the monotonic clock: processor time hardly moves while the
  // thread waits for the port, so it would never reach the limit.
  platform::Clock& clock = platform::GetClock();
  const std::uint64_t start = clock.NowMs();
  CFlashMonReply eraseReply(Code(eraseCode));
  for (;;) {
    if (clock.NowMs() - start >= kEraseAnswerLimitMs) Fail(FLASHMON_ERASE_NO_ANSWER);
    if (Exchange(erase, eraseReply)) break;
  }

  CFlashMonReply statusReply(Code(statusCode));
  for (int polls = 0;;) {
    clock.SleepMs(kPollIntervalMs);
    CheckCancel(&m_record);
    SendProgress(&m_record, polls * 100 / kErasePollsFor100);
    BYTE state = 0;
    if (Exchange(status, statusReply) && statusReply.GetFirstByte(state)) {
      if (state == kEraseFinished) {
        SendProgress(&m_record, 100);
        return;
      }
      if (state == kEraseFailed) Fail(FLASHMON_ERASE_FAILED);
    }
    if (++polls >= kEraseMaxPolls) Fail(FLASHMON_ERASE_TIMEOUT);
  }
}

void CFlashMonLink::ProgramBlock(const CMemBlock& block, DWORD commandCode) {
  const CFlashMonRequest request = CFlashMonRequest::AddressAndData(Code(commandCode), block);
  CFlashMonReply reply(Code(commandCode));
  bool retried = false;
  for (;;) {
    if (Exchange(request, reply) && reply.GetDataLength() == 1) {
      if (reply.GetData()[0] == kProgramAccepted) break;
      if (reply.GetData()[0] == kProgramRefused) Fail(FLASHMON_PROGRAM_REFUSED);
    }
    SendStatus(&m_record, IDS_WAITING_FOR_RECONNECT);
    CheckCancel(&m_record);
    m_port.Purge(TRUE, TRUE);
    retried = true;
    platform::GetClock().SleepMs(kProgramRetryMs);
    // An answer to the try that gave up may have come during the wait.
    m_port.Purge(TRUE, TRUE);
  }
  if (retried) {
    DiscardLateReplies();
    SendStatus(&m_record, IDS_UPDATING_SOFTWARE);
  }
}

void CFlashMonLink::DiscardLateReplies() {
  platform::GetClock().SleepMs(kProgramRetryMs);
  m_port.Purge(TRUE, TRUE);
}

void CFlashMonLink::Reboot(DWORD commandCode) {
  const CFlashMonRequest request = CFlashMonRequest::Empty(Code(commandCode));
  CFlashMonReply reply(Code(commandCode));
  if (!Exchange(request, reply)) Fail(FLASHMON_REBOOT_NO_ANSWER);
}

void CFlashMonLink::ReadMemory(CMemBlock& block, DWORD commandCode) {
  const CFlashMonRequest request = CFlashMonRequest::AddressAndCount(Code(commandCode), block);
  CFlashMonReply reply(Code(commandCode));
  if (!Exchange(request, reply)) Fail(FLASHMON_READ_NO_ANSWER);
  if (reply.GetDataLength() != block.GetCount()) Fail(FLASHMON_READ_WRONG_LENGTH);
  block.Fill(reply.GetData());
}

void CFlashMonLink::ReadConfiguration(CConfigRecordSink& config, DWORD commandCode) {
  const CFlashMonRequest request = CFlashMonRequest::Empty(Code(commandCode));
  CFlashMonReply reply(Code(commandCode));
  if (!Exchange(request, reply) || reply.GetDataLength() != config.GetSize() ||
      !config.Decode(reply.GetData(), reply.GetDataLength()))
    Fail(FLASHMON_READ_CONFIG_FAILED);
}

void CFlashMonLink::RunStatusCommand(DWORD commandCode, DWORD waitSeconds) {
  const CFlashMonRequest request = CFlashMonRequest::Empty(Code(commandCode));
  CFlashMonReply reply(Code(commandCode));
  for (int attempt = 0; attempt < kStatusAttempts; ++attempt) {
    Send(request);
    platform::GetClock().SleepMs(waitSeconds * 1000);
    if (reply.Read(m_port)) {
      BYTE state = 0;
      if (reply.GetFirstByte(state) && state == kStatusOk) return;
      Fail(FLASHMON_COMMAND_FAILED);
    }
  }
  Fail(FLASHMON_COMMAND_NO_ANSWER);
}

void CFlashMonLink::EraseFileSystem(DWORD commandCode) {
  const CFlashMonRequest request = CFlashMonRequest::Empty(Code(commandCode));
  CFlashMonReply reply(Code(commandCode));
  if (!Exchange(request, reply)) Fail(FLASHMON_ERASE_FS_NO_ANSWER);
}
