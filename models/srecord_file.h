// A Motorola S-record firmware file: opened with a quick format check, then read one
// decoded record at a time. A run keeps the file's content once it has read it, so that
// what it checked is what it programs, whatever happens to the file on disk meanwhile.
#pragma once
#include <string>

#include "framework/afx.h"
#include "models/srecord_checker.h"
#include "models/srecord_decode.h"

class CSRecordFile : public CStdioFile {
  DECLARE_DYNAMIC(CSRecordFile)
 public:
  explicit CSRecordFile(LPCTSTR path);
  ~CSRecordFile() override;

  // Opens the file read-only in text mode, denying writers, checks that it starts with
  // six S-record lines, records the length and rewinds. Throws CFileException: the
  // open's own cause, or invalidFile when the check fails. Drops a kept content.
  void OpenAndCheck();

  // After OpenAndCheck: reads the whole file into memory and serves every later read
  // from that copy, rewound to the start. The file stays open, and its open's share
  // lock with it, until the object goes: the catalogue does not delete or replace a file
  // that is held so. Throws CFileException for a read error.
  void KeepContent();
  bool IsContentKept() const { return m_bKept; }
  // With the content kept: whether the file the path names now holds exactly that
  // content. FALSE when it was written, replaced, removed or cannot be read.
  BOOL IsUnchangedOnDisk() const;

  // Decodes the next record, skipping lines that are not records. FALSE at the end of
  // the file or at a record type that ends the reading. Throws CFlashMonException 415
  // (checksum) or 416 (malformed record).
  BOOL ReadNextRecord(SRecordLine& line, BYTE& type);

  // Reads every line from the start with CSRecordChecker's rules, data records inside
  // [flashStart, flashEnd), and returns to the start. The lines are the ones
  // ReadNextRecord reads, so a file that passes is programmed exactly as checked. A
  // file failure (a read error) is thrown as CFileException.
  SRecordFault CheckAllRecords(DWORD flashStart, DWORD flashEnd);

  // The text-file services, served from the kept content once there is one (a CR LF
  // pair reads as one line end there too, and positions are bytes of the file).
  UINT Read(void* buffer, UINT count) override;
  BOOL ReadString(CString& line) override;
  ULONGLONG Seek(LONGLONG offset, UINT from) override;
  ULONGLONG GetPosition() const override;
  ULONGLONG GetLength() const override;
  void Close() override;
  void Abort() override;

  CString m_strPath;
  // File length in bytes; 0 until OpenAndCheck succeeds.
  DWORD m_dwLength = 0;

 private:
  bool CheckFormat();
  void DropContent();
  CString m_strLineBuffer;  // reused so that reading a large file does not allocate per line
  bool m_bKept = false;
  std::string m_content;
  std::size_t m_nPos = 0;  // next unread byte of m_content
};
