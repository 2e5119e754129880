#include "models/srecord_file.h"

IMPLEMENT_DYNAMIC(CSRecordFile, CStdioFile)

namespace {
// The check looks at this many record headers; the last of them only as a header.
constexpr int CHECK_RECORDS = 6;
}  // namespace

CSRecordFile::CSRecordFile(LPCTSTR path) : m_strPath(path) {}

CSRecordFile::~CSRecordFile() = default;  // the base closes the file

void CSRecordFile::OpenAndCheck() {
  if (IsOpen()) Abort();
  m_dwLength = 0;
  CFileException openError;
  if (!Open(m_strPath, CFile::modeRead | CFile::shareDenyWrite | CFile::typeText, &openError))
    throw new CFileException(openError.m_cause, openError.m_lOsError, openError.m_strFileName);
  if (!CheckFormat()) throw new CFileException(CFileException::invalidFile, -1, nullptr);
  m_dwLength = static_cast<DWORD>(GetLength());
  SeekToBegin();
}

// Reads characters through the text stream, so a CR LF pair is one line-end character,
// and steps over each line's fields by its count without reading them: a line among the
// first five whose length differs from its count puts the next header out of place.
bool CSRecordFile::CheckFormat() {
  int records = 0;
  for (;;) {
    char header[2];
    if (Read(header, 2) != 2) return false;
    if (header[0] != 'S' || header[1] < '0' || header[1] > '9') return false;
    if (records == CHECK_RECORDS - 1) return true;
    ++records;

    char countField[2];
    if (Read(countField, 2) != 2) return false;
    const int count = SRecordHexByte(countField);
    if (count < 0) return false;
    // The skipped fields hold no CR, so bytes and text characters agree here.
    Seek(2 * static_cast<LONGLONG>(count), CFile::current);

    char lineEnd;
    if (Read(&lineEnd, 1) != 1) return false;
  }
}

BOOL CSRecordFile::ReadNextRecord(SRecordLine& line, BYTE& type) {
  while (ReadString(m_strLineBuffer)) {
    const SRecordResult result =
        DecodeSRecordLine(m_strLineBuffer.GetString(),
                          static_cast<std::size_t>(m_strLineBuffer.GetLength()), line, type);
    if (result == SRecordResult::skip) continue;
    return result == SRecordResult::record;
  }
  return FALSE;
}

SRecordFault CSRecordFile::CheckAllRecords(DWORD flashStart, DWORD flashEnd) {
  SeekToBegin();
  CSRecordChecker checker(flashStart, flashEnd);
  while (ReadString(m_strLineBuffer)) {
    if (!checker.CheckLine(m_strLineBuffer.GetString(),
                           static_cast<std::size_t>(m_strLineBuffer.GetLength())))
      break;
  }
  checker.Finish();
  SeekToBegin();
  return checker.Fault();
}
