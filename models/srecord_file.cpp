#include "models/srecord_file.h"

#include <cstring>

#include "platform/file_io.h"
#include "platform/files.h"

IMPLEMENT_DYNAMIC(CSRecordFile, CStdioFile)

namespace {
// The check looks at this many record headers; the last of them only as a header.
constexpr int CHECK_RECORDS = 6;
constexpr std::size_t kReadChunk = 64 * 1024;

// The whole file behind `fd` from its start, or an error number.
DWORD ReadAll(int fd, std::string& out) {
  out.clear();
  std::uint64_t at = 0;
  if (const DWORD error = platform::FileSeek(fd, 0, platform::FileOrigin::kBegin, at)) return error;
  std::string chunk(kReadChunk, '\0');
  for (;;) {
    std::size_t got = 0;
    if (const DWORD error = platform::FileReadSome(fd, chunk.data(), chunk.size(), got))
      return error;
    if (got == 0) return ERROR_SUCCESS;
    out.append(chunk.data(), got);
  }
}

}  // namespace

CSRecordFile::CSRecordFile(LPCTSTR path) : m_strPath(path) {}

CSRecordFile::~CSRecordFile() = default;  // the base closes the file

void CSRecordFile::DropContent() {
  m_bKept = false;
  std::string().swap(m_content);
  m_nPos = 0;
}

void CSRecordFile::OpenAndCheck() {
  DropContent();
  if (IsOpen()) Abort();
  m_dwLength = 0;
  CFileException openError;
  if (!Open(m_strPath, CFile::modeRead | CFile::shareDenyWrite | CFile::typeText, &openError))
    throw new CFileException(openError.m_cause, openError.m_lOsError, openError.m_strFileName);
  if (!CheckFormat()) throw new CFileException(CFileException::invalidFile, -1, nullptr);
  m_dwLength = static_cast<DWORD>(GetLength());
  SeekToBegin();
}

void CSRecordFile::KeepContent() {
  if (!IsOpen())
    AfxThrowFileException(CFileException::invalidFile, static_cast<LONG>(ERROR_INVALID_HANDLE),
                          m_strPath);
  std::string content;
  if (const DWORD error = ReadAll(m_hFile, content))
    CFileException::ThrowOsError(static_cast<LONG>(error), m_strPath);
  m_content.swap(content);
  m_bKept = true;
  m_nPos = 0;
  m_dwLength = static_cast<DWORD>(m_content.size());
}

BOOL CSRecordFile::IsUnchangedOnDisk() const {
  if (!m_bKept) return FALSE;
  // Read afresh by the path, without a lock: a writer that holds the file must not keep
  // the question from being answered.
  int fd = -1;
  if (platform::FileOpen(platform::ToNativePath(m_strPath.str()), platform::FileAccess::kRead,
                         false, fd) != ERROR_SUCCESS)
    return FALSE;
  std::string now;
  const DWORD error = ReadAll(fd, now);
  platform::FileClose(fd);
  return error == ERROR_SUCCESS && now == m_content;
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

// --- Reading the kept content, as the text-mode file reads -------------------------------

UINT CSRecordFile::Read(void* buffer, UINT count) {
  if (!m_bKept) return CStdioFile::Read(buffer, count);
  auto out = static_cast<char*>(buffer);
  UINT done = 0;
  const std::size_t size = m_content.size();
  while (done < count && m_nPos < size) {
    const char c = m_content[m_nPos];
    if (c == '\r' && m_nPos + 1 < size && m_content[m_nPos + 1] == '\n') {
      out[done++] = '\n';
      m_nPos += 2;
    } else {
      out[done++] = c;
      ++m_nPos;
    }
  }
  return done;
}

BOOL CSRecordFile::ReadString(CString& line) {
  if (!m_bKept) return CStdioFile::ReadString(line);
  line.Empty();
  const std::size_t size = m_content.size();
  if (m_nPos >= size) return FALSE;
  const char* start = m_content.data() + m_nPos;
  const void* nl = std::memchr(start, '\n', size - m_nPos);
  std::size_t length =
      nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - start) : size - m_nPos;
  m_nPos += length + (nl ? 1 : 0);
  // As the text file: a CR is dropped only before the LF that ends the line.
  if (nl && length > 0 && start[length - 1] == '\r') --length;
  const int n = static_cast<int>(length);
  std::memcpy(line.GetBuffer(n), start, length);
  line.ReleaseBuffer(n);
  return TRUE;
}

ULONGLONG CSRecordFile::Seek(LONGLONG offset, UINT from) {
  if (!m_bKept) return CStdioFile::Seek(offset, from);
  LONGLONG base = 0;
  if (from == CFile::current) base = static_cast<LONGLONG>(m_nPos);
  if (from == CFile::end) base = static_cast<LONGLONG>(m_content.size());
  const LONGLONG target = base + offset;
  if (target < 0 || from > CFile::end)
    AfxThrowFileException(CFileException::badSeek, static_cast<LONG>(platform::kErrorNegativeSeek),
                          m_strPath);
  // Beyond the end reads nothing, as a file does.
  m_nPos = static_cast<std::size_t>(target);
  return static_cast<ULONGLONG>(target);
}

ULONGLONG CSRecordFile::GetPosition() const {
  return m_bKept ? static_cast<ULONGLONG>(m_nPos) : CStdioFile::GetPosition();
}

ULONGLONG CSRecordFile::GetLength() const {
  return m_bKept ? static_cast<ULONGLONG>(m_content.size()) : CStdioFile::GetLength();
}

void CSRecordFile::Close() {
  DropContent();
  CStdioFile::Close();
}

void CSRecordFile::Abort() {
  DropContent();
  CStdioFile::Abort();
}
