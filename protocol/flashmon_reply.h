// Reads one flash-monitor reply from the port, a byte at a time, through the reply
// reader's state machine.
#pragma once
#include "protocol/flashmon_reply_reader.h"

class CSerialCom;

class CFlashMonReply {
 public:
  explicit CFlashMonReply(BYTE expectedCommand) : m_reader(expectedCommand) {}

  // Reads until a whole frame for the expected command arrived (TRUE) or a byte read
  // timed out (FALSE, nothing kept). Drops the data of an earlier read first, so one
  // reply object serves every attempt of a command.
  BOOL Read(CSerialCom& port);

  WORD GetDataLength() const { return m_reader.GetDataLength(); }
  const BYTE* GetData() const { return m_reader.GetData(); }
  // The first data byte, for the status replies; FALSE when the reply has no data.
  BOOL GetFirstByte(BYTE& value) const;

 private:
  CFlashMonReplyReader m_reader;
};
