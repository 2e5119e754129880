// A Motorola S-record firmware file: opened with a quick format check, then read one
// decoded record at a time. Programming and the identification-word search are members
// too, but live in their own files (srecord_program.cpp, srecord_find.cpp).
#pragma once
#include "framework/afx.h"
#include "models/srecord_checker.h"
#include "models/srecord_decode.h"

class CDevice;
class CFlashMonLink;

class CSRecordFile : public CStdioFile {
  DECLARE_DYNAMIC(CSRecordFile)
 public:
  explicit CSRecordFile(LPCTSTR path);
  ~CSRecordFile() override;

  // Opens the file read-only in text mode, denying writers, checks that it starts with
  // six S-record lines, records the length and rewinds. Throws CFileException: the
  // open's own cause, or invalidFile when the check fails.
  void OpenAndCheck();

  // Decodes the next record, skipping lines that are not records. FALSE at the end of
  // the file or at a record type that ends the reading. Throws CFlashMonException 415
  // (checksum) or 416 (malformed record).
  BOOL ReadNextRecord(SRecordLine& line, BYTE& type);

  // Reads every line from the start with CSRecordChecker's rules, data records inside
  // [flashStart, flashEnd), and returns to the start. The lines are the ones
  // ReadNextRecord reads, so a file that passes is programmed exactly as checked. A
  // file failure (a read error) is thrown as CFileException.
  SRecordFault CheckAllRecords(DWORD flashStart, DWORD flashEnd);

  // The four bytes the file places at the device's identification-word address.
  BOOL FindImageWord(DWORD& word, CDevice& device);
  // Streams the file's type-3 records into program commands.
  void ProgramImage(DWORD commandCode, CFlashMonLink& link);

  CString m_strPath;
  // File length in bytes; 0 until OpenAndCheck succeeds.
  DWORD m_dwLength = 0;

 private:
  bool CheckFormat();
  CString m_strLineBuffer;  // reused so that reading a large file does not allocate per line
};
