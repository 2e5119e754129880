// Output files: what each kind of name is called and how it is written. The systems'
// halves (posix/, win32/) say what a name is and do the writing.
#include "platform/output_file.h"

#include "platform/output_file_backend.h"

namespace platform {

const char* OutputKindText(OutputKind kind) {
  switch (kind) {
    case OutputKind::kMissing:
      return "a new file";
    case OutputKind::kRegular:
      return "a file";
    case OutputKind::kCharDevice:
      return "a character device";
    case OutputKind::kDirectory:
      return "a directory";
    case OutputKind::kFifo:
      return "a FIFO (named pipe)";
    case OutputKind::kOther:
      return "neither a file nor a character device";
  }
  return "?";
}

DWORD WriteOutputFile(const std::string& path, const std::string& data) {
  switch (KindOfOutput(path)) {
    case OutputKind::kMissing:
    case OutputKind::kRegular:
      return WriteReplacing(path, data);
    case OutputKind::kCharDevice:
      return WriteInPlace(path, data);
    default:
      return kErrorNotAFile;
  }
}

DWORD CheckStillReplaceable(const std::string& path) {
  // The name may have become something else while the new content was written; only a
  // file (or still nothing) is replaced.
  const OutputKind now = KindOfOutput(path);
  return now == OutputKind::kMissing || now == OutputKind::kRegular ? ERROR_SUCCESS
                                                                    : kErrorNotAFile;
}

}  // namespace platform
