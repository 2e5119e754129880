// The link to the flash monitor that runs in the device's RAM once uploaded: one
// request and one reply per exchange, with each command's retries and time limits.
// Failures are CFlashMonException codes 401 to 414; a cancel from the user passes
// through as CUserException.
#pragma once
#include "framework/plugin_abi.h"
#include "platform/winbase.h"

class CSerialCom;
class CSectorList;
class CMemBlock;
class CConfigRecordSink;
class CFlashMonRequest;
class CFlashMonReply;

class CFlashMonLink {
 public:
  CFlashMonLink(CSerialCom& port, RunRecord& record) : m_port(port), m_record(record) {}
  CFlashMonLink(const CFlashMonLink&) = delete;
  CFlashMonLink& operator=(const CFlashMonLink&) = delete;

  // Two attempts; TRUE when any reply with the same code came back.
  BOOL Ping(DWORD commandCode);
  // Sends the erase, then polls the status once a second; throws 401, 402 or 403.
  void EraseSectors(CSectorList& sectors, DWORD eraseCode, DWORD statusCode);
  // Returns once the monitor accepted the block; throws 405 on a refusal. Without an
  // answer it retries once a second until the user cancels.
  void ProgramBlock(const CMemBlock& block, DWORD commandCode);
  // Throws 406 without an answer.
  void Reboot(DWORD commandCode);
  // Fills the block's own buffer; throws 407 (no answer) or 408 (wrong length).
  void ReadMemory(CMemBlock& block, DWORD commandCode);
  // After a command that was sent again: waits out and drops a reply to an earlier try.
  // Replies carry no address, so a late one would be taken for the next command's.
  void DiscardLateReplies();
  // Decodes the reply into `config`; throws 411 unless it arrived, has the record's
  // size and the record accepts it.
  void ReadConfiguration(CConfigRecordSink& config, DWORD commandCode);
  // Waits `waitSeconds` after the request; the first data byte must be 1. Throws 412
  // (refused) or 413 (two attempts without a reply).
  void RunStatusCommand(DWORD commandCode, DWORD waitSeconds);
  // Throws 414 without an answer.
  void EraseFileSystem(DWORD commandCode);

  CSerialCom& GetPort() { return m_port; }
  RunRecord& GetRunRecord() { return m_record; }

 private:
  // One port write of the whole frame. A write failure is shown to the user and
  // absorbed: the reply read that follows finds nothing.
  BOOL Send(const CFlashMonRequest& request);
  BOOL Exchange(const CFlashMonRequest& request, CFlashMonReply& reply);

  CSerialCom& m_port;
  RunRecord& m_record;
};
