// CStdioFile: CFile with its own buffer. Reading is built for long S-record files:
// lines are found with memchr over a large buffer, not character by character.
//
// Buffer states (writing_ tells which):
//   reading: buf_[bufPos_, bufLen_) is unread file data starting at file offset
//            bufStart_ + bufPos_; the descriptor stands at bufStart_ + bufLen_.
//   writing: buf_[0, bufLen_) waits to be written at file offset bufStart_, where the
//            descriptor stands.
// Text mode folds a CR LF pair into '\n' when reading. Writing never adds CRs: files
// written here are Linux text files, and '\n' goes out as it is.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "framework/fd_io.h"

IMPLEMENT_DYNAMIC(CStdioFile, CFile)

namespace {

constexpr size_t kBufferSize = 64 * 1024;

void CheckOpen(const CFile& file) {
  if (!file.IsOpen()) {
    AfxThrowFileException(CFileException::invalidFile, static_cast<LONG>(ERROR_INVALID_HANDLE),
                          file.GetFilePath());
  }
}

}  // namespace

CStdioFile::CStdioFile() = default;

CStdioFile::CStdioFile(LPCTSTR fileName, UINT openFlags) {
  CFileException error;
  if (!Open(fileName, openFlags, &error)) {
    AfxThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
  }
}

CStdioFile::~CStdioFile() {
  // Last chance for buffered writes; a failure here cannot be reported. Close() reports.
  if (IsOpen()) FlushWrites(false);
}

BOOL CStdioFile::Open(LPCTSTR fileName, UINT openFlags, CFileException* error) {
  if (IsOpen()) Abort();
  if (!CFile::Open(fileName, openFlags, error)) return FALSE;
  // Text mode unless binary is asked for, as the C runtime's default mode has it.
  text_ = (openFlags & typeBinary) == 0;
  if (buf_.size() != kBufferSize) buf_.assign(kBufferSize, '\0');
  bufPos_ = bufLen_ = 0;
  bufStart_ = 0;
  writing_ = false;
  return TRUE;
}

bool CStdioFile::FillBuffer() {
  // Unread bytes (at most a CR waiting for its partner) move to the front so that a
  // CR LF pair split by the refill is still seen as one.
  const size_t keep = bufLen_ - bufPos_;
  if (bufPos_ > 0) {
    if (keep) std::memmove(buf_.data(), buf_.data() + bufPos_, keep);
    bufStart_ += bufPos_;
    bufPos_ = 0;
    bufLen_ = keep;
  }
  const size_t n =
      afx_detail::ReadSome(m_hFile, buf_.data() + bufLen_, buf_.size() - bufLen_, m_strFileName);
  bufLen_ += n;
  return n > 0;
}

void CStdioFile::DropReadBuffer() {
  if (writing_) return;
  if (bufPos_ != bufLen_) afx_detail::SeekTo(m_hFile, bufStart_ + bufPos_, m_strFileName);
  bufStart_ += bufPos_;
  bufPos_ = bufLen_ = 0;
}

bool CStdioFile::FlushWrites(bool throwOnError) {
  if (!writing_ || bufLen_ == 0) return true;
  try {
    afx_detail::WriteAll(m_hFile, buf_.data(), bufLen_, m_strFileName);
    bufStart_ += bufLen_;
    bufPos_ = bufLen_ = 0;
    return true;
  } catch (CFileException* failure) {
    // Part of the data may be out; take the position from the descriptor so that the
    // file and the object agree again, and drop what could not be written.
    std::uint64_t at = 0;
    if (platform::FileSeek(m_hFile, 0, platform::FileOrigin::kCurrent, at) == ERROR_SUCCESS) {
      bufStart_ = static_cast<ULONGLONG>(at);
    }
    bufPos_ = bufLen_ = 0;
    if (throwOnError) throw;
    failure->Delete();
    return false;
  }
}

UINT CStdioFile::Read(void* buffer, UINT count) {
  CheckOpen(*this);
  FlushWrites(true);
  writing_ = false;
  auto out = static_cast<char*>(buffer);
  UINT done = 0;
  while (done < count) {
    if (bufPos_ == bufLen_ && !FillBuffer()) break;
    const char* p = buf_.data() + bufPos_;
    const size_t want = std::min<size_t>(bufLen_ - bufPos_, count - done);
    const void* cr = text_ ? std::memchr(p, '\r', want) : nullptr;
    const size_t run = cr ? static_cast<size_t>(static_cast<const char*>(cr) - p) : want;
    std::memcpy(out + done, p, run);
    done += static_cast<UINT>(run);
    bufPos_ += run;
    if (!cr) continue;
    // At a CR in text mode: it needs the next byte, which may still be in the file.
    if (bufPos_ + 1 == bufLen_) FillBuffer();
    if (bufPos_ + 1 < bufLen_ && buf_[bufPos_ + 1] == '\n') {
      out[done++] = '\n';
      bufPos_ += 2;
    } else {
      out[done++] = '\r';
      bufPos_ += 1;
    }
  }
  return done;
}

BOOL CStdioFile::ReadString(CString& line) {
  CheckOpen(*this);
  FlushWrites(true);
  writing_ = false;
  line.Empty();
  int length = 0;
  bool readAny = false;
  for (;;) {
    if (bufPos_ == bufLen_ && !FillBuffer()) break;
    readAny = true;
    const char* p = buf_.data() + bufPos_;
    const size_t avail = bufLen_ - bufPos_;
    const void* nl = std::memchr(p, '\n', avail);
    const size_t run = nl ? static_cast<size_t>(static_cast<const char*>(nl) - p) : avail;
    // Lines are appended piecewise: a line may span buffer refills, and its CR may end
    // one piece while its LF starts the next.
    std::memcpy(line.GetBuffer(length + static_cast<int>(run)) + length, p, run);
    length += static_cast<int>(run);
    line.ReleaseBuffer(length);
    bufPos_ += run;
    if (nl) {
      ++bufPos_;
      if (text_ && length > 0 && line[length - 1] == '\r') line.ReleaseBuffer(--length);
      return TRUE;
    }
  }
  return readAny ? TRUE : FALSE;
}

void CStdioFile::Write(const void* buffer, UINT count) {
  CheckOpen(*this);
  if (count == 0) return;
  if (!writing_) {
    DropReadBuffer();
    writing_ = true;
  }
  if (bufLen_ + count > buf_.size()) FlushWrites(true);
  if (count >= buf_.size()) {
    afx_detail::WriteAll(m_hFile, buffer, count, m_strFileName);
    bufStart_ += count;
    return;
  }
  std::memcpy(buf_.data() + bufLen_, buffer, count);
  bufLen_ += count;
  bufPos_ = bufLen_;
}

void CStdioFile::WriteString(LPCTSTR text) {
  if (!text) return;
  Write(text, static_cast<UINT>(std::strlen(text)));
}

ULONGLONG CStdioFile::Seek(LONGLONG offset, UINT from) {
  CheckOpen(*this);
  FlushWrites(true);
  writing_ = false;
  LONGLONG base;
  switch (from) {
    case begin:
      base = 0;
      break;
    case current:
      base = static_cast<LONGLONG>(bufStart_ + bufPos_);
      break;
    case end:
      base = static_cast<LONGLONG>(afx_detail::LengthOf(m_hFile, m_strFileName));
      break;
    default:
      AfxThrowFileException(CFileException::badSeek, afx_detail::kErrorNegativeSeek, m_strFileName);
  }
  const bool overflow = offset > 0 && base > INT64_MAX - offset;
  const LONGLONG target = base + offset;
  if (overflow || target < 0) {
    AfxThrowFileException(CFileException::badSeek, afx_detail::kErrorNegativeSeek, m_strFileName);
  }
  const auto position = static_cast<ULONGLONG>(target);
  // Within the data already read the buffer stays; a seek elsewhere drops it.
  if (position >= bufStart_ && position <= bufStart_ + bufLen_) {
    bufPos_ = static_cast<size_t>(position - bufStart_);
    return position;
  }
  afx_detail::SeekTo(m_hFile, position, m_strFileName);
  bufStart_ = position;
  bufPos_ = bufLen_ = 0;
  return position;
}

ULONGLONG CStdioFile::GetPosition() const {
  CheckOpen(*this);
  return bufStart_ + (writing_ ? bufLen_ : bufPos_);
}

ULONGLONG CStdioFile::GetLength() const {
  CheckOpen(*this);
  const ULONGLONG onDisk = afx_detail::LengthOf(m_hFile, m_strFileName);
  return writing_ ? std::max(onDisk, bufStart_ + bufLen_) : onDisk;
}

void CStdioFile::Flush() {
  if (!IsOpen()) return;
  // Like the C runtime's fflush: hands the data to the system, no disk synchronisation.
  FlushWrites(true);
}

void CStdioFile::Close() {
  if (!IsOpen()) return;
  try {
    FlushWrites(true);
  } catch (CFileException*) {
    CFile::Abort();
    bufPos_ = bufLen_ = 0;
    throw;
  }
  bufPos_ = bufLen_ = 0;
  bufStart_ = 0;
  writing_ = false;
  CFile::Close();
}

void CStdioFile::Abort() {
  if (!IsOpen()) return;
  FlushWrites(false);
  bufPos_ = bufLen_ = 0;
  bufStart_ = 0;
  writing_ = false;
  CFile::Abort();
}
