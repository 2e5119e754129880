// What a configuration read fills: the record's size and its decoder. The flash-monitor
// link sits below the models, so it sees the configuration record only through this.
#pragma once
#include "platform/winbase.h"

class CConfigRecordSink {
 public:
  virtual ~CConfigRecordSink() = default;
  virtual DWORD GetSize() const = 0;
  // Takes a record as the device sends it; FALSE when it is refused.
  virtual BOOL Decode(const BYTE* data, DWORD length) = 0;
};
