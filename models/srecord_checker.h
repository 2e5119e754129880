// The whole-file check of a firmware file, run before anything is sent to the device:
// every line must be a well-formed record, every data byte must land inside the program
// flash, and the file must show itself whole where it can (an end record, or a count
// record after its data). The reader alone skips what
// it does not understand, stops at odd record types and finds a bad checksum only while
// programming, after the erase; this check refuses such a file while the device is
// still untouched.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/afx.h"

// What the check found. `code` is 0 for a file that may be programmed, else the
// flash-monitor failure that refuses it: 415 for a checksum, 416 for anything else.
struct SRecordFault {
  int code = 0;
  long line = 0;   // 1-based line of the fault; for a missing end record the last line
  CString detail;  // our own words on the fault, for the failure's text
  // The file passed, but has neither an end record nor a count record after its data:
  // whether it was cut short cannot be told.
  bool completenessUnknown = false;
};

// Fed the file's lines (line ends removed) in order. Rules, beyond those the record
// decoder holds on each line:
//   - a line is blank (empty, or spaces and tabs only), or a record: 'S', a type of 0-3,
//     5 or 7-9, a hexadecimal byte count, exactly that many hexadecimal bytes, the last
//     one the checksum;
//   - the count leaves room for the type's address (S5 and S7-S9 hold only the address);
//   - data records (S1-S3) lie inside [flashStart, flashEnd) and never give one byte
//     two different values;
//   - a count record (S5: 16 bits, S6: 24 bits) counts the data records before it;
//   - no data record follows an S6 (the reader stops there) or an end record (S7-S9);
//   - the file is whole: it has an end record, or a count record after its last data
//     record (tools that write no start address end the file so). A file with neither
//     passes with completenessUnknown set; one whose last count is followed by data is
//     refused as cut short;
//   - the very last line may be a single Ctrl-Z (0x1A), the end-of-file mark DOS tools
//     write, with nothing after it.
class CSRecordChecker {
 public:
  CSRecordChecker(DWORD flashStart, DWORD flashEnd);

  // FALSE when the line is refused; the fault then stays and later lines are ignored.
  BOOL CheckLine(const char* text, std::size_t size);
  // After the last line: FALSE when the file is refused (a fault or no end record).
  BOOL Finish();
  const SRecordFault& Fault() const { return m_fault; }

 private:
  BOOL Refuse(int code, const CString& detail);
  BOOL CheckData(DWORD address, const BYTE* data, std::size_t length);
  // Marks the bytes given and returns false, unless one of them was given before.
  bool MarkGiven(std::size_t from, std::size_t count);

  DWORD m_dwFlashStart;
  DWORD m_dwFlashEnd;
  long m_nLine = 0;
  long m_nEndLine = 0;      // line of the first end record; 0 before it
  long m_nEofMarkLine = 0;  // line of a closing Ctrl-Z; 0 while none
  long m_nStopLine = 0;     // line of the first S6; 0 before it
  long m_nLastDataLine = 0;
  long m_nLastCountLine = 0;
  std::uint32_t m_nDataRecords = 0;
  SRecordFault m_fault;
  // Program flash as the file fills it, and which of its bytes the file gives; made on
  // the first data record. A byte of the image counts only where its bit is set, so
  // the image itself is never cleared.
  std::unique_ptr<BYTE[]> m_image;
  std::vector<std::uint64_t> m_given;
};

// Throws CFlashMonException with the fault's code and detail, unless the file passed.
void ThrowIfRefused(const SRecordFault& fault);
