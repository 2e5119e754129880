// Descriptor I/O shared by CFile and CStdioFile: the platform's file calls with their
// failures turned into CFileException with the file's name. Internal to the framework.
#pragma once
#include <cstddef>

#include "framework/afx.h"
#include "platform/file_io.h"

namespace afx_detail {

// Windows' error for a seek before the start of a file.
constexpr LONG kErrorNegativeSeek = static_cast<LONG>(platform::kErrorNegativeSeek);

// Throws the CFileException for a Windows error number.
[[noreturn]] void ThrowOsError(DWORD error, const CString& fileName);
// One read(2); 0 at the end of the file.
std::size_t ReadSome(int fd, void* buffer, std::size_t count, const CString& fileName);
// Writes everything or throws; a device that takes no more is a full disk.
void WriteAll(int fd, const void* buffer, std::size_t count, const CString& fileName);
// Moves the descriptor to an absolute position.
void SeekTo(int fd, ULONGLONG position, const CString& fileName);
ULONGLONG LengthOf(int fd, const CString& fileName);

}  // namespace afx_detail
