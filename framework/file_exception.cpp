// CFileException: causes, the framework's standard texts for them, and the mapping
// from Windows error numbers to causes.
#include <iterator>

#include "framework/afx.h"

IMPLEMENT_DYNAMIC(CFileException, CException)

namespace {

// Cause, standard text; %1 stands for the file name.
struct CauseText {
  int cause;
  const char* text;
};
constexpr CauseText kCauseTexts[] = {
    {CFileException::none, "An unknown error occurred while accessing %1."},
    {CFileException::genericException, "An unknown error occurred while accessing %1."},
    {CFileException::fileNotFound, "%1 was not found."},
    {CFileException::badPath, "%1 contains an invalid path."},
    {CFileException::tooManyOpenFiles,
     "%1 could not be opened because there are too many open files."},
    {CFileException::accessDenied, "Access to %1 was denied."},
    {CFileException::invalidFile, "An incorrect file handle was associated with %1."},
    {CFileException::removeCurrentDir,
     "%1 could not be removed because it is the current directory."},
    {CFileException::directoryFull, "%1 could not be created because the directory is full."},
    {CFileException::badSeek, "Seek failed on %1"},
    {CFileException::hardIO, "A hardware I/O error was reported while accessing %1."},
    {CFileException::sharingViolation, "A sharing violation occurred while accessing %1."},
    {CFileException::lockViolation, "A locking violation occurred while accessing %1."},
    {CFileException::diskFull, "Disk full while accessing %1."},
    {CFileException::endOfFile, "An attempt was made to access %1 past its end."},
};
constexpr const char kUnnamedFile[] = "an unnamed file";

// Windows error number, cause. Numbers not listed are generic failures.
struct OsErrorCause {
  LONG osError;
  int cause;
};
constexpr OsErrorCause kOsErrorCauses[] = {
    {2, CFileException::fileNotFound},       // ERROR_FILE_NOT_FOUND
    {3, CFileException::badPath},            // ERROR_PATH_NOT_FOUND
    {4, CFileException::tooManyOpenFiles},   // ERROR_TOO_MANY_OPEN_FILES
    {5, CFileException::accessDenied},       // ERROR_ACCESS_DENIED
    {6, CFileException::invalidFile},        // ERROR_INVALID_HANDLE
    {15, CFileException::badPath},           // ERROR_INVALID_DRIVE
    {16, CFileException::removeCurrentDir},  // ERROR_CURRENT_DIRECTORY
    {18, CFileException::directoryFull},     // ERROR_NO_MORE_FILES
    {19, CFileException::accessDenied},      // ERROR_WRITE_PROTECT
    {20, CFileException::hardIO},            // ERROR_BAD_UNIT
    {21, CFileException::hardIO},            // ERROR_NOT_READY
    {22, CFileException::hardIO},            // ERROR_BAD_COMMAND
    {23, CFileException::hardIO},            // ERROR_CRC
    {24, CFileException::hardIO},            // ERROR_BAD_LENGTH
    {25, CFileException::badSeek},           // ERROR_SEEK
    {26, CFileException::hardIO},            // ERROR_NOT_DOS_DISK
    {27, CFileException::hardIO},            // ERROR_SECTOR_NOT_FOUND
    {29, CFileException::hardIO},            // ERROR_WRITE_FAULT
    {30, CFileException::hardIO},            // ERROR_READ_FAULT
    {31, CFileException::hardIO},            // ERROR_GEN_FAILURE
    {32, CFileException::sharingViolation},  // ERROR_SHARING_VIOLATION
    {33, CFileException::lockViolation},     // ERROR_LOCK_VIOLATION
    {36, CFileException::tooManyOpenFiles},  // ERROR_SHARING_BUFFER_EXCEEDED
    {38, CFileException::endOfFile},         // ERROR_HANDLE_EOF
    {39, CFileException::diskFull},          // ERROR_HANDLE_DISK_FULL
    {80, CFileException::accessDenied},      // ERROR_FILE_EXISTS
    {82, CFileException::accessDenied},      // ERROR_CANNOT_MAKE
    {112, CFileException::diskFull},         // ERROR_DISK_FULL
    {123, CFileException::badPath},          // ERROR_INVALID_NAME
    {131, CFileException::badSeek},          // ERROR_NEGATIVE_SEEK
    {132, CFileException::badSeek},          // ERROR_SEEK_ON_DEVICE
    {161, CFileException::badPath},          // ERROR_BAD_PATHNAME
    {206, CFileException::badPath},          // ERROR_FILENAME_EXCED_RANGE
    {1921, CFileException::badPath},         // ERROR_CANT_RESOLVE_FILENAME
};

const char* TextFor(int cause) {
  for (const auto& row : kCauseTexts) {
    if (row.cause == cause) return row.text;
  }
  return kCauseTexts[0].text;
}

// Fills each %1 with the name.
std::string Fill(const char* pattern, const char* name) {
  std::string out;
  for (const char* p = pattern; *p; ++p) {
    if (p[0] == '%' && p[1] == '1') {
      out += name;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

CFileException::CFileException(int cause, LONG osError, LPCTSTR fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}

BOOL CFileException::GetErrorMessage(LPTSTR error, UINT maxError, PUINT /*helpContext*/) {
  const char* name = m_strFileName.IsEmpty() ? kUnnamedFile : m_strFileName.GetString();
  AfxCopyTruncated(error, Fill(TextFor(m_cause), name).c_str(), maxError);
  return TRUE;
}

int CFileException::OsErrorToException(LONG osError) {
  for (const auto& row : kOsErrorCauses) {
    if (row.osError == osError) return row.cause;
  }
  return genericException;
}

void CFileException::ThrowOsError(LONG osError, LPCTSTR fileName) {
  // Callers use this on a failure path; an error number of 0 must not let the failure
  // pass as a success, so it throws a generic failure too.
  AfxThrowFileException(OsErrorToException(osError), osError, fileName);
}

void AfxThrowFileException(int cause, LONG osError, LPCTSTR fileName) {
  throw new CFileException(cause, osError, fileName);
}
